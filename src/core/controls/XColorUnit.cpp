#include "core/controls/XColorUnit.h"

#include "core/IntMath.h"

#include <cmath>

namespace zx {

namespace {

    // Where each channel's cycle starts on the hue circle: red peaks around hue
    // 0, green around 0x5555 and blue around 0xAAAB.
    constexpr std::array<std::int32_t, 3> kHueOffsets { 0x5555, 0, 0xAAAB };
    constexpr std::array<std::int32_t, 3> kHueBases { 0, 0x5555, 0xAAAB };

    using TGammaTable = std::array<std::uint8_t, 256>;

    constexpr TGammaTable IdentityTable()
    {
        TGammaTable table {};
        for (int i = 0; i < 256; ++i)
            table[i] = static_cast<std::uint8_t>(i);
        return table;
    }

    // The tables live as long as the program; only the colour dialog changes
    // them, and only on the user-interface thread.
    std::array<TGammaTable, 3> g_gammaTables { IdentityTable(), IdentityTable(), IdentityTable() };

    std::int32_t HueChannel(std::int32_t t)
    {
        if (t < 0x2AAB)
            return Sar(t * 1530, 16);
        if (t < 0x8000)
            return 255;
        if (t < 0xAAAB)
            return Sar((43690 - t) * 1530, 16);
        return 0;
    }

    void BuildGammaTable(TGammaTable& table, double gamma)
    {
        table[0] = 0;
        for (int i = 1; i < 256; ++i) {
            const long double value
                = 255.0L * std::exp(std::log(static_cast<long double>(i) / 255.0L) / gamma);
            table[i] = static_cast<std::uint8_t>(RoundHalfEven(static_cast<double>(value)));
        }
    }

} // namespace

TColor HueToColor(std::uint16_t hue)
{
    std::array<std::int32_t, 3> c {};
    for (int i = 0; i < 3; ++i)
        c[i] = HueChannel((hue + kHueOffsets[i]) & 0xFFFF);
    return RGBToColor(std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]));
}

TColor HSBToColor(std::uint16_t hue, std::uint16_t saturation, std::uint16_t brightness)
{
    const TColor pure = HueToColor(hue);
    const std::int32_t s = saturation;
    const std::int32_t b = brightness;
    std::array<std::int32_t, 3> c { RedOf(pure), GreenOf(pure), BlueOf(pure) };
    for (std::int32_t& channel : c)
        channel = ((255 - ((255 - channel) * s) / kHSBFull) * b) / kHSBFull;
    return RGBToColor(std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]));
}

THSBValues ColorToHSB(TColor color)
{
    const std::array<std::int32_t, 3> c { RedOf(color), GreenOf(color), BlueOf(color) };
    if (c[0] == c[1] && c[1] == c[2])
        return { 0, 0, static_cast<std::uint16_t>(c[0] * 256) };

    // The tie rules decide which of two equal channels counts as the largest
    // or the smallest; they fix the hue of colours such as (255, 255, 0).
    int max = 0;
    int min = 0;
    if (c[1] <= c[0] && c[0] >= c[2]) {
        max = 0;
        min = c[1] <= c[2] ? 1 : 2;
    } else if (c[2] <= c[1]) {
        max = 1;
        min = c[2] >= c[0] ? 0 : 2;
    } else {
        max = 2;
        min = c[1] >= c[0] ? 0 : 1;
    }
    const int mid = 3 - max - min;

    const std::int32_t brightness = c[max] * 256;
    // c[min] < c[max] here, so the saturation is at least 256.
    const std::int32_t saturation = kHSBFull - 256 * ((c[min] * kHSBFull) / brightness);
    // 43 is about one sixth of a turn divided by 255.
    const std::int32_t d
        = ((((c[mid] - c[min]) * kHSBFull) / brightness) * kHSBFull / saturation) * 43;
    const std::int32_t hue = (max + 1) % 3 == mid ? kHueBases[max] + d : kHueBases[max] - d;
    return { static_cast<std::uint16_t>(hue & 0xFFFF), static_cast<std::uint16_t>(saturation),
        static_cast<std::uint16_t>(brightness) };
}

void SetGamma(double red, double green, double blue)
{
    // Written so that a NaN gamma is refused like a negative one.
    if (!(red > 0) || !(green > 0) || !(blue > 0))
        return;
    BuildGammaTable(g_gammaTables[0], red);
    BuildGammaTable(g_gammaTables[1], green);
    BuildGammaTable(g_gammaTables[2], blue);
}

TColor GammaColor(TColor color)
{
    return RGBToColor(g_gammaTables[0][RedOf(color)], g_gammaTables[1][GreenOf(color)],
        g_gammaTables[2][BlueOf(color)]);
}

const std::array<std::uint8_t, 256>& GammaTable(int channel)
{
    return g_gammaTables.at(static_cast<std::size_t>(channel));
}

} // namespace zx
