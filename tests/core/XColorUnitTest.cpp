#include "core/controls/XColorUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>

namespace zx {
namespace {

    struct TRGB {
        int Red, Green, Blue;
    };

    TRGB Channels(TColor color)
    {
        EXPECT_EQ(color >> 24, 0u) << std::hex << color;
        return { RedOf(color), GreenOf(color), BlueOf(color) };
    }

#define EXPECT_RGB(color, r, g, b)                                                                 \
    do {                                                                                           \
        const TRGB rgb_ = Channels(color);                                                         \
        EXPECT_EQ(rgb_.Red, r);                                                                    \
        EXPECT_EQ(rgb_.Green, g);                                                                  \
        EXPECT_EQ(rgb_.Blue, b);                                                                   \
    } while (false)

    TEST(XColorUnit, RGBToColorPutsRedInTheLowByte)
    {
        EXPECT_EQ(RGBToColor(0x12, 0x34, 0x56), 0x563412u);
        EXPECT_EQ(RGBToColor(255, 0, 0), 255u);
    }

    TEST(XColorUnit, HueRampHitsThePrimariesAndTheWorkedExample)
    {
        EXPECT_RGB(HueToColor(0), 255, 0, 0);
        EXPECT_RGB(HueToColor(0x5555), 0, 255, 0);
        EXPECT_RGB(HueToColor(0xAAAB), 0, 0, 255);
        // Red is just past the end of its plateau here.
        EXPECT_RGB(HueToColor(10923), 254, 255, 0);
        EXPECT_RGB(HueToColor(65535), 255, 0, 0);
    }

    TEST(XColorUnit, EveryHueIsFullySaturatedAndAlmostFullyBright)
    {
        // Where one channel leaves its plateau just before the next reaches
        // it, the brightest channel is 254 (as at hue 10923).
        int at254 = 0;
        for (int h = 0; h < 65536; ++h) {
            const TRGB c = Channels(HueToColor(static_cast<std::uint16_t>(h)));
            const int brightest = std::max({ c.Red, c.Green, c.Blue });
            ASSERT_GE(brightest, 254) << h;
            at254 += brightest == 254;
            ASSERT_EQ(std::min({ c.Red, c.Green, c.Blue }), 0) << h;
        }
        EXPECT_GT(at254, 0);
        EXPECT_LT(at254, 8);
    }

    TEST(XColorUnit, HSBToColorGivesPureHuesGreysAndBlack)
    {
        EXPECT_RGB(HSBToColor(0, 65280, 65280), 255, 0, 0);
        for (int h : { 0, 1000, 21845, 40000, 65535 }) {
            const auto hue = static_cast<std::uint16_t>(h);
            EXPECT_RGB(HSBToColor(hue, 0, 65280), 255, 255, 255);
            EXPECT_RGB(HSBToColor(hue, 65280, 0), 0, 0, 0);
            // Grey: every channel (255 x b) div 65280.
            EXPECT_RGB(HSBToColor(hue, 0, 32768), 128, 128, 128);
            EXPECT_RGB(HSBToColor(hue, 0, 256), 1, 1, 1);
            EXPECT_RGB(HSBToColor(hue, 0, 255), 0, 0, 0);
        }
        // A half-saturated, full-bright red: the other channels halfway up.
        EXPECT_RGB(HSBToColor(0, 32640, 65280), 255, 128, 128);
    }

    TEST(XColorUnit, HSBToColorAcceptsValuesAboveFull)
    {
        for (int h = 0; h < 65536; h += 97) {
            const auto hue = static_cast<std::uint16_t>(h);
            const TRGB full = Channels(HSBToColor(hue, 65280, 65280));
            const TRGB over = Channels(HSBToColor(hue, 65535, 65535));
            // The channels stay bytes, and the largest and smallest do not move.
            EXPECT_EQ(std::max({ over.Red, over.Green, over.Blue }), 255) << h;
            EXPECT_EQ(std::min({ over.Red, over.Green, over.Blue }), 0) << h;
            EXPECT_LE(std::abs(over.Red - full.Red), 1) << h;
            EXPECT_LE(std::abs(over.Green - full.Green), 1) << h;
            EXPECT_LE(std::abs(over.Blue - full.Blue), 1) << h;
        }
        EXPECT_RGB(HSBToColor(0, 0, 65535), 255, 255, 255);
    }

    TEST(XColorUnit, ColorToHSBOfThePrimariesAndGreys)
    {
        EXPECT_EQ(ColorToHSB(RGBToColor(255, 0, 0)), (THSBValues { 0, 65280, 65280 }));
        EXPECT_EQ(ColorToHSB(RGBToColor(0, 255, 0)), (THSBValues { 21845, 65280, 65280 }));
        EXPECT_EQ(ColorToHSB(RGBToColor(0, 0, 255)), (THSBValues { 43691, 65280, 65280 }));
        for (int v = 0; v < 256; ++v) {
            const auto b = static_cast<std::uint8_t>(v);
            EXPECT_EQ(ColorToHSB(RGBToColor(b, b, b)),
                (THSBValues { 0, 0, static_cast<std::uint16_t>(v * 256) }))
                << v;
        }
    }

