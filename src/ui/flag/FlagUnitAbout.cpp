// The panel's About box and the information command that shows it. The box
// also comes up at a first start (TFirstStartCheck).

#include "ui/controls/XAboutBoxComp.h"
#include "ui/flag/FlagUnit.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <cmath>
#include <numbers>

namespace zx {

namespace {

    // The version text is also what the install record compares; the box
    // shows its translation.
    constexpr const char* sAboutVersion
        = QT_TRANSLATE_NOOP("zx::TAboutBox", "版本 1.05 - 1999 年 12 月 11 日");
    constexpr const char* sAboutCopyright = "1999 Tarnwick";
    constexpr const char* sAboutLink = "https://tarnwick.example/zephyrix/";
    constexpr const char* sAboutMotto
        = QT_TRANSLATE_NOOP("zx::TFlagForm", "让每一幅图片都迎风飘扬。");

    // The product picture: the program's name in a blue-to-teal gradient,
    // waving, on a transparent ground. Each column of the drawn name is
    // shifted by one period of a sine across the picture's width.
    QImage ProductPicture()
    {
        constexpr int kWidth = 240;
        constexpr int kHeight = 36;
        constexpr double kWaveHeight = 3.0;
        QImage flat(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
        flat.fill(Qt::transparent);
        {
            QPainter painter(&flat);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(26);
            font.setBold(true);
            font.setItalic(true);
            painter.setFont(font);
            QLinearGradient gradient(0, 0, kWidth, 0);
            gradient.setColorAt(0.0, QColor(0x1f, 0x4e, 0xb4));
            gradient.setColorAt(1.0, QColor(0x11, 0x9c, 0x8f));
            painter.setPen(QPen(QBrush(gradient), 1));
            painter.drawText(flat.rect(), Qt::AlignCenter, QStringLiteral("Zephyrix"));
        }
        QImage waving(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
        waving.fill(Qt::transparent);
        for (int x = 0; x < kWidth; ++x) {
            const int shift = int(
                std::lround(kWaveHeight * std::sin(2.0 * std::numbers::pi * x / double(kWidth))));
            for (int y = 0; y < kHeight; ++y) {
                const int from = y - shift;
                if (from >= 0 && from < kHeight)
                    waving.setPixel(x, y, flat.pixel(x, from));
            }
        }
        return waving;
    }

} // namespace

void TFlagForm::CreateAboutBox()
{
    AboutBox = new TAboutBox(this);
    AboutBox->SetCompany(QStringLiteral("Tarnwick"));
    AboutBox->SetProduct(QStringLiteral("Zephyrix"));
    AboutBox->SetVersion(QString::fromUtf8(sAboutVersion));
    AboutBox->SetCopyright(QString::fromUtf8(sAboutCopyright));
    AboutBox->SetLink(QString::fromUtf8(sAboutLink));
    AboutBox->SetInfoText(tr(sAboutMotto));
    AboutBox->SetBitmap(ProductPicture());
}

void TFlagForm::Info1Click()
{
    TBusyScope dialog(*this, bfDialog);
    AboutBox->Execute(this);
}

} // namespace zx
