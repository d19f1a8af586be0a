#include "core/controls/XColorChoiceComp.h"

#include "core/Errors.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace zx {
namespace {

    constexpr TColor kWhite = 0xFFFFFF;
    constexpr TColor kBlack = 0;
    constexpr TColor kRed = 0x0000FF;

    TColor PixelOf(const TDIB& picture, int x, int y)
    {
        const std::uint8_t* p = picture.ConstScanLine(y) + 4 * x;
        EXPECT_EQ(p[3], 0);
        return RGBToColor(p[2], p[1], p[0]);
    }

    int Distance(TColor a, TColor b)
    {
        return std::max({ std::abs(RedOf(a) - RedOf(b)), std::abs(GreenOf(a) - GreenOf(b)),
            std::abs(BlueOf(a) - BlueOf(b)) });
    }

    TDIB Chart(int width, int height)
    {
        TDIB picture;
        picture.SetSize(width, height, 32);
        return picture;
    }

    TEST(XColorChoiceComp, LightnessRampGoesFromBlackThroughTheColourToWhite)
    {
        const auto ramp = [](int l) {
            const TLightness r = LightnessRamp(l);
            return std::pair<int, int>(r.Saturation, r.Brightness);
        };
        EXPECT_EQ(ramp(0), std::pair(65535, 0));
        EXPECT_EQ(ramp(1000), std::pair(65535, 2000));
        EXPECT_EQ(ramp(32767), std::pair(65535, 65534));
        EXPECT_EQ(ramp(32768), std::pair(65534, 65535));
        EXPECT_EQ(ramp(65535), std::pair(0, 65535));
        EXPECT_EQ(ChartColor(12345, 0), kBlack);
        EXPECT_EQ(ChartColor(12345, 65535), kWhite);
        EXPECT_EQ(ChartColor(0, 32768), kRed);
    }

    TEST(XColorChoiceComp, HorizontalPicks)
    {
        // 39 rows: the middle row 19 is exactly half way.
        const int w = 121, h = 39;
        for (int x : { 0, 1, 60, 119, 120 }) {
            EXPECT_EQ(ChartPick(ccHorizontal, x, 0, w, h), kWhite) << x;
            EXPECT_EQ(ChartPick(ccHorizontal, x, h - 1, w, h), kBlack) << x;
        }
        EXPECT_EQ(ChartPick(ccHorizontal, 0, 19, w, h), kRed);
        EXPECT_EQ(ChartPick(ccHorizontal, w - 1, 19, w, h), kRed);
    }

    TEST(XColorChoiceComp, VerticalPicks)
    {
        const int w = 41, h = 100;
        EXPECT_EQ(ChartPick(ccVertical, 20, 0, w, h), kRed);
        for (int y : { 0, 33, 99 }) {
            EXPECT_EQ(ChartPick(ccVertical, 0, y, w, h), kBlack) << y;
            EXPECT_EQ(ChartPick(ccVertical, w - 1, y, w, h), kWhite) << y;
        }
    }

    TEST(XColorChoiceComp, HueRunsBackwardsFromRed)
    {
        // Sixths of the way across the middle row: red, magenta, blue, cyan,
        // green, yellow, red.
        const int w = 61, h = 3;
        const TColor expected[]
            = { 0x0000FF, 0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF };
        for (int i = 0; i <= 6; ++i)
            EXPECT_LE(Distance(ChartPick(ccHorizontal, 10 * i, 1, w, h), expected[i]), 2) << i;
    }

    TEST(XColorChoiceComp, PicksOutsideTakeTheNearestEdge)
    {
        for (TColorChoiceKind kind : { ccHorizontal, ccVertical }) {
            EXPECT_EQ(ChartPick(kind, -5, 1000, 50, 40), ChartPick(kind, 0, 39, 50, 40));
            EXPECT_EQ(ChartPick(kind, 999, -1, 50, 40), ChartPick(kind, 49, 0, 50, 40));
            EXPECT_EQ(ChartPick(kind, 30, -100, 50, 40), ChartPick(kind, 30, 0, 50, 40));
        }
    }

