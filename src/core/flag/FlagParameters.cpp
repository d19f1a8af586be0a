#include "core/flag/FlagParameters.h"

#include "core/IntMath.h"
#include "core/flag/XSinusUnit.h"

#include <array>

namespace zx {

namespace {

#define ZX_INT_FIELD(name, range)                                                                  \
    TFlagField                                                                                     \
    {                                                                                              \
#name, TFlagFieldKind::Integer, range, true,                                               \
            [](const FlagParameters& p) { return p.name; },                                        \
                [](FlagParameters & p, std::int32_t v) { p.name = v; }                             \
    }
#define ZX_BOOL_FIELD(name, defaultValue, stored)                                                  \
    TFlagField                                                                                     \
    {                                                                                              \
#name, TFlagFieldKind::Boolean,                                                            \
            TFlagRange { 0, 1, defaultValue }, stored,                                             \
                [](const FlagParameters& p) { return std::int32_t(p.name ? 1 : 0); },              \
                    [](FlagParameters & p, std::int32_t v) { p.name = v != 0; }                    \
    }

    // The settings store reads and writes the stored fields in this order.
    const std::array<TFlagField, 19> kFields = {
        ZX_INT_FIELD(Frames, kFramesRange),
        ZX_INT_FIELD(Distance, kDistanceRange),
        ZX_INT_FIELD(Amplitude, kAmplitudeRange),
        ZX_INT_FIELD(Frequency, kFrequencyRange),
        ZX_INT_FIELD(Angle, kAngleRange),
        ZX_INT_FIELD(BumpIntensity, kBumpIntensityRange),
        ZX_INT_FIELD(BumpFrequency, kBumpFrequencyRange),
        ZX_INT_FIELD(Brightness, kBrightnessRange),
        ZX_INT_FIELD(Contrast, kContrastRange),
        ZX_INT_FIELD(GIFDelay, kGIFDelayRange),
        ZX_INT_FIELD(GIFLoops, kGIFLoopsRange),
        ZX_INT_FIELD(GIFBits, kGIFBitsRange),
        ZX_INT_FIELD(Antialiasing, kAntialiasingRange),
        TFlagField { "BackgroundColor", TFlagFieldKind::Color, kColorRange, true,
            [](const FlagParameters& p) { return static_cast<std::int32_t>(p.BackgroundColor); },
            [](FlagParameters& p, std::int32_t v) {
                p.BackgroundColor = static_cast<std::uint32_t>(v);
            } },
        ZX_BOOL_FIELD(TransparentMode, 1, true),
        ZX_BOOL_FIELD(InvertLightMode, 0, true),
        ZX_INT_FIELD(SpotX, kSpotRange),
        ZX_INT_FIELD(SpotY, kSpotRange),
        ZX_BOOL_FIELD(Radial, 0, false),
    };

#undef ZX_INT_FIELD
#undef ZX_BOOL_FIELD

} // namespace

std::span<const TFlagField> FlagFields()
{
    return kFields;
}

const TFlagField* FindFlagField(const std::string& name)
{
    for (const auto& field : kFields) {
        if (name == field.Name)
            return &field;
    }
    return nullptr;
}

bool FlagParametersInRange(const FlagParameters& params)
{
    for (const auto& field : kFields) {
        if (field.Kind == TFlagFieldKind::Color) {
            if (params.BackgroundColor > 0xFFFFFFu)
                return false;
        } else if (!field.Range.Contains(field.Get(params))) {
            return false;
        }
    }
    return true;
}

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
        return "循环：连续不断";
    return "循环：" + std::to_string(count);
}

std::string BitsCaption(std::int32_t bits)
{
    const std::int32_t b = kGIFBitsRange.Clamp(bits);
    return "颜色：" + std::to_string(1 << b) + " (" + std::to_string(b) + " 位)";
}

} // namespace zx
