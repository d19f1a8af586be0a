#pragma once

// The integer colour arithmetic behind the colour chooser and the colour
// dialog: packed colours, a hue/saturation/brightness triple in 16-bit fixed
// point, the pure-hue ramp, and the gamma tables through which the dialog shows
// its colour planes.
//
// A colour is 0x00BBGGRR (red in the low byte). A hue is 16 bits for a full
// turn: red at 0, green at 0x5555, blue at 0xAAAB. Saturation and brightness
// are full at 65280 (255 x 256); values up to 65535 are accepted and still give
// channels within 0..255.

#include <array>
#include <cstdint>

namespace zx {

using TColor = std::uint32_t;

struct THSBValues {
    std::uint16_t Hue = 0;
    std::uint16_t Saturation = 0;
    std::uint16_t Brightness = 0;

    friend bool operator==(const THSBValues&, const THSBValues&) = default;
};

// Full saturation and brightness as the dialog's edits count them.
inline constexpr std::int32_t kHSBFull = 65280;

constexpr TColor RGBToColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return TColor(red) | TColor(green) << 8 | TColor(blue) << 16;
}
constexpr std::uint8_t RedOf(TColor color)
{
    return std::uint8_t(color);
}
constexpr std::uint8_t GreenOf(TColor color)
{
    return std::uint8_t(color >> 8);
}
constexpr std::uint8_t BlueOf(TColor color)
{
    return std::uint8_t(color >> 16);
}

// The fully saturated, fully bright colour of a hue. Each channel rises over
// one sixth of its cycle, stays full for two sixths, falls over one sixth and
// stays off for the last two.
TColor HueToColor(std::uint16_t hue);

TColor HSBToColor(std::uint16_t hue, std::uint16_t saturation, std::uint16_t brightness);
inline TColor HSBToColor(const THSBValues& hsb)
{
    return HSBToColor(hsb.Hue, hsb.Saturation, hsb.Brightness);
}

// Greys have hue 0 and saturation 0. Saturation moves in steps of 256.
THSBValues ColorToHSB(TColor color);

// Rebuilds the three process-wide gamma tables; entry i becomes
// round(255 x (i / 255)^(1 / gamma)). When any gamma is not greater than 0 the
// tables stay as they are. At start-up all three are the identity.
void SetGamma(double red, double green, double blue);

// Each channel through its gamma table; the top byte is 0.
TColor GammaColor(TColor color);

// One of the tables as it stands (0 red, 1 green, 2 blue).
const std::array<std::uint8_t, 256>& GammaTable(int channel);

} // namespace zx
