#include "ui/controls/XNiceScrollBarComp.h"

#include "ui/imaging/XDIBCanvas.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

namespace zx {

namespace {

    TNumberSeparators LocaleSeparators()
    {
        const QLocale locale;
        return { locale.decimalPoint().toStdString(), locale.groupSeparator().toStdString() };
    }

} // namespace

TNiceScrollBar::TNiceScrollBar(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(120, 32);
}

std::int32_t TNiceScrollBar::TextHeight() const
{
    // The height of the text "0": the font's whole line height.
    return QFontMetrics(font()).height();
}

TSliderPoint TNiceScrollBar::ThumbOrigin() const
{
    return m_model.ThumbOrigin(width(), height(), TextHeight());
}

QString TNiceScrollBar::LabelText() const
{
    return QString::fromStdString(
        ExpandLabel(m_labelCaption.toStdString(), m_model.Position(), LocaleSeparators()));
}

void TNiceScrollBar::SetMin(std::int32_t value)
{
    if (m_model.SetMin(value))
        update();
}

void TNiceScrollBar::SetMax(std::int32_t value)
{
    if (m_model.SetMax(value))
        update();
}

void TNiceScrollBar::SetPosition(std::int32_t value)
{
    if (value == m_model.Position())
        return;
    UserChangePosition(value);
    if (m_model.DefaultMode() == dmAuto)
        m_model.SetDefaultPos(m_model.Position());
}

void TNiceScrollBar::SetDefaultPos(std::int32_t value)
{
    m_model.SetDefaultPos(value);
}

void TNiceScrollBar::SetDefaultMode(TDefaultModes value)
{
    m_model.SetDefaultMode(value);
}

void TNiceScrollBar::SetSmallChange(std::int32_t value)
{
    if (m_model.SetSmallChange(value))
        update();
}

void TNiceScrollBar::SetKind(TScrollBarKind value)
{
    if (m_model.SetKind(value))
        update();
}

void TNiceScrollBar::SetButton(TScrollBarKind value)
{
    if (m_model.SetButton(value))
        update();
}

void TNiceScrollBar::SetLabelVisible(bool value)
{
    if (m_model.SetLabelVisible(value))
        update();
}

void TNiceScrollBar::SetEnabled(bool value)
{
    if (value == m_enabled)
        return;
    m_enabled = value;
    m_hold = false;
    update();
}

void TNiceScrollBar::SetLabelCaption(const QString& value)
{
    if (value == m_labelCaption)
        return;
    m_labelCaption = value;
    update();
}

bool TNiceScrollBar::UserChangePosition(std::int32_t value)
{
    const TSliderPoint before = ThumbOrigin();
    if (!m_model.ChangePosition(value))
        return false;
    if (m_model.LabelVisibleFlag() || !(ThumbOrigin() == before))
        update();
    return true;
}

void TNiceScrollBar::Notify(TScrollCode code)
{
    int position = m_model.Position();
    emit OnScroll(this, code, position);
    emit OnChange(this);
}

void TNiceScrollBar::paintEvent(QPaintEvent*)
{
    if (!isVisible())
        return;
    const QPalette& colours = palette();
    const QColor face = colours.color(QPalette::Button);
    const QColor shadow = colours.color(QPalette::Dark);
    const QColor highlight = colours.color(QPalette::Light);
    const QColor text = colours.color(QPalette::WindowText);

    QImage picture(size(), QImage::Format_RGB32);
    {
        TCanvas canvas(picture);
        const std::int32_t w = width();
        const std::int32_t h = height();
        const std::int32_t th = TextHeight();
        canvas.SetBrushColor(face);
        canvas.FillRect(0, 0, w, h);

        const TSliderPoint centre = m_model.TrackCenter(w, h, th);
        if (m_model.LabelVisible()) {
            const TSliderPoint anchor = m_model.LabelAnchor(w, h, th);
            const QString label = LabelText();
            canvas.SetFont(font(), m_enabled ? text : highlight);
            const std::int32_t left = anchor.X - canvas.TextExtent(label).width() / 2;
            if (m_enabled) {
                canvas.TextOut(left, anchor.Y, label);
            } else {
                // Embossed: a highlight copy one pixel down and right, then the
                // shadow colour in place.
                canvas.TextOut(left + 1, anchor.Y + 1, label);
                canvas.SetFont(font(), shadow);
                canvas.TextOut(left, anchor.Y, label);
            }
        }

        // The groove, three pixels wide, along the track's centre line.
        const std::int32_t cx = centre.X;
        const std::int32_t cy = centre.Y;
        if (m_model.Kind() == sbHorizontal) {
            canvas.SetPenColor(shadow);
            canvas.MoveTo(w - 2, cy - 1);
            canvas.LineTo(1, cy - 1);
            canvas.LineTo(1, cy + 1);
            canvas.SetPenColor(highlight);
            canvas.LineTo(w - 2, cy + 1);
            canvas.LineTo(w - 2, cy - 1);
            canvas.SetPenColor(Qt::black);
            canvas.MoveTo(2, cy);
            canvas.LineTo(w - 2, cy);
        } else {
            canvas.SetPenColor(shadow);
            canvas.MoveTo(cx - 1, h - 2);
            canvas.LineTo(cx - 1, 1);
            canvas.LineTo(cx + 1, 1);
            canvas.SetPenColor(highlight);
            canvas.LineTo(cx + 1, h - 2);
            canvas.LineTo(cx - 1, h - 2);
            canvas.SetPenColor(Qt::black);
            canvas.MoveTo(cx, 2);
            canvas.LineTo(cx, h - 2);
        }

        // The raised thumb.
        const TSliderPoint origin = ThumbOrigin();
        const TSliderPoint thumb = m_model.ThumbSize();
        const std::int32_t x = origin.X;
        const std::int32_t y = origin.Y;
        const std::int32_t tw = thumb.X;
        const std::int32_t tht = thumb.Y;
        canvas.SetBrushColor(face);
        canvas.FillRect(x, y, x + tw, y + tht);
        canvas.SetPenColor(Qt::black);
        canvas.MoveTo(x, y + tht - 1);
        canvas.LineTo(x + tw - 1, y + tht - 1);
        canvas.LineTo(x + tw - 1, y);
        canvas.SetPenColor(shadow);
        canvas.MoveTo(x + 1, y + tht - 2);
        canvas.LineTo(x + tw - 2, y + tht - 2);
        canvas.LineTo(x + tw - 2, y + 1);
        canvas.SetPenColor(highlight);
        canvas.LineTo(x + 1, y + 1);
        canvas.LineTo(x + 1, y + tht - 2);

        // Five grip ridges across the thumb.
        for (std::int32_t i = 0; i < 5; ++i) {
            if (m_model.Button() == sbHorizontal) {
                canvas.SetPenColor(shadow);
                canvas.MoveTo(x + 5 + 3 * i, y + 3);
                canvas.LineTo(x + 5 + 3 * i, y + tht - 3);
                canvas.SetPenColor(highlight);
                canvas.MoveTo(x + 6 + 3 * i, y + 3);
                canvas.LineTo(x + 6 + 3 * i, y + tht - 3);
            } else {
                canvas.SetPenColor(shadow);
                canvas.MoveTo(x + 3, y + 5 + 3 * i);
                canvas.LineTo(x + tw - 3, y + 5 + 3 * i);
                canvas.SetPenColor(highlight);
                canvas.MoveTo(x + 3, y + 6 + 3 * i);
                canvas.LineTo(x + tw - 3, y + 6 + 3 * i);
            }
        }

        if (hasFocus())
            canvas.DrawFocusRect(x + 2, y + 2, x + tw - 2, y + tht - 2);
    }
    QPainter(this).drawImage(0, 0, picture);
}

void TNiceScrollBar::mousePressEvent(QMouseEvent* event)
{
    if (m_skipMouseDown) {
        m_skipMouseDown = false;
        m_hold = false;
        return;
    }
    if (event->button() != Qt::LeftButton || !isVisible() || !m_enabled) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_hold = true;
    TSliderPoint origin = ThumbOrigin();
    const TSliderPoint thumb = m_model.ThumbSize();
    const QPoint at = event->position().toPoint();
    const bool onThumb = at.x() >= origin.X && at.x() < origin.X + thumb.X && at.y() >= origin.Y
        && at.y() < origin.Y + thumb.Y;
    if (!onThumb) {
        // Jump: the thumb's centre comes under the mouse, snapped to the grid,
        // and the drag starts at once.
        origin = { at.x() - thumb.X / 2, at.y() - thumb.Y / 2 };
        const std::int32_t p = m_model.PixelToPosition(origin.X, origin.Y, width(), height());
        if (p != m_model.Position()) {
            UserChangePosition(p);
            Notify(scTrack);
            update();
            origin = ThumbOrigin();
        }
    }
    m_grabX = at.x() - origin.X;
    m_grabY = at.y() - origin.Y;
}

void TNiceScrollBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_hold) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const std::int32_t p
        = m_model.PixelToPosition(at.x() - m_grabX, at.y() - m_grabY, width(), height());
    if (p != m_model.Position()) {
        UserChangePosition(p);
        Notify(scTrack);
        update();
    }
}

void TNiceScrollBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_hold) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_hold = false;
    int position = m_model.Position();
    emit OnScroll(this, scEndScroll, position);
}

void TNiceScrollBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (m_model.DefaultMode() == dmAuto || m_model.DefaultMode() == dmFixed) {
        if (UserChangePosition(m_model.DefaultPos()))
            Notify(scPosition);
        m_skipMouseDown = true;
    }
    // Qt folds the second press of a double-click into this event; the press
    // is what the double-click skips.
    mousePressEvent(event);
}

bool TNiceScrollBar::IsOwnArrowKey(int key) const
{
    if (m_model.Kind() == sbHorizontal)
        return key == Qt::Key_Left || key == Qt::Key_Right;
    return key == Qt::Key_Up || key == Qt::Key_Down;
}

void TNiceScrollBar::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (!IsOwnArrowKey(key)) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool increase = key == Qt::Key_Right || key == Qt::Key_Up;
    const std::int32_t step = m_model.SmallChange();
    const std::int64_t wanted
        = static_cast<std::int64_t>(m_model.Position()) + (increase ? step : -step);
    const auto clamped
        = static_cast<std::int32_t>(std::clamp<std::int64_t>(wanted, m_model.Min(), m_model.Max()));
    if (UserChangePosition(clamped))
        Notify(increase ? scLineDown : scLineUp);
    event->accept();
}

void TNiceScrollBar::keyReleaseEvent(QKeyEvent* event)
{
    if (IsOwnArrowKey(event->key()))
        event->accept();
    else
        QWidget::keyReleaseEvent(event);
}

bool TNiceScrollBar::event(QEvent* event)
{
    // The arrow keys of our axis are ours, not the dialog's focus navigation.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsOwnArrowKey(key->key()) && key->modifiers() == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void TNiceScrollBar::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void TNiceScrollBar::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

} // namespace zx
