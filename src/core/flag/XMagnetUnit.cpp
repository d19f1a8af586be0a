#include "core/flag/XMagnetUnit.h"

#include <cstdlib>

namespace zx {

namespace {

    bool Near(std::int32_t a, std::int32_t b)
    {
        return std::abs(a - b) < kSnapDistance;
    }

} // namespace

TBounds SnapToForm(TBounds m, const TBounds& f)
{
    m = SnapSideBySide(m, f);
    return SnapStacked(m, f);
}

TBounds SnapSideBySide(TBounds m, const TBounds& f)
{
    if (m.Bottom() < f.Top || m.Top > f.Bottom())
        return m;
    if (Near(m.Left, f.Right())) {
        m.Left = f.Right();
        m = AlignTopBottom(m, f);
    }
    if (Near(m.Right(), f.Left)) {
        m.Left = f.Left - m.Width;
        m = AlignTopBottom(m, f);
    }
    return m;
}

TBounds SnapStacked(TBounds m, const TBounds& f)
{
    if (m.Right() < f.Left || m.Left > f.Right())
        return m;
    if (Near(m.Top, f.Bottom())) {
        m.Top = f.Bottom();
        m = AlignLeftRight(m, f);
    }
    if (Near(m.Bottom(), f.Top)) {
        m.Top = f.Top - m.Height;
        m = AlignLeftRight(m, f);
    }
    return m;
}

TBounds AlignTopBottom(TBounds m, const TBounds& f)
{
    if (Near(m.Top, f.Top))
        m.Top = f.Top;
    if (Near(m.Bottom(), f.Bottom()))
        m.Top = f.Bottom() - m.Height;
    return m;
}

TBounds AlignLeftRight(TBounds m, const TBounds& f)
{
    if (Near(m.Left, f.Left))
        m.Left = f.Left;
    if (Near(m.Right(), f.Right()))
        m.Left = f.Right() - m.Width;
    return m;
}

TBounds KeepOnScreen(TBounds w, const TBounds& screen)
{
    // The far edge is corrected first and the near edge last: a window that
    // does not fit ends at the screen's left (top) edge rather than hanging
    // over it, which would hide the title bar and its system menu.
    if (w.Right() > screen.Right())
        w.Left = screen.Right() - w.Width;
    if (w.Left < screen.Left)
        w.Left = screen.Left;
    if (w.Bottom() > screen.Bottom())
        w.Top = screen.Bottom() - w.Height;
    if (w.Top < screen.Top)
        w.Top = screen.Top;
    return w;
}

TBounds FollowPanel(TBounds flag, const TBounds& panel, std::int32_t lastTop, std::int32_t lastLeft)
{
    flag.Top += panel.Top - lastTop;
    flag = SnapToForm(flag, panel);
    flag.Left += panel.Left - lastLeft;
    return SnapToForm(flag, panel);
}

TBounds RedockBesideGrownPanel(TBounds flag, const TBounds& panel)
{
    // Docking is what levels the tops: a window whose left edge lies over the
    // panel's right half at exactly the panel's height was docked there.
    if (flag.Top == panel.Top && flag.Left >= panel.Left + panel.Width / 2
        && flag.Left < panel.Right())
        flag.Left = panel.Right();
    return flag;
}

TWindowLayout KeepLayoutOnScreen(TWindowLayout layout, const TBounds& screen)
{
    const TBounds before = layout.Panel;
    layout.Panel = KeepOnScreen(layout.Panel, screen);
    if (layout.Panel != before)
        layout.Flag = FollowPanel(layout.Flag, layout.Panel, before.Top, before.Left);
    layout.Flag = KeepOnScreen(layout.Flag, screen);
    return layout;
}

} // namespace zx
