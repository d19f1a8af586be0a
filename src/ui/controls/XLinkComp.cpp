#include "ui/controls/XLinkComp.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace zx {

namespace {

    TLink::TUrlOpener& Opener()
    {
        static TLink::TUrlOpener opener;
        return opener;
    }

    bool OpenWithDesktop(const QString& address)
    {
        return QDesktopServices::openUrl(QUrl::fromUserInput(address));
    }

} // namespace

TLink::TLink(QWidget* parent)
    : QLabel(parent)
{
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(blue);
    setCursor(Qt::PointingHandCursor);
}

void TLink::SetUrlOpener(TUrlOpener opener)
{
    Opener() = std::move(opener);
}

void TLink::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QLabel::mousePressEvent(event);
}

void TLink::mouseReleaseEvent(QMouseEvent* event)
{
    // A click is a press and a release of the left button on the label, as a
    // button's; dragging off the label before letting go cancels it.
    const bool click = m_pressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        Click();
}

void TLink::Click()
{
    emit OnClick(this);
    if (m_urlString.isEmpty())
        return;
    const bool opened = Opener() ? Opener()(m_urlString) : OpenWithDesktop(m_urlString);
    // Nothing to report: the user sees whether a browser came up.
    static_cast<void>(opened);
}

} // namespace zx
