// Placing the text dialog's lines on a picture: the turned block, the
// alignments, the lines inside the block, and the sizes taken from the width.

#include "core/imaging/XTextOverlay.h"

#include <gtest/gtest.h>
#include <vector>

using namespace zx;

namespace {

const std::vector<TTextExtent> kTwoLines { { 60, 20 }, { 40, 18 } };

} // namespace

TEST(XTextOverlay, UnturnedCentredBlockSitsInTheMiddle)
{
    const TTextBlock block = PlaceTextBlock(150, 100, 0, taCenter, taMiddle, kTwoLines);
    EXPECT_EQ(block.MaxW, 60);
    EXPECT_EQ(block.SumH, 38);
    EXPECT_EQ(block.X0, (150 - 60) / 2);
    EXPECT_EQ(block.Y0, (100 - 38) / 2);
    // Odd remainders truncate.
    const TTextBlock odd = PlaceTextBlock(151, 101, 0, taCenter, taMiddle, kTwoLines);
    EXPECT_EQ(odd.X0, 45);
    EXPECT_EQ(odd.Y0, 31);
}

TEST(XTextOverlay, EveryAlignmentTouchesItsEdge)
{
    const auto at = [](TTextAlignH h, TTextAlignV v) {
        const TTextBlock b = PlaceTextBlock(150, 100, 0, h, v, kTwoLines);
        return std::pair(b.X0, b.Y0);
    };
    EXPECT_EQ(at(taLeft, taTop), std::pair(0, 0));
    EXPECT_EQ(at(taRight, taBottom), std::pair(150 - 60, 100 - 38));
    EXPECT_EQ(at(taRight, taTop), std::pair(90, 0));
    EXPECT_EQ(at(taLeft, taBottom), std::pair(0, 62));
}

TEST(XTextOverlay, QuarterAndHalfTurns)
{
    // 90 degrees: the text runs upwards from the bottom-left of its block.
    const TTextBlock up = PlaceTextBlock(150, 100, 90, taLeft, taTop, kTwoLines);
    EXPECT_EQ(up.CW, 0);
    EXPECT_EQ(up.SW, 60);
    EXPECT_EQ(up.CH, 0);
    EXPECT_EQ(up.SH, 38);
    EXPECT_EQ(up.X0, 0);
    EXPECT_EQ(up.Y0, 60);
    // The second line sits to the right of the first, as turned text does.
    const std::vector<TTextOrigin> upLines = PlaceTextLines(up, 90, taLeft, kTwoLines);
    EXPECT_EQ(upLines[0], (TTextOrigin { 0, 60 }));
    EXPECT_EQ(upLines[1], (TTextOrigin { 20, 60 }));

    // 180 degrees with left/top: the origin is the block's bottom-right corner.
    const TTextBlock down = PlaceTextBlock(150, 100, 180, taLeft, taTop, kTwoLines);
    EXPECT_EQ(down.X0, 60);
    EXPECT_EQ(down.Y0, 38);
    // 270 degrees with right/bottom: the text runs downwards, the block spreads
    // left of its origin (sh = -38) and below it (-sw = 60), touching both edges.
    const TTextBlock turned = PlaceTextBlock(150, 100, 270, taRight, taBottom, kTwoLines);
    EXPECT_EQ(turned.SH, -38);
    EXPECT_EQ(turned.SW, -60);
    EXPECT_EQ(turned.X0, 150);
    EXPECT_EQ(turned.Y0, 40);
}

TEST(XTextOverlay, AFullTurnPlacesLikeNone)
{
    for (const auto h : { taLeft, taCenter, taRight })
        for (const auto v : { taTop, taMiddle, taBottom }) {
            EXPECT_EQ(PlaceTextBlock(150, 100, 360, h, v, kTwoLines),
                PlaceTextBlock(150, 100, 0, h, v, kTwoLines));
            const TTextBlock block = PlaceTextBlock(150, 100, 0, h, v, kTwoLines);
            EXPECT_EQ(
                PlaceTextLines(block, 360, h, kTwoLines), PlaceTextLines(block, 0, h, kTwoLines));
        }
}

TEST(XTextOverlay, LinesAlignInsideTheBlock)
{
    const TTextBlock block = PlaceTextBlock(150, 100, 0, taRight, taTop, kTwoLines);
    const std::vector<TTextOrigin> right = PlaceTextLines(block, 0, taRight, kTwoLines);
    // Both lines end at the block's right edge, which is the picture's.
    EXPECT_EQ(right[0].X + 60, 150);
    EXPECT_EQ(right[1].X + 40, 150);
    EXPECT_EQ(right[0].Y, 0);
    EXPECT_EQ(right[1].Y, 20);
    const TTextBlock centred = PlaceTextBlock(150, 100, 0, taCenter, taTop, kTwoLines);
    const std::vector<TTextOrigin> middle = PlaceTextLines(centred, 0, taCenter, kTwoLines);
    EXPECT_EQ(middle[1].X, centred.X0 + 10);
    // Turned a quarter, the offset along the line goes up the picture.
    const TTextBlock up = PlaceTextBlock(150, 100, 90, taRight, taTop, kTwoLines);
    const std::vector<TTextOrigin> upRight = PlaceTextLines(up, 90, taRight, kTwoLines);
    EXPECT_EQ(upRight[1].Y, up.Y0 - 20);
}

TEST(XTextOverlay, SizesAreSharesOfTheWidth)
{
    EXPECT_EQ(TextCellHeight(100, 150), 150);
    EXPECT_EQ(TextCellHeight(5, 150), 7);
    EXPECT_EQ(TextCellHeight(5, 19), 0); // the platform's default height
    EXPECT_EQ(TextShadowDepth(25, 99), 0);
    EXPECT_EQ(TextShadowDepth(25, 100), 1);
    EXPECT_EQ(TextShadowDepth(100, 150), 6);
}

TEST(XTextOverlay, PreviewBackgroundFollowsTheTextColour)
{
    EXPECT_EQ(TextPreviewBackground(0xFFFFFF, 0), 0u);
    EXPECT_EQ(TextPreviewBackground(0xFFFFFF, 5), 0xFFFFFFu);
    EXPECT_EQ(TextPreviewBackground(0x80E0A0, 0), 0u); // red A0, green E0, blue 80
    EXPECT_EQ(TextPreviewBackground(0x80E09F, 0), 0xFFFFFFu);
    EXPECT_EQ(TextPreviewBackground(0x7FFFFF, 0), 0xFFFFFFu);
    EXPECT_EQ(TextPreviewBackground(0x000000, 0), 0xFFFFFFu);
}

TEST(XTextOverlay, SplitsMemoText)
{
    EXPECT_TRUE(SplitTextLines("").empty());
    EXPECT_EQ(SplitTextLines("a"), (std::vector<std::string> { "a" }));
    EXPECT_EQ(SplitTextLines("a\r\n\nb\n"), (std::vector<std::string> { "a", "", "b" }));
    EXPECT_EQ(SplitTextLines("\n"), (std::vector<std::string> { "" }));
    EXPECT_EQ(SplitTextLines("a\n\n"), (std::vector<std::string> { "a", "" }));
    TTextOverlaySettings settings;
    EXPECT_FALSE(settings.HasText());
    settings.Lines = { "", "later" };
    EXPECT_FALSE(settings.HasText());
    settings.Lines = { "x", "" };
    EXPECT_TRUE(settings.HasText());
}
