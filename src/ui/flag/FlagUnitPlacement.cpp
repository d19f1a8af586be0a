// Where the two windows go: the flag window snaps to the panel and follows its
// moves, and at start-up both are put where they were and onto the screen.
// Everything works on outer bounds (frame included), as the settings store
// keeps them.
//
// The window system puts its frame round a window only once the window is
// shown, and reports that as a move. Until then outer and inner bounds are the
// same (and some window systems place the inner bounds where the outer ones
// were asked for), so the restored layout is set once more when the frames
// have come: at the restored outer positions, the flag window at its stored
// outer size, snapped, and on the screen with the windows' true sizes.

#include "core/flag/XMagnetUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"

#include <QGuiApplication>
#include <QScreen>

namespace zx {

namespace {

    TBounds BoundsOf(const QRect& rect)
    {
        return { rect.left(), rect.top(), rect.width(), rect.height() };
    }

    QMargins FrameOf(const QWidget* window)
    {
        const QRect outer = window->frameGeometry();
        const QRect inner = window->geometry();
        return { inner.left() - outer.left(), inner.top() - outer.top(),
            outer.right() - inner.right(), outer.bottom() - inner.bottom() };
    }

    // The screen the window is on (the one under its middle).
    TBounds ScreenOf(const QWidget* window)
    {
        const QScreen* screen = QGuiApplication::screenAt(window->frameGeometry().center());
        if (!screen)
            screen = window->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        return screen ? BoundsOf(screen->geometry()) : TBounds {};
    }

    // Sets a flag for as long as it lives.
    class TGuard {
    public:
        explicit TGuard(bool& flag)
            : m_flag(flag)
            , m_was(flag)
        {
            m_flag = true;
        }
        ~TGuard() { m_flag = m_was; }
        TGuard(const TGuard&) = delete;
        TGuard& operator=(const TGuard&) = delete;

    private:
        bool& m_flag;
        bool m_was;
    };

} // namespace

void TFlagForm::PlaceWindows(const TWindowLayout& layout)
{
    const TGuard placing(m_placingWindows);
    // A window's move() places its outer bounds; resize() sets its inner size.
    const QPoint panelAt(layout.Panel.Left, layout.Panel.Top);
    if (frameGeometry().topLeft() != panelAt)
        move(panelAt);
    if (m_showForm) {
        const QMargins frame = FrameOf(m_showForm);
        const QSize inner(layout.Flag.Width - frame.left() - frame.right(),
            layout.Flag.Height - frame.top() - frame.bottom());
        if (m_showForm->size() != inner)
            m_showForm->resize(inner);
        const QPoint flagAt(layout.Flag.Left, layout.Flag.Top);
        if (m_showForm->frameGeometry().topLeft() != flagAt)
            m_showForm->move(flagAt);
    }
    m_lastTop = frameGeometry().top();
    m_lastLeft = frameGeometry().left();
}

void TFlagForm::KeepWindowsOnScreen()
{
    if (!m_showForm) {
        const TBounds panel = KeepOnScreen(BoundsOf(frameGeometry()), ScreenOf(this));
        move(panel.Left, panel.Top);
        return;
    }
    m_restoredLayout.Target = { BoundsOf(frameGeometry()), BoundsOf(m_showForm->frameGeometry()) };
    ApplyRestoredLayout();
    m_restoredLayout.Pending = true;
    m_restoredLayout.PanelFrame = FrameOf(this);
    m_restoredLayout.FlagFrame = FrameOf(m_showForm);
}

void TFlagForm::ApplyRestoredLayout()
{
    TWindowLayout layout = m_restoredLayout.Target;
    // The flag window's size first: its limits may cut the stored one, and
    // the positions depend on the size it really gets.
    if (const std::optional<QSize> size = m_restoredLayout.FlagOuterSize) {
        TBounds flag = BoundsOf(m_showForm->frameGeometry());
        flag.Width = size->width();
        flag.Height = size->height();
        PlaceWindows({ BoundsOf(frameGeometry()), flag });
    }
    const QSize panelSize = frameGeometry().size();
    const QSize flagSize = m_showForm->frameGeometry().size();
    layout.Panel.Width = panelSize.width();
    layout.Panel.Height = panelSize.height();
    layout.Flag.Width = flagSize.width();
    layout.Flag.Height = flagSize.height();
    layout.Flag = SnapToForm(layout.Flag, layout.Panel);
    PlaceWindows(KeepLayoutOnScreen(layout, ScreenOf(this)));
}

void TFlagForm::SettleRestoredLayout()
{
    if (!m_restoredLayout.Pending || m_placingWindows || !m_showForm)
        return;
    const QMargins panelFrame = FrameOf(this);
    const QMargins flagFrame = FrameOf(m_showForm);
    if (panelFrame == m_restoredLayout.PanelFrame && flagFrame == m_restoredLayout.FlagFrame)
        return;
    m_restoredLayout.PanelFrame = panelFrame;
    m_restoredLayout.FlagFrame = flagFrame;
    m_restoredLayout.Pending = panelFrame.isNull() || flagFrame.isNull();
    ApplyRestoredLayout();
}

void TFlagForm::FormMoved()
{
    SettleRestoredLayout();
    if (m_placingWindows)
        return;
    const QRect panel = frameGeometry();
    if (FlagWindowExists && m_showForm) {
        const TBounds flag = FollowPanel(
            BoundsOf(m_showForm->frameGeometry()), BoundsOf(panel), m_lastTop, m_lastLeft);
        // The follow has snapped already.
        const TGuard placing(m_placingWindows);
        m_showForm->move(flag.Left, flag.Top);
    }
    m_lastTop = panel.top();
    m_lastLeft = panel.left();
}

void TFlagForm::FlagWindowMoved()
{
    SettleRestoredLayout();
    if (m_placingWindows || !PanelExists || !m_showForm)
        return;
    const TBounds flag = BoundsOf(m_showForm->frameGeometry());
    const TBounds snapped = SnapToForm(flag, BoundsOf(frameGeometry()));
    if (snapped == flag)
        return;
    // The move this makes reports itself again; snapped once is snapped.
    const TGuard placing(m_placingWindows);
    m_showForm->move(snapped.Left, snapped.Top);
}

} // namespace zx
