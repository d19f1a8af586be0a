#include "ui/controls/XAboutBoxUnit.h"

#include "ui/controls/XLinkComp.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace zx {

namespace {

    QFont PixelFont(const char* family, int pixels, bool bold = false)
    {
        QFont font(QString::fromUtf8(family));
        font.setPixelSize(pixels);
        font.setBold(bold);
        return font;
    }

    // The labels of the box: 320 wide, 17 high, text centred, at (16, top).
    QLabel* AddLine(QWidget* parent, int top, const QFont& font, int width = 320)
    {
        auto* label = new QLabel(parent);
        label->setGeometry(16, top, width, 17);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(font);
        return label;
    }

} // namespace

TAboutBoxForm::TAboutBoxForm(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PixelFont("宋体", 12));

    Bevel = new QFrame(this);
    Bevel->setGeometry(8, 8, 337, 209);
    Bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);

    // The program's icon, on the form's own background.
    LogoImage = new QLabel(this);
    LogoImage->setGeometry(16, 16, 72, 36);
    LogoImage->setAlignment(Qt::AlignCenter);
    LogoImage->setAttribute(Qt::WA_TranslucentBackground);
    LogoImage->setPixmap(QPixmap(QStringLiteral(":/resources/zephyrix.png"))
                             .scaled(36, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    ProductImage = new QLabel(this);
    ProductImage->setGeometry(96, 16, 240, 36);
    ProductImage->setAlignment(Qt::AlignCenter);

    ProductLabel = AddLine(this, 56, PixelFont("MS Sans Serif", 11, true));
    VersionLabel = AddLine(this, 72, PixelFont("宋体", 13));
    CopyrightLabel = AddLine(this, 88, PixelFont("宋体", 13));

    CompanyLink = new TLink(this);
    CompanyLink->setGeometry(16, 104, 320, 17);
    CompanyLink->setAlignment(Qt::AlignCenter);
    QFont linkFont = PixelFont("MS Sans Serif", 11);
    linkFont.setUnderline(true);
    CompanyLink->setFont(linkFont);

    InfoLabel = AddLine(this, 192, font(), 321);

    OKButton = new QPushButton(tr("确定"), this);
    OKButton->setGeometry(136, 224, 80, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBoxForm::showEvent(QShowEvent* event)
{
    setWindowTitle(tr("关于 %1").arg(ProductLabel->text()));
    QDialog::showEvent(event);
}

} // namespace zx
