#include "core/controls/XColorChoiceComp.h"

#include "core/Errors.h"
#include "core/imaging/XDIBDraw.h"

#include <algorithm>

namespace zx {

namespace {

    constexpr std::int32_t kFull = 65535;
    constexpr std::int32_t kBlock = 8;

    // The step of an accumulator that runs from 0 to (about) span over
    // count pixels.
    std::int32_t Step(std::int32_t span, std::int32_t count)
    {
        return count > 1 ? span / (count - 1) : 0;
    }

    void Store(std::uint8_t* p, TColor color)
    {
        p[0] = BlueOf(color);
        p[1] = GreenOf(color);
        p[2] = RedOf(color);
        p[3] = 0;
    }

    // The chart colour at accumulator values a (along x) and b (along y).
    TColor ColorAt(TColorChoiceKind kind, std::int32_t a, std::int32_t b)
    {
        if (kind == ccHorizontal)
            return ChartColor(kFull - a, kFull - b);
        return ChartColor(kFull - b, a);
    }

} // namespace

TLightness LightnessRamp(std::int32_t lightness)
{
    lightness = std::clamp(lightness, 0, kFull);
    if (lightness < 32768)
        return { std::uint16_t(kFull), std::uint16_t(2 * lightness) };
    return { std::uint16_t(2 * (kFull - lightness)), std::uint16_t(kFull) };
}

TColor ChartColor(std::int32_t hue, std::int32_t lightness)
{
    const TLightness ramp = LightnessRamp(lightness);
    return HSBToColor(std::uint16_t(hue & 0xFFFF), ramp.Saturation, ramp.Brightness);
}

TColor ChartPick(
    TColorChoiceKind kind, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    // Each axis on its own: a chart one pixel high still picks across.
    const std::int32_t cx = width > 1 ? std::int32_t(std::int64_t(x) * kFull / (width - 1)) : 0;
    const std::int32_t cy = height > 1 ? std::int32_t(std::int64_t(y) * kFull / (height - 1)) : 0;
    return ColorAt(kind, cx, cy);
}

void PaintChart(TDIB& picture, TColorChoiceKind kind, bool blocks)
{
    if (picture.Empty())
        return;
    if (picture.BitCount() != 32)
        throw EInvalidGraphicOperation("像素格式无效");
    const std::int32_t width = picture.Width();
    const std::int32_t height = picture.Height();
    if (!blocks) {
        const std::int32_t stepX = Step(kFull, width);
        const std::int32_t stepY = Step(kFull, height);
        std::int32_t b = 0;
        for (std::int32_t y = 0; y < height; ++y, b += stepY) {
            std::uint8_t* p = picture.ScanLine(y);
            std::int32_t a = 0;
            for (std::int32_t x = 0; x < width; ++x, a += stepX, p += 4)
                Store(p, ColorAt(kind, a, b));
        }
        return;
    }
    // 524280 is 8 x 65535: the accumulators step once per block.
    const std::int32_t stepX = Step(kBlock * kFull, width);
    const std::int32_t stepY = Step(kBlock * kFull, height);
    std::int32_t b = 0;
    for (std::int32_t y = 0; y < height; y += kBlock, b += stepY) {
        std::int32_t a = 0;
        for (std::int32_t x = 0; x < width; x += kBlock, a += stepX)
            FillRect(picture, x, y, x + kBlock, y + kBlock, ColorAt(kind, a, b));
    }
}

TColor CaptionColor(TColor color)
{
    if (RedOf(color) > 160 || GreenOf(color) > 128 || BlueOf(color) > 224)
        return RGBToColor(0, 0, 0);
    return RGBToColor(255, 255, 255);
}

} // namespace zx
