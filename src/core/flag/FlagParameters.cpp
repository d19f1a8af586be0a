#include "core/flag/FlagParameters.h"

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/Translatable.h"
#include "core/flag/XSinusUnit.h"

namespace zx {

TFlagDerived DeriveFlagValues(
    const FlagParameters& params, std::int32_t frameWidth, std::int32_t frameHeight)
{
    TFlagDerived derived;
    derived.FrameWidth = frameWidth;
    derived.FrameHeight = frameHeight;
    derived.FreqStep = params.Frequency;
    // Angle is whole degrees; 4096 phase units are a full turn.
    const std::int32_t angle = Div(MulWrap(params.Angle, 4096), 360);
    derived.FreqCos = FixedCos(angle, params.Frequency);
    derived.FreqSin = FixedSin(angle, params.Frequency);
    return derived;
}

std::uint16_t FramePhase(std::int32_t k, std::int32_t frames)
{
    if (frames <= 0)
        return 0;
    return static_cast<std::uint16_t>(Div(MulWrap(k, 4096), frames));
}

std::int32_t LoopCount(std::int32_t position)
{
    if (position >= 1 && position <= 50)
        return position;
    if (position >= 51 && position <= 95)
        return 10 * position - 450;
    if (position >= 96 && position <= 100)
        return 100 * position - 9000;
    return 0;
}

std::string LoopsCaption(std::int32_t position)
{
    const std::int32_t count = LoopCount(position);
    if (count == 0)
        return ZX_TR_NOOP("Settings", "循环：连续不断");
    return FormatMessage(ZX_TR_NOOP("Settings", "循环：%d"), count);
}

std::string BitsCaption(std::int32_t bits)
{
    const std::int32_t b = kGIFBitsRange.Clamp(bits);
    const std::string colours = FormatMessage(ZX_TR_NOOP("Settings", "颜色：%d (%d 位)"), 1 << b);
    return FormatMessage(colours.c_str(), b);
}

} // namespace zx
