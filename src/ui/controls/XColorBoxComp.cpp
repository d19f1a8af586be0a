#include "ui/controls/XColorBoxComp.h"

#include "ui/controls/XColorBoxUnit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace zx {

bool TColorBox::Execute(QWidget* parent)
{
    TColorBoxForm form(parent);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        form.move(area.x() + (area.width() - form.width()) / 2,
            area.y() + (area.height() - form.height()) / 2);
    }
    form.setWindowTitle(m_caption);
    form.SetColor(m_color);
    if (form.exec() != QDialog::Accepted)
        return false;
    m_color = form.GetColor();
    return true;
}

} // namespace zx
