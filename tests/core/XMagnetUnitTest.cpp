// Snapping of the flag window to the panel, following, and keeping windows on
// the screen, on plain rectangles.

#include "core/flag/XMagnetUnit.h"

#include <gtest/gtest.h>

using zx::TBounds;

namespace {

// The panel in the middle of a 1280 x 800 screen; the flag window 150 x 116.
constexpr TBounds kPanel { 300, 200, 400, 300 };
constexpr TBounds kScreen { 0, 0, 1280, 800 };

constexpr TBounds Flag(std::int32_t left, std::int32_t top)
{
    return { left, top, 150, 116 };
}

} // namespace

TEST(XMagnetUnit, DocksToTheRightEdgeAndAlignsTheTops)
{
    // 5 pixels right of the panel's right edge, 3 below its top.
    EXPECT_EQ(zx::SnapToForm(Flag(705, 203), kPanel), Flag(700, 200));
    // 7 pixels still snap, on either side of the edge.
    EXPECT_EQ(zx::SnapToForm(Flag(707, 250), kPanel), Flag(700, 250));
    EXPECT_EQ(zx::SnapToForm(Flag(693, 250), kPanel), Flag(700, 250));
}

TEST(XMagnetUnit, EightPixelsAwayDoesNotSnap)
{
    EXPECT_EQ(zx::SnapToForm(Flag(708, 203), kPanel), Flag(708, 203));
    EXPECT_EQ(zx::SnapToForm(Flag(300 - 150 - 8, 203), kPanel), Flag(142, 203));
    // Docked, but tops 8 apart stay apart.
    EXPECT_EQ(zx::SnapToForm(Flag(702, 208), kPanel), Flag(700, 208));
}

TEST(XMagnetUnit, DocksToTheLeftEdgeAndAlignsTheBottoms)
{
    // Right edge 4 pixels left of the panel's left edge, bottom 6 above its bottom.
    EXPECT_EQ(zx::SnapToForm(Flag(146, 500 - 116 - 6), kPanel), Flag(150, 384));
}

TEST(XMagnetUnit, DocksBelowAndAboveAndAlignsLeftOrRight)
{
    // Top 6 below the panel's bottom, left 3 right of its left edge.
    EXPECT_EQ(zx::SnapToForm(Flag(303, 506), kPanel), Flag(300, 500));
    // Bottom 2 above the panel's top, right edge 5 left of its right edge.
    EXPECT_EQ(zx::SnapToForm(Flag(700 - 150 - 5, 200 - 116 - 2), kPanel), Flag(550, 84));
}

TEST(XMagnetUnit, SideBySideNeedsVerticalOverlap)
{
    constexpr TBounds panel { 300, 400, 400, 300 };
    // Entirely above the panel, right edge 2 pixels left of the panel's left
    // edge: no side-by-side docking, and no stacked docking either, because
    // the horizontal extents do not meet.
    EXPECT_EQ(zx::SnapToForm(Flag(148, 100), panel), Flag(148, 100));
    EXPECT_EQ(zx::SnapToForm(Flag(148, 400 - 116 - 5), panel), Flag(148, 279));
    // Left edge 2 pixels right of the panel's left edge: stacked docking
    // applies once the bottom is within 8 pixels of the panel's top.
    EXPECT_EQ(zx::SnapToForm(Flag(302, 100), panel), Flag(302, 100));
    EXPECT_EQ(zx::SnapToForm(Flag(302, 400 - 116 - 5), panel), Flag(300, 284));
    EXPECT_EQ(zx::SnapToForm(Flag(302, 400 - 116 - 8), panel), Flag(302, 276));
}

TEST(XMagnetUnit, TouchingExtentsCountAsOverlap)
{
    // The flag window's bottom exactly at the panel's top, its left edge 3
    // pixels right of the panel's right edge: it docks beside the panel.
    const TBounds touching = Flag(703, 200 - 116);
    EXPECT_EQ(zx::SnapSideBySide(touching, kPanel).Left, 700);
    // One pixel higher, the extents no longer meet.
    EXPECT_EQ(zx::SnapSideBySide(Flag(703, 200 - 117), kPanel), Flag(703, 83));
}

TEST(XMagnetUnit, AlignmentOnItsOwn)
{
    // Bottom alignment wins over top alignment when both are near.
    constexpr TBounds tall { 0, 0, 10, 100 };
    EXPECT_EQ(zx::AlignTopBottom({ 0, 3, 10, 95 }, tall), (TBounds { 0, 5, 10, 95 }));
    EXPECT_EQ(zx::AlignLeftRight({ 1, 0, 12, 10 }, tall), (TBounds { -2, 0, 12, 10 }));
    EXPECT_EQ(zx::AlignLeftRight({ -4, 0, 20, 10 }, tall), (TBounds { 0, 0, 20, 10 }));
    EXPECT_EQ(zx::AlignLeftRight({ 8, 0, 20, 10 }, tall), (TBounds { 8, 0, 20, 10 }));
}

TEST(XMagnetUnit, SnappingASnappedWindowChangesNothing)
{
    for (const TBounds& start : { Flag(705, 203), Flag(146, 378), Flag(303, 506), Flag(545, 82),
             Flag(702, 208), Flag(900, 600) }) {
        const TBounds once = zx::SnapToForm(start, kPanel);
        EXPECT_EQ(zx::SnapToForm(once, kPanel), once) << start.Left << "," << start.Top;
    }
}

