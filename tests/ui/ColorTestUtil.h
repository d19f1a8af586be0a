#pragma once

// Helpers of the colour controls' tests: reading a shown pixel as a colour
// value, and mouse events with the button state a drag has.

#include "core/controls/XColorUnit.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

namespace zx::test {

inline TColor ScreenColor(const QImage& image, int x, int y)
{
    const QRgb c = image.pixel(x, y);
    return RGBToColor(std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)), std::uint8_t(qBlue(c)));
}

// A press or release of the left button, or a move with buttons held, at a
// point of the widget (which may lie outside it, as during a drag).
inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)),
        type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace zx::test
