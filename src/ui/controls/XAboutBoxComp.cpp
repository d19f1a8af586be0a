#include "ui/controls/XAboutBoxComp.h"

#include "ui/controls/XAboutBoxUnit.h"
#include "ui/controls/XLinkComp.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

namespace zx {

namespace {

    TAboutBox::TAboutBoxHook& Hook()
    {
        static TAboutBox::TAboutBoxHook hook;
        return hook;
    }

} // namespace

TAboutBox::TAboutBox(QObject* parent)
    : QObject(parent)
{
}

void TAboutBox::SetAboutBoxHook(TAboutBoxHook hook)
{
    Hook() = std::move(hook);
}

void TAboutBox::Fill(TAboutBoxForm& form) const
{
    form.ProductImage->setPixmap(QPixmap::fromImage(m_bitmap));
    form.ProductLabel->setText(
        m_product.isEmpty() ? QApplication::applicationDisplayName() : m_product);
    form.VersionLabel->setText(tr(m_version.toUtf8().constData()));
    form.CopyrightLabel->setText(QStringLiteral("© ") + m_copyright);
    form.CompanyLink->setText(m_link);
    form.CompanyLink->SetURLString(m_link);
    form.InfoLabel->setText(m_infoText);
}

bool TAboutBox::Execute(QWidget* parent)
{
    TAboutBoxForm form(parent);
    Fill(form);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        form.move(area.left() + (area.width() - form.width()) / 2,
            area.top() + (area.height() - form.height()) / 2);
    }
    const int result = Hook() ? Hook()(form) : form.exec();
    return result == QDialog::Accepted;
}

} // namespace zx
