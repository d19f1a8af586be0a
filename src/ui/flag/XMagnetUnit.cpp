#include "ui/flag/XMagnetUnit.h"

#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/flag/XRegistryUnit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

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

    std::int32_t ReadCoordinate(
        const TNewRegistry& registry, const char* name, std::int32_t current)
    {
        return std::clamp(registry.ReadIntegerDef(QLatin1String(name), current),
            kMinWindowCoordinate, kMaxWindowCoordinate);
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

TFormMagnet::TFormMagnet(QWidget& panel)
    : m_panel(panel)
{
}

void TFormMagnet::PlaceAtStart()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const int total
            = m_panel.frameGeometry().width() + (m_flag ? m_flag->frameGeometry().width() : 0);
        m_panel.move(area.left() + std::max(0, (area.width() - total) / 2),
            area.top() + std::max(0, (area.height() - m_panel.frameGeometry().height()) / 2));
    }
    const QRect panel = m_panel.frameGeometry();
    if (m_flag)
        m_flag->move(panel.left() + panel.width(), panel.top());
}

void TFormMagnet::ReadBounds(const TNewRegistry& registry)
{
    if (!m_flag)
        return;
    // Before the windows are shown they have no frame yet, so the flag
    // window's stored size is applied again once its frame is known.
    QRect panel = m_panel.frameGeometry();
    panel.moveLeft(ReadCoordinate(registry, "ControlPanelX", panel.left()));
    panel.moveTop(ReadCoordinate(registry, "ControlPanelY", panel.top()));
    m_panel.move(panel.topLeft());
    QRect flag = m_flag->frameGeometry();
    flag.moveLeft(ReadCoordinate(registry, "PreviewX", flag.left()));
    flag.moveTop(ReadCoordinate(registry, "PreviewY", flag.top()));
    const std::optional<std::int32_t> width = registry.ReadInteger(QStringLiteral("PreviewW"));
    const std::optional<std::int32_t> height = registry.ReadInteger(QStringLiteral("PreviewH"));
    if (width || height) {
        flag.setWidth(std::clamp(width.value_or(flag.width()), 0, kMaxWindowCoordinate));
        flag.setHeight(std::clamp(height.value_or(flag.height()), 0, kMaxWindowCoordinate));
        m_restored.FlagOuterSize = flag.size();
    }
    PlaceWindows({ BoundsOf(panel), BoundsOf(flag) });
    // The snap the flag window's move would make; a window that is not shown
    // yet reports its moves only when it is shown.
    FlagWindowMoved();
}

void TFormMagnet::WriteBounds(TNewRegistry& registry) const
{
    if (!m_flag)
        return;
    const QRect panel = m_panel.frameGeometry();
    const QRect flag = m_flag->frameGeometry();
    registry.WriteInteger(QStringLiteral("ControlPanelX"), panel.left());
    registry.WriteInteger(QStringLiteral("ControlPanelY"), panel.top());
    registry.WriteInteger(QStringLiteral("PreviewX"), flag.left());
    registry.WriteInteger(QStringLiteral("PreviewY"), flag.top());
    registry.WriteInteger(QStringLiteral("PreviewW"), flag.width());
    registry.WriteInteger(QStringLiteral("PreviewH"), flag.height());
}

void TFormMagnet::PlaceWindows(const TWindowLayout& layout)
{
    const TGuard placing(m_placing);
    // A window's move() places its outer bounds; resize() sets its inner size.
    const QPoint panelAt(layout.Panel.Left, layout.Panel.Top);
    if (m_panel.frameGeometry().topLeft() != panelAt)
        m_panel.move(panelAt);
    if (m_flag) {
        const QMargins frame = FrameOf(m_flag);
        const QSize inner(layout.Flag.Width - frame.left() - frame.right(),
            layout.Flag.Height - frame.top() - frame.bottom());
        if (m_flag->size() != inner)
            m_flag->resize(inner);
        const QPoint flagAt(layout.Flag.Left, layout.Flag.Top);
        if (m_flag->frameGeometry().topLeft() != flagAt)
            m_flag->move(flagAt);
    }
    TakePanelPosition();
}

void TFormMagnet::TakePanelPosition()
{
    m_lastTop = m_panel.frameGeometry().top();
    m_lastLeft = m_panel.frameGeometry().left();
}

void TFormMagnet::KeepOnScreen()
{
    if (!m_flag) {
        const TBounds panel
            = zx::KeepOnScreen(BoundsOf(m_panel.frameGeometry()), ScreenOf(&m_panel));
        m_panel.move(panel.Left, panel.Top);
        return;
    }
    m_restored.Target = { BoundsOf(m_panel.frameGeometry()), BoundsOf(m_flag->frameGeometry()) };
    ApplyRestoredLayout();
    m_restored.Pending = true;
    m_restored.PanelFrame = FrameOf(&m_panel);
    m_restored.FlagFrame = FrameOf(m_flag);
}

void TFormMagnet::ApplyRestoredLayout()
{
    TWindowLayout layout = m_restored.Target;
    // The flag window's size first: its limits may cut the stored one, and the
    // positions depend on the size it really gets.
    if (const std::optional<QSize> size = m_restored.FlagOuterSize) {
        TBounds flag = BoundsOf(m_flag->frameGeometry());
        flag.Width = size->width();
        flag.Height = size->height();
        PlaceWindows({ BoundsOf(m_panel.frameGeometry()), flag });
    }
    const QSize panelSize = m_panel.frameGeometry().size();
    const QSize flagSize = m_flag->frameGeometry().size();
    layout.Panel.Width = panelSize.width();
    layout.Panel.Height = panelSize.height();
    layout.Flag.Width = flagSize.width();
    layout.Flag.Height = flagSize.height();
    layout.Flag = SnapToForm(RedockBesideGrownPanel(layout.Flag, layout.Panel), layout.Panel);
    PlaceWindows(KeepLayoutOnScreen(layout, ScreenOf(&m_panel)));
}

void TFormMagnet::SettleRestoredLayout()
{
    if (!m_restored.Pending || m_placing || !m_flag)
        return;
    const QMargins panelFrame = FrameOf(&m_panel);
    const QMargins flagFrame = FrameOf(m_flag);
    if (panelFrame == m_restored.PanelFrame && flagFrame == m_restored.FlagFrame)
        return;
    m_restored.PanelFrame = panelFrame;
    m_restored.FlagFrame = flagFrame;
    m_restored.Pending = panelFrame.isNull() || flagFrame.isNull();
    ApplyRestoredLayout();
}

void TFormMagnet::PanelMoved()
{
    SettleRestoredLayout();
    if (m_placing)
        return;
    const QRect panel = m_panel.frameGeometry();
    if (FlagWindowExists && m_flag) {
        const TBounds flag = FollowPanel(
            BoundsOf(m_flag->frameGeometry()), BoundsOf(panel), m_lastTop, m_lastLeft);
        // The follow has snapped already.
        const TGuard placing(m_placing);
        m_flag->move(flag.Left, flag.Top);
    }
    m_lastTop = panel.top();
    m_lastLeft = panel.left();
}

void TFormMagnet::FlagWindowMoved()
{
    SettleRestoredLayout();
    if (m_placing || !PanelExists || !m_flag)
        return;
    const TBounds flag = BoundsOf(m_flag->frameGeometry());
    const TBounds snapped = SnapToForm(flag, BoundsOf(m_panel.frameGeometry()));
    if (snapped == flag)
        return;
    // The move this makes reports itself again; snapped once is snapped.
    const TGuard placing(m_placing);
    m_flag->move(snapped.Left, snapped.Top);
}

} // namespace zx
