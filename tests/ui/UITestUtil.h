#pragma once

// Small pictures for the widget tests, and the controls of a form found by
// their object names (the names the program gives them).

#include "core/imaging/XDIBUnit.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace zx::test {

// A 24-bit picture of one colour.
inline TDIB SolidPicture(std::int32_t width, std::int32_t height, QRgb color)
{
    TDIB picture;
    picture.SetSize(width, height, 24);
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = picture.ScanLine(y);
        for (std::int32_t x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(qBlue(color));
            row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(color));
            row[3 * x + 2] = static_cast<std::uint8_t>(qRed(color));
        }
    }
    return picture;
}

// The child of that name and type; a form without it ends the test program,
// since every later step would test nothing.
template <class T> T* Control(const QObject& form, const char* name)
{
    T* control = form.findChild<T*>(QString::fromLatin1(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

} // namespace zx::test
