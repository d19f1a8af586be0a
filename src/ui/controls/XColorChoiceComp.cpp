#include "ui/controls/XColorChoiceComp.h"

#include "ui/controls/XColorBoxComp.h"
#include "ui/controls/XColorDepthUnit.h"
#include "ui/imaging/XDIBCanvas.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

namespace zx {

namespace {

    constexpr std::int32_t kDisplayHeight = 18;

    QColor ToQColor(TColor color)
    {
        return QColor(RedOf(color), GreenOf(color), BlueOf(color));
    }

} // namespace

void FitSwatchCaption(TCanvas& canvas, const QString& caption, std::int32_t width)
{
    QSize extent = canvas.TextExtent(caption);
    TCanvasFont font = canvas.Font();
    for (std::int32_t cell = extent.height() - 1; extent.width() > width - 4 && cell >= 8; --cell) {
        font.Height = cell;
        canvas.SetFont(font);
        extent = canvas.TextExtent(caption);
    }
}

// ---------------------------------------------------------------------------
// TColorDisplay

TColorDisplay::TColorDisplay(TColorChoice* owner)
    : QWidget(owner)
    , m_owner(owner)
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TColorDisplay::paintEvent(QPaintEvent*)
{
    const std::int32_t w = width();
    const std::int32_t h = height();
    if (w <= 0 || h <= 0)
        return;
    TDIB picture;
    picture.SetSize(w, h, 24);
    {
        TDIBCanvas canvas(picture);
        const TColor color = m_owner->Color();
        canvas.SetBrushColor(ToQColor(color));
        canvas.FillRect(0, 0, w, h);
        TCanvasFont font = canvas.Font();
        font.Color = ToQColor(CaptionColor(color));
        canvas.SetFont(font);
        const QString& caption = m_owner->Caption();
        FitSwatchCaption(canvas, caption, w);
        const QSize extent = canvas.TextExtent(caption);
        canvas.TextOut((w - extent.width()) / 2, (h - extent.height()) / 2, caption);
        if (m_owner->hasFocus())
            canvas.DrawFocusRect(2, 2, w - 2, h - 2);
    }
    QPainter(this).drawImage(0, 0, DIBToQImage(picture));
}

void TColorDisplay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    else
        QWidget::mousePressEvent(event);
}

void TColorDisplay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool click = m_pressed && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        m_owner->ExecuteDialog();
}

// ---------------------------------------------------------------------------
// TColorChart

TColorChart::TColorChart(TColorChoice* owner)
    : QWidget(owner)
    , m_owner(owner)
{
    const QPixmap ring(QStringLiteral(":/resources/CURSOR02.png"));
    if (ring.isNull())
        setCursor(Qt::CrossCursor);
    else
        setCursor(QCursor(ring, ring.width() / 2, ring.height() / 2));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TColorChart::Invalidate()
{
    m_picture = QImage();
    update();
}

TColor TColorChart::PickAt(QPoint at) const
{
    return zx::ChartPick(m_owner->Kind(), at.x(), at.y(), width(), height());
}

void TColorChart::paintEvent(QPaintEvent*)
{
    if (width() <= 0 || height() <= 0)
        return;
    // The field changes only with the size and the kind: keep it between
    // paints instead of computing every pixel again.
    if (m_picture.size() != size()) {
        TDIB picture;
        picture.SetSize(width(), height(), 32);
        PaintChart(picture, m_owner->Kind(), ScreenColorDepth() < kSmoothColorDepth);
        m_picture = DIBToQImage(picture);
    }
    QPainter(this).drawImage(0, 0, m_picture);
}

void TColorChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_picture = QImage();
}

void TColorChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_owner->ChartPick(PickAt(event->position().toPoint()));
    else
        QWidget::mousePressEvent(event);
}

void TColorChart::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        m_owner->ChartPick(PickAt(event->position().toPoint()));
    else
        QWidget::mouseMoveEvent(event);
}

// ---------------------------------------------------------------------------
// TColorChoice

TColorChoice::TColorChoice(QWidget* parent)
    : QFrame(parent)
    , m_display(new TColorDisplay(this))
    , m_chart(new TColorChart(this))
{
    setFocusPolicy(Qt::TabFocus);
    resize(56, 56);
    PlaceParts();
}

void TColorChoice::SetColor(TColor value)
{
    value &= 0xFFFFFF;
    if (value == m_color)
        return;
    m_color = value;
    m_display->update();
}

void TColorChoice::SetCaption(const QString& value)
{
    if (value == m_caption)
        return;
    m_caption = value;
    m_display->update();
}

void TColorChoice::SetKind(TColorChoiceKind value)
{
    if (value == m_kind)
        return;
    m_kind = value;
    m_chart->Invalidate();
}

void TColorChoice::SetBorderStyle(TBorderStyle value)
{
    if (value == m_borderStyle)
        return;
    m_borderStyle = value;
    setFrameStyle(value == bsSingle ? QFrame::WinPanel | QFrame::Sunken : QFrame::NoFrame);
    PlaceParts();
}

void TColorChoice::PlaceParts()
{
    const QRect inside = contentsRect();
    const std::int32_t swatch = std::min(kDisplayHeight, inside.height());
    m_display->setGeometry(inside.x(), inside.y(), inside.width(), swatch);
    m_chart->setGeometry(inside.x(), inside.y() + swatch, inside.width(), inside.height() - swatch);
}

void TColorChoice::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    PlaceParts();
}

void TColorChoice::ChartPick(TColor color)
{
    SetColor(color);
    emit OnChange(this);
    setFocus(Qt::MouseFocusReason);
}

void TColorChoice::ExecuteDialog()
{
    TColorBox box;
    box.SetCaption(m_caption);
    box.SetColor(m_color);
    if (box.Execute(this)) {
        SetColor(box.Color());
        m_display->update();
        emit OnChange(this);
    }
    setFocus(Qt::OtherFocusReason);
}

void TColorChoice::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space)
        event->accept();
    else
        QFrame::keyPressEvent(event);
}

void TColorChoice::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Space) {
        QFrame::keyReleaseEvent(event);
        return;
    }
    event->accept();
    if (!event->isAutoRepeat())
        ExecuteDialog();
}

void TColorChoice::focusInEvent(QFocusEvent* event)
{
    QFrame::focusInEvent(event);
    m_display->update();
}

void TColorChoice::focusOutEvent(QFocusEvent* event)
{
    QFrame::focusOutEvent(event);
    m_display->update();
}

} // namespace zx