    TEST(XColorUnit, ColorToHSBOfOrangeIsAboutOneTwelfthOfATurn)
    {
        // Red is largest, blue smallest, green in between and added:
        // d = ((128 x 65280 div 65280) x 65280 div 65280) x 43 = 5504.
        const THSBValues hsb = ColorToHSB(RGBToColor(255, 128, 0));
        EXPECT_EQ(hsb, (THSBValues { 5504, 65280, 65280 }));
        EXPECT_NEAR(hsb.Hue, 65536 / 12, 64);
    }

    TEST(XColorUnit, ColorToHSBTieRulesAndHueWrap)
    {
        // Yellow: red counts as the largest, so the hue is red plus a sixth.
        EXPECT_EQ(ColorToHSB(RGBToColor(255, 255, 0)).Hue, 255 * 43);
        // Cyan: green is the largest and blue is added.
        EXPECT_EQ(ColorToHSB(RGBToColor(0, 255, 255)).Hue, 21845 + 255 * 43);
        // Magenta: red is the largest and blue is subtracted, wrapping below 0.
        EXPECT_EQ(ColorToHSB(RGBToColor(255, 0, 255)).Hue, 65536 - 255 * 43);
        // Saturation moves in steps of 256: 65280 - 256 x (100 x 255 div 200).
        EXPECT_EQ(ColorToHSB(RGBToColor(200, 100, 150)).Saturation, 65280 - 256 * 127);
        EXPECT_EQ(ColorToHSB(RGBToColor(200, 100, 150)).Brightness, 200 * 256);
    }

    TEST(XColorUnit, HSBRoundTripStaysWithinThreeOfEveryColour)
    {
        // Measured over the whole cube: the worst channel is off by 3 (for
        // example (192, 3, 6) comes back as (192, 2, 3)).
        int worst = 0;
        for (TColor c = 0; c < (1u << 24); ++c) {
            const THSBValues hsb = ColorToHSB(c);
            ASSERT_EQ(hsb.Saturation % 256, 0) << std::hex << c;
            const TColor back = HSBToColor(hsb);
            ASSERT_EQ(back >> 24, 0u);
            const int error = std::max({ std::abs(RedOf(c) - RedOf(back)),
                std::abs(GreenOf(c) - GreenOf(back)), std::abs(BlueOf(c) - BlueOf(back)) });
            if (error > worst)
                worst = error;
            ASSERT_LE(error, 3) << std::hex << c << " -> " << back;
        }
        EXPECT_EQ(worst, 3);
        EXPECT_EQ(HSBToColor(ColorToHSB(RGBToColor(192, 3, 6))), RGBToColor(192, 2, 3));
    }

    TEST(XColorUnit, GammaTablesStartAsIdentityAndOnlyPositiveGammasRebuildThem)
    {
        // Everything about the process-wide tables is in this one test, so the
        // start-up state is seen before anything changes it.
        for (int channel = 0; channel < 3; ++channel)
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(GammaTable(channel)[i], i) << channel << "," << i;
        EXPECT_EQ(GammaColor(0x123456u), 0x123456u);

        SetGamma(1.5, 1.5, 1.5);
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_EQ(GammaTable(channel)[0], 0);
            EXPECT_EQ(GammaTable(channel)[128], 161);
            EXPECT_EQ(GammaTable(channel)[255], 255);
            for (int i = 1; i < 256; ++i)
                ASSERT_GE(GammaTable(channel)[i], i) << i; // lighter, never darker
        }
        EXPECT_RGB(GammaColor(RGBToColor(128, 0, 255)), 161, 0, 255);
        EXPECT_EQ(GammaColor(0xFF000000u | RGBToColor(128, 128, 128)), RGBToColor(161, 161, 161));

        const auto table = GammaTable(0);
        SetGamma(0, 2, 2);
        SetGamma(2, -1, 2);
        SetGamma(2, 2, std::numeric_limits<double>::quiet_NaN());
        EXPECT_EQ(GammaTable(0), table);
        EXPECT_EQ(GammaTable(1), table);
        EXPECT_EQ(GammaTable(2), table);

        // One gamma per channel.
        SetGamma(1, 2, 0.5);
        EXPECT_EQ(GammaTable(0)[100], 100);
        EXPECT_EQ(
            GammaTable(1)[100], static_cast<int>(std::nearbyint(255 * std::sqrt(100 / 255.0))));
        EXPECT_EQ(
            GammaTable(2)[100], static_cast<int>(std::nearbyint(255 * std::pow(100 / 255.0, 2))));

        SetGamma(1, 1, 1);
        for (int channel = 0; channel < 3; ++channel)
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(GammaTable(channel)[i], i) << channel << "," << i;
    }

#undef EXPECT_RGB

} // namespace
} // namespace zx
