#include "ui/flag/ShowUnit.h"

#include "ui/flag/FlagUnit.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

namespace zx {

bool FlagWindowExists = false;

TFlagPaintBox::TFlagPaintBox(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TFlagPaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (m_panel)
        m_panel->DrawFrame(painter, event->rect(), size());
    else
        painter.fillRect(event->rect(), palette().color(QPalette::Button));
}

void TFlagPaintBox::mousePressEvent(QMouseEvent* event)
{
    if (m_panel) {
        const QPoint at = event->position().toPoint();
        m_panel->FlagPaintBoxMouseDown(at.x(), at.y());
    }
    QWidget::mousePressEvent(event);
}

TShowForm::TShowForm(QWidget* panel)
    : QWidget(panel, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_paintBox(new TFlagPaintBox(this))
    , m_statusBar(new QStatusBar(this))
    , m_statusLabel(new QLabel(m_statusBar))
{
    setWindowTitle(QStringLiteral("旗帜"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_paintBox, 1);
    m_statusBar->setFixedHeight(kStatusBarHeight);
    m_statusBar->addWidget(m_statusLabel, 1);
    layout->addWidget(m_statusBar);
    SetPaintAreaSize(QSize(150, 97));
    UpdateSizeLimits();
    FlagWindowExists = true;
}

TShowForm::~TShowForm()
{
    FlagWindowExists = false;
}

void TShowForm::SetPanel(TFlagForm* panel)
{
    m_panel = panel;
    m_paintBox->SetPanel(panel);
}

QString TShowForm::StatusText() const
{
    return m_statusLabel->text();
}

void TShowForm::SetStatusText(const QString& text)
{
    m_statusLabel->setText(text);
}

QSize TShowForm::PaintAreaSize() const
{
    // Before the window is first laid out the paint box may not have its
    // size yet; the frame size stays within the limits either way.
    return m_paintBox->size().expandedTo(kMinPaintArea).boundedTo(kMaxPaintArea);
}

void TShowForm::SetPaintAreaSize(const QSize& size)
{
    const QSize area = size.expandedTo(kMinPaintArea).boundedTo(kMaxPaintArea);
    m_paintBox->resize(area);
    resize(area.width(), area.height() + kStatusBarHeight);
}

void TShowForm::UpdateSizeLimits()
{
    // The window's own size less its paint area is what the status bar (and
    // any border of ours) takes; the paint area may vary between the limits.
    const QSize extra(0, kStatusBarHeight);
    setMinimumSize(extra + kMinPaintArea);
    setMaximumSize(extra + kMaxPaintArea);
}

void TShowForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_panel)
        m_panel->FlagWindowResize();
}

void TShowForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (m_panel)
        m_panel->FlagWindowMoved();
}

void TShowForm::closeEvent(QCloseEvent* event)
{
    // Only the end of the program closes the flag window.
    if (m_allowClose)
        event->accept();
    else
        event->ignore();
}

void TShowForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_panel)
        m_panel->PictureDragEnter(event);
}

void TShowForm::dropEvent(QDropEvent* event)
{
    if (m_panel)
        m_panel->PictureDrop(event);
}

} // namespace zx