TEST(XMagnetUnit, TheFlagWindowFollowsEveryMoveOfThePanel)
{
    // Far apart: moved by the panel's offset and nothing else.
    TBounds panel = kPanel;
    panel.Left += 37;
    panel.Top -= 52;
    EXPECT_EQ(zx::FollowPanel(Flag(1000, 600), panel, kPanel.Top, kPanel.Left), Flag(1037, 548));
    // Docked: stays docked.
    EXPECT_EQ(zx::FollowPanel(Flag(700, 200), panel, kPanel.Top, kPanel.Left), Flag(737, 148));
    // No move, no change.
    EXPECT_EQ(zx::FollowPanel(Flag(711, 290), kPanel, kPanel.Top, kPanel.Left), Flag(711, 290));
}

TEST(XMagnetUnit, FollowingSnapsOnTheWay)
{
    // 10 pixels right of the panel: a panel move by 3 to the right brings the
    // gap to 7, which snaps.
    TBounds panel = kPanel;
    panel.Left += 3;
    EXPECT_EQ(zx::FollowPanel(Flag(710, 260), panel, kPanel.Top, kPanel.Left), Flag(703, 260));
}

TEST(XMagnetUnit, KeepOnScreenMovesWindowsOntoTheScreen)
{
    EXPECT_EQ(zx::KeepOnScreen(Flag(-20, -5), kScreen), Flag(0, 0));
    EXPECT_EQ(zx::KeepOnScreen(Flag(1200, 750), kScreen), Flag(1130, 684));
    EXPECT_EQ(zx::KeepOnScreen(Flag(1130, 684), kScreen), Flag(1130, 684));
    EXPECT_EQ(zx::KeepOnScreen(Flag(10, 20), kScreen), Flag(10, 20));
    // A second screen to the right of the first.
    constexpr TBounds right { 1280, 0, 1024, 768 };
    EXPECT_EQ(zx::KeepOnScreen(Flag(1200, 700), right), Flag(1280, 652));
}

TEST(XMagnetUnit, AWindowWiderThanTheScreenEndsAtTheLeftEdge)
{
    for (const std::int32_t left : { -300, -1, 0, 10, 500 }) {
        const TBounds wide { left, 10, 1500, 100 };
        EXPECT_EQ(zx::KeepOnScreen(wide, kScreen).Left, 0) << left;
    }
    const TBounds tall { 10, 50, 100, 900 };
    EXPECT_EQ(zx::KeepOnScreen(tall, kScreen).Top, 0);
}

TEST(XMagnetUnit, TheLayoutStaysTogetherWhenThePanelIsPushedOntoTheScreen)
{
    // The panel hangs over the right edge with the flag window docked to its
    // left: the panel comes back by 120 pixels and the flag window with it.
    const zx::TWindowLayout layout { { 1000, 200, 400, 300 }, Flag(850, 200) };
    const zx::TWindowLayout placed = zx::KeepLayoutOnScreen(layout, kScreen);
    EXPECT_EQ(placed.Panel, (TBounds { 880, 200, 400, 300 }));
    EXPECT_EQ(placed.Flag, Flag(730, 200));
    // Docked to the right of a panel at the right edge: the flag window is
    // pushed back onto the screen, over the panel.
    const zx::TWindowLayout right { { 880, 200, 400, 300 }, Flag(1280, 200) };
    EXPECT_EQ(zx::KeepLayoutOnScreen(right, kScreen).Flag, Flag(1130, 200));
    // On the screen already: unchanged.
    const zx::TWindowLayout inside { kPanel, Flag(700, 200) };
    EXPECT_EQ(zx::KeepLayoutOnScreen(inside, kScreen), inside);
}

TEST(XMagnetUnit, AWindowDockedBesideAPanelThatHasGrownGoesBackToItsEdge)
{
    // Docked against a panel of 340 pixels (700 - 60), restored beside one of
    // 400 that covers 60 pixels of it: flush right again.
    EXPECT_EQ(zx::RedockBesideGrownPanel(Flag(640, 200), kPanel), Flag(700, 200));
    EXPECT_EQ(zx::RedockBesideGrownPanel(Flag(500, 200), kPanel), Flag(700, 200));
    // Anything else stays where it is: tops apart (no dock made it), beside or
    // beyond the panel's edge, left of the panel, or its left edge over the
    // panel's left half.
    EXPECT_EQ(zx::RedockBesideGrownPanel(Flag(640, 201), kPanel), Flag(640, 201));
    EXPECT_EQ(zx::RedockBesideGrownPanel(Flag(700, 200), kPanel), Flag(700, 200));
    EXPECT_EQ(zx::RedockBesideGrownPanel(Flag(760, 200), kPanel), Flag(760, 200));
    EXPECT_EQ(zx::RedockBesideGrownPanel(Flag(150, 200), kPanel), Flag(150, 200));
    EXPECT_EQ(zx::RedockBesideGrownPanel(Flag(499, 200), kPanel), Flag(499, 200));
}
