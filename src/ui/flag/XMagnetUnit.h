#pragma once

// TFormMagnet: where the two windows go. The flag window snaps to the control
// panel and follows its moves (core/flag/XMagnetUnit.h has the geometry), and
// at start-up both are put where the settings store says they were, snapped,
// and onto the screen. Everything works on outer bounds (frame included), as
// the store keeps them.
//
// The window system puts its frame round a window only once the window is
// shown, and reports that as a move. Until then outer and inner bounds are the
// same (and some window systems place the inner bounds where the outer ones
// were asked for), so the restored layout is set once more when the frames
// have come: at the restored outer positions, the flag window at its stored
// outer size, snapped, and on the screen with the windows' true sizes.

#include "core/flag/XMagnetUnit.h"

#include <QMargins>
#include <QSize>
#include <cstdint>
#include <optional>

class QWidget;

namespace zx {

class TNewRegistry;

class TFormMagnet {
public:
    explicit TFormMagnet(QWidget& panel);

    void SetFlagWindow(QWidget* flag) { m_flag = flag; }

    // The panel in the middle of its screen and the flag window right beside
    // it, to its right.
    void PlaceAtStart();
    // The "Forms" group of the open key: the panel's and the flag window's
    // outer bounds ("ControlPanelX", "ControlPanelY", "PreviewX", "PreviewY",
    // "PreviewW", "PreviewH"); a missing value keeps where the window is.
    void ReadBounds(const TNewRegistry& registry);
    void WriteBounds(TNewRegistry& registry) const;
    // Moves both windows fully onto the panel's screen, the panel first, and
    // sets that layout again once the window system has framed the windows.
    void KeepOnScreen();
    // The panel's position as the one its next move starts from.
    void TakePanelPosition();

    // The move notifications of the panel and of the flag window.
    void PanelMoved();
    void FlagWindowMoved();

    std::int32_t LastTop() const { return m_lastTop; }
    std::int32_t LastLeft() const { return m_lastLeft; }

private:
    // Both windows to the given outer bounds, without the snapping and
    // following their moves would otherwise cause.
    void PlaceWindows(const TWindowLayout& layout);
    // The restored layout, snapped and on the screen, with the windows' true
    // outer sizes.
    void ApplyRestoredLayout();
    // Applies it again once the window system has put its frames round the
    // windows.
    void SettleRestoredLayout();

    QWidget& m_panel;
    QWidget* m_flag = nullptr;
    std::int32_t m_lastTop = 0;
    std::int32_t m_lastLeft = 0;
    // The layout restored at start-up, until both windows have their frames.
    struct TRestoredLayout {
        bool Pending = false;
        // Outer bounds as loaded.
        TWindowLayout Target;
        // The flag window's stored outer size, if there was one.
        std::optional<QSize> FlagOuterSize;
        // The frames the layout was last applied with.
        QMargins PanelFrame;
        QMargins FlagFrame;
    };
    TRestoredLayout m_restored;
    bool m_placing = false;
};

} // namespace zx