    TEST(XColorChoiceComp, ThinChartsPickWithoutDividingByZero)
    {
        // One row: the lightness stays at its start (white).
        EXPECT_EQ(ChartPick(ccHorizontal, 10, 0, 50, 1), kWhite);
        // One column still runs through the lightness.
        EXPECT_EQ(ChartPick(ccHorizontal, 0, 0, 1, 50), kWhite);
        EXPECT_EQ(ChartPick(ccHorizontal, 0, 49, 1, 50), kBlack);
        EXPECT_EQ(ChartPick(ccVertical, 0, 10, 1, 50), kBlack);
        EXPECT_EQ(ChartPick(ccVertical, 0, 0, 0, 0), kBlack);
    }

    TEST(XColorChoiceComp, SmoothChartFollowsItsAccumulatorsAndTheirPicks)
    {
        for (TColorChoiceKind kind : { ccHorizontal, ccVertical }) {
            const int w = 97, h = 53;
            TDIB picture = Chart(w, h);
            PaintChart(picture, kind, false);
            int worst = 0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const int a = x * (65535 / (w - 1));
                    const int b = y * (65535 / (h - 1));
                    const TColor expected = kind == ccHorizontal ? ChartColor(65535 - a, 65535 - b)
                                                                 : ChartColor(65535 - b, a);
                    ASSERT_EQ(PixelOf(picture, x, y), expected) << x << "," << y;
                    worst = std::max(worst, Distance(expected, ChartPick(kind, x, y, w, h)));
                }
            }
            // The stepped accumulators lag the exact pick by less than one
            // step, worth a few levels at most.
            EXPECT_LE(worst, 6) << kind;
        }
        TDIB picture = Chart(16, 16);
        PaintChart(picture, ccHorizontal, false);
        EXPECT_EQ(PixelOf(picture, 0, 0), kWhite);
        EXPECT_EQ(PixelOf(picture, 15, 15), kBlack);
    }

    TEST(XColorChoiceComp, BlockChartUsesEightByEightBlocks)
    {
        // 45 x 30: the last column and row of blocks are cut short.
        const int w = 45, h = 30;
        TDIB picture = Chart(w, h);
        PaintChart(picture, ccVertical, true);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int a = x / 8 * (524280 / (w - 1));
                const int b = y / 8 * (524280 / (h - 1));
                ASSERT_EQ(PixelOf(picture, x, y), ChartColor(65535 - b, a)) << x << "," << y;
            }
        }
        EXPECT_EQ(PixelOf(picture, 0, 0), kBlack);
    }

    TEST(XColorChoiceComp, ThinAndWrongPicturesArePaintedSafely)
    {
        for (bool blocks : { false, true }) {
            TDIB column = Chart(1, 20);
            PaintChart(column, ccHorizontal, blocks);
            EXPECT_EQ(PixelOf(column, 0, 0), kWhite);
            TDIB row = Chart(20, 1);
            PaintChart(row, ccVertical, blocks);
            EXPECT_EQ(PixelOf(row, 0, 0), kBlack);
        }
        TDIB empty;
        PaintChart(empty, ccVertical, false);
        TDIB deep;
        deep.SetSize(4, 4, 24);
        EXPECT_THROW(PaintChart(deep, ccVertical, false), EInvalidGraphicOperation);
    }

    TEST(XColorChoiceComp, CaptionIsBlackOnLightColoursAndWhiteOnDark)
    {
        EXPECT_EQ(CaptionColor(RGBToColor(200, 0, 0)), kBlack);
        EXPECT_EQ(CaptionColor(RGBToColor(100, 100, 100)), kWhite);
        EXPECT_EQ(CaptionColor(RGBToColor(160, 128, 224)), kWhite);
        EXPECT_EQ(CaptionColor(RGBToColor(161, 0, 0)), kBlack);
        EXPECT_EQ(CaptionColor(RGBToColor(0, 129, 0)), kBlack);
        EXPECT_EQ(CaptionColor(RGBToColor(0, 0, 225)), kBlack);
        EXPECT_EQ(CaptionColor(kWhite), kBlack);
        EXPECT_EQ(CaptionColor(kBlack), kWhite);
    }

} // namespace
} // namespace zx
