#include "ui/flag/ShowUnit.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QStatusBar>
#include <QVBoxLayout>

namespace zx {

bool FlagWindowExists = false;

TFlagPaintBox::TFlagPaintBox(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TFlagPaintBox::SetPicture(const QImage& frame, std::optional<QPoint> pin)
{
    m_frame = frame;
    m_pin = pin;
    repaint();
}

void TFlagPaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QColor blank = palette().color(QPalette::Button);
    if (m_frame.isNull()) {
        painter.fillRect(event->rect(), blank);
        return;
    }
    painter.drawImage(0, 0, m_frame);
    // Only while the window is being resized is it larger than its frame.
    const QRegion beyond = QRegion(event->rect()) - QRegion(m_frame.rect());
    for (const QRect& part : beyond)
        painter.fillRect(part, blank);
    if (m_pin) {
        static const QImage pin(QStringLiteral(":/resources/PIN.png"));
        painter.drawImage(*m_pin, pin);
    }
}

void TFlagPaintBox::mousePressEvent(QMouseEvent* event)
{
    emit MouseDown(event->position().toPoint());
    QWidget::mousePressEvent(event);
}

TShowForm::TShowForm(QWidget* panel)
    : QWidget(panel, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_paintBox(new TFlagPaintBox(this))
    , m_statusBar(new QStatusBar(this))
    , m_statusLabel(new QLabel(m_statusBar))
{
    setWindowTitle(tr("旗帜"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_paintBox, 1);
    m_statusBar->setFixedHeight(kStatusBarHeight);
    m_statusBar->addWidget(m_statusLabel, 1);
    layout->addWidget(m_statusBar);
    connect(m_paintBox, &TFlagPaintBox::MouseDown, this, &TShowForm::PaintAreaMouseDown);
    SetPaintAreaSize(QSize(150, 97));
    UpdateSizeLimits();
    FlagWindowExists = true;
}

TShowForm::~TShowForm()
{
    FlagWindowExists = false;
}

QString TShowForm::StatusText() const
{
    return m_statusLabel->text();
}

void TShowForm::SetStatusText(const QString& text)
{
    m_statusLabel->setText(text);
}

void TShowForm::ShowFrame(const QImage& frame, std::optional<QPoint> pin)
{
    m_paintBox->SetPicture(frame, pin);
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
    emit Resized();
}

void TShowForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    emit Moved();
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
    emit PictureDragEnter(event);
}

void TShowForm::dropEvent(QDropEvent* event)
{
    emit PictureDrop(event);
}

} // namespace zx
