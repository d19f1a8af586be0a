#include "ui/imaging/XDIBImageComp.h"

#include "ui/imaging/XDIBCanvas.h"

#include <QMouseEvent>
#include <QPainter>

namespace zx {

TDIBImage::TDIBImage(QWidget* parent)
    : QWidget(parent)
{
}

void TDIBImage::SetDIB(const TDIB& picture)
{
    m_dib.Assign(picture);
    repaint();
}

void TDIBImage::paintEvent(QPaintEvent* event)
{
    if (!m_dib.Empty()) {
        QPainter painter(this);
        painter.drawImage(0, 0, DIBToQImage(m_dib));
    } else {
        QWidget::paintEvent(event);
    }
    emit OnPaint(this);
}

void TDIBImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit OnClick(this);
    QWidget::mouseReleaseEvent(event);
}

void TDIBImage::mouseDoubleClickEvent(QMouseEvent* event)
{
    emit OnDblClick(this);
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace zx
