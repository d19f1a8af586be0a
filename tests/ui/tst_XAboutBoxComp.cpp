// The About box (TAboutBox and its form) and the link in it (TLink).

#include "ui/controls/XAboutBoxComp.h"
#include "ui/controls/XAboutBoxUnit.h"
#include "ui/controls/XLinkComp.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using zx::TAboutBox;
using zx::TAboutBoxForm;
using zx::TLink;

namespace {

TAboutBox& ProgramLikeBox(TAboutBox& box)
{
    box.SetCompany(QStringLiteral("Tarnwick"));
    box.SetProduct(QStringLiteral("Zephyrix"));
    box.SetVersion(QStringLiteral("版本 1.05 - 1999 年 12 月 11 日"));
    box.SetCopyright(QStringLiteral("1999 Tarnwick"));
    box.SetLink(QStringLiteral("https://tarnwick.example/zephyrix"));
    box.SetInfoText(QStringLiteral("一行说明"));
    QImage picture(240, 36, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    box.SetBitmap(picture);
    return box;
}

// What the hook saw of the form while it was up.
struct TSeen {
    QString Title;
    QPoint Position;
    QSize Size;
    QString Product;
    QString Version;
    QString Copyright;
    QString Link;
    QString LinkAddress;
    QString Info;
    QSize Picture;
};

} // namespace

class tst_XAboutBoxComp : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        TAboutBox::SetAboutBoxHook({});
        TLink::SetUrlOpener({});
    }

    void showsWhatTheBoxHolds()
    {
        TAboutBox box;
        ProgramLikeBox(box);
        TSeen seen;
        TAboutBox::SetAboutBoxHook([&](TAboutBoxForm& form) {
            form.show();
            seen.Title = form.windowTitle();
            seen.Position = form.pos();
            seen.Size = form.size();
            seen.Product = form.ProductLabel->text();
            seen.Version = form.VersionLabel->text();
            seen.Copyright = form.CopyrightLabel->text();
            seen.Link = form.CompanyLink->text();
            seen.LinkAddress = form.CompanyLink->URLString();
            seen.Info = form.InfoLabel->text();
            seen.Picture = form.ProductImage->pixmap().size();
            QTest::mouseClick(form.OKButton, Qt::LeftButton);
            return form.result();
        });
        QVERIFY(box.Execute());
        QCOMPARE(seen.Title, QStringLiteral("关于 Zephyrix"));
        QCOMPARE(seen.Size, QSize(352, 257));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(seen.Position,
            QPoint(screen.left() + (screen.width() - 352) / 2,
                screen.top() + (screen.height() - 257) / 2));
        QCOMPARE(seen.Product, QStringLiteral("Zephyrix"));
        QCOMPARE(seen.Version, QStringLiteral("版本 1.05 - 1999 年 12 月 11 日"));
        QCOMPARE(seen.Copyright, QStringLiteral("© 1999 Tarnwick"));
        QCOMPARE(seen.Link, QStringLiteral("https://tarnwick.example/zephyrix"));
        QCOMPARE(seen.LinkAddress, seen.Link);
        QCOMPARE(seen.Info, QStringLiteral("一行说明"));
        QCOMPARE(seen.Picture, QSize(240, 36));
    }

    void anEmptyProductShowsTheApplicationsTitle()
    {
        QApplication::setApplicationDisplayName(QStringLiteral("Zephyrix Test"));
        TAboutBox box;
        QString title;
        TAboutBox::SetAboutBoxHook([&](TAboutBoxForm& form) {
            form.show();
            title = form.windowTitle();
            form.close();
            return form.result();
        });
        box.Execute();
        QCOMPARE(title, QStringLiteral("关于 Zephyrix Test"));
    }

    void onlyTheOKButtonConfirms_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("确定") << "ok" << true;
        QTest::newRow("Enter") << "enter" << true;
        QTest::newRow("close button") << "close" << false;
        QTest::newRow("Escape") << "escape" << false;
    }
    void onlyTheOKButtonConfirms()
    {
        QFETCH(QString, how);
        QFETCH(bool, confirmed);
        TAboutBox box;
        ProgramLikeBox(box);
        TAboutBox::SetAboutBoxHook([&](TAboutBoxForm& form) {
            form.show();
            if (how == QLatin1String("ok"))
                QTest::mouseClick(form.OKButton, Qt::LeftButton);
            else if (how == QLatin1String("enter"))
                QTest::keyClick(&form, Qt::Key_Return);
            else if (how == QLatin1String("escape"))
                QTest::keyClick(&form, Qt::Key_Escape);
            else
                form.close();
            return form.result();
        });
        QCOMPARE(box.Execute(), confirmed);
    }

    void aClickFiresOnClickBeforeOpeningTheAddress()
    {
        TLink link;
        link.resize(200, 17);
        link.SetURLString(QStringLiteral("https://tarnwick.example/"));
        QStringList events;
        connect(&link, &TLink::OnClick, this, [&](TLink* sender) {
            QCOMPARE(sender, &link);
            events << QStringLiteral("OnClick");
        });
        TLink::SetUrlOpener([&](const QString& address) {
            events << QStringLiteral("open ") + address;
            // The desktop could not open it: nothing happens.
            return false;
        });
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(10, 8));
        QCOMPARE(events,
            QStringList(
                { QStringLiteral("OnClick"), QStringLiteral("open https://tarnwick.example/") }));
        // The right button is no click.
        QTest::mouseClick(&link, Qt::RightButton, {}, QPoint(10, 8));
        QCOMPARE(events.size(), 2);
        // Letting go outside the label cancels the click.
        QTest::mousePress(&link, Qt::LeftButton, {}, QPoint(10, 8));
        QTest::mouseRelease(&link, Qt::LeftButton, {}, QPoint(250, 8));
        QCOMPARE(events.size(), 2);
    }

    void aLinkWithoutAnAddressOnlyFiresOnClick()
    {
        TLink link;
        link.resize(200, 17);
        QSignalSpy clicks(&link, &TLink::OnClick);
        int opened = 0;
        TLink::SetUrlOpener([&](const QString&) { return ++opened > 0; });
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(opened, 0);
    }
};

QTEST_MAIN(tst_XAboutBoxComp)
#include "tst_XAboutBoxComp.moc"
