#pragma once

// Window snapping. The flag window behaves like a magnetic satellite of the
// control panel: moved to within kSnapDistance of one of the panel's edges it
// jumps flush against it, and once beside (or above, below) the panel its other
// edges align with the panel's matching ones when they are that close. When
// the panel moves, the flag window moves with it. At start-up both windows are
// pushed fully onto the screen.
//
// Everything here works on outer window bounds (frame included) in screen
// pixels, so the same routines serve any two windows and can be tested without
// a window system. Coordinates are those of a window system (X11 keeps them in
// 16 bits); callers bring values from elsewhere into that range first, so no
// sum here can overflow.

#include <cstdint>

namespace zx {

// An edge snaps when it is closer than this: 7 pixels snap, 8 do not.
inline constexpr std::int32_t kSnapDistance = 8;

// The range window coordinates and sizes read from the settings store are
// brought into before they reach a window.
inline constexpr std::int32_t kMinWindowCoordinate = -32768;
inline constexpr std::int32_t kMaxWindowCoordinate = 32767;

struct TBounds {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;

    constexpr std::int32_t Right() const { return Left + Width; }
    constexpr std::int32_t Bottom() const { return Top + Height; }

    friend bool operator==(const TBounds&, const TBounds&) = default;
};

// The moving window m against the fixed window f (always the flag window and
// the panel). Each returns m as it ends up.

// SnapSideBySide, then SnapStacked.
TBounds SnapToForm(TBounds m, const TBounds& f);
// Docks m to f's right or left edge; only when their vertical extents overlap
// or touch.
TBounds SnapSideBySide(TBounds m, const TBounds& f);
// Docks m to f's bottom or top edge; only when their horizontal extents
// overlap or touch.
TBounds SnapStacked(TBounds m, const TBounds& f);
// Top with top, then bottom with bottom.
TBounds AlignTopBottom(TBounds m, const TBounds& f);
// Left with left, then right with right.
TBounds AlignLeftRight(TBounds m, const TBounds& f);

// Moves w fully onto the screen where it fits. A window larger than the screen
// keeps its left (top) edge on the screen, so its title bar stays reachable.
TBounds KeepOnScreen(TBounds w, const TBounds& screen);

// Where the flag window goes when the panel has moved from (lastLeft, lastTop)
// to panel: down by the panel's vertical offset, then across by its horizontal
// one, snapping to the panel after each of the two moves. It follows docked or
// not.
TBounds FollowPanel(
    TBounds flag, const TBounds& panel, std::int32_t lastTop, std::int32_t lastLeft);

// The flag window of a restored layout, where it was docked against the
// panel's right edge (its top level with the panel's) and the panel has grown
// since the layout was saved (another language's captions, another font), so
// that the panel now covers part of it (its left edge over the panel's right
// half): flush against the right edge again. Any other window is returned as
// it is.
TBounds RedockBesideGrownPanel(TBounds flag, const TBounds& panel);

struct TWindowLayout {
    TBounds Panel;
    TBounds Flag;

    friend bool operator==(const TWindowLayout&, const TWindowLayout&) = default;
};

// Both windows moved onto the screen, the panel first; the flag window follows
// the panel's correction as it follows any move of the panel, then is moved
// onto the screen itself. The last step is always the screen correction, so
// both windows end on the screen wherever they fit.
TWindowLayout KeepLayoutOnScreen(TWindowLayout layout, const TBounds& screen);

} // namespace zx
