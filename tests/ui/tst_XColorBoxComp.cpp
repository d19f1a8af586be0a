#include "core/controls/XColorUnit.h"
#include "ui/ColorTestUtil.h"
#include "ui/controls/XColorBoxComp.h"
#include "ui/controls/XColorBoxUnit.h"
#include "ui/controls/XColorDepthUnit.h"
#include "ui/controls/XIntegerEditComp.h"

#include <QApplication>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using namespace zx;
using zx::test::ScreenColor;
using zx::test::SendMouse;

namespace {

QStringList EditTexts(const TColorBoxForm& form)
{
    return { form.HueEdit->text(), form.SatEdit->text(), form.BriEdit->text(), form.RedEdit->text(),
        form.GreenEdit->text(), form.BlueEdit->text() };
}

TColor PictureColor(const TDIB& picture, int x, int y)
{
    const std::uint8_t* p = picture.ConstScanLine(y) + 4 * x;
    return RGBToColor(p[2], p[1], p[0]);
}

// True when (x, y) lies under the 16 x 16 marker centred on (cx, cy).
bool UnderMarker(int x, int y, int cx, int cy)
{
    return x >= cx - 8 && x < cx + 8 && y >= cy - 8 && y < cy + 8;
}

} // namespace

class TestColorBox : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetScreenColorDepth(0); }

    void OpensOnPureRedInHueMode()
    {
        TColorBoxForm form;
        QCOMPARE(form.size(), QSize(465, 273));
        QCOMPARE(form.Mode(), cmHue);
        QVERIFY(form.HueRadioButton->isChecked());
        QCOMPARE(form.ValuesGroupBox->title(), QStringLiteral("函数值 (色调)"));
        QCOMPARE(form.CurrentColor(), RGBToColor(255, 0, 0));
        QCOMPARE(form.InitialColor(), RGBToColor(255, 0, 0));
        // Strip marker at the bottom (hue 0), plane marker at the top right
        // (full saturation and brightness).
        QCOMPARE(form.StripY(), 255);
        QCOMPARE(form.PlaneX(), 255);
        QCOMPARE(form.PlaneY(), 0);
        QCOMPARE(EditTexts(form), (QStringList { "0", "100", "100", "255", "0", "0" }));
        QCOMPARE(form.UpdateRect(), QRect(0, 0, 256, 256));
        QCOMPARE(form.OKButton->text(), QStringLiteral("确定"));
        QVERIFY(form.OKButton->isDefault());
        QCOMPARE(form.CancelButton->text(), QStringLiteral("取消"));
        QCOMPARE(form.HueEdit->MaxValue(), 359);
        QCOMPARE(form.SatEdit->MaxValue(), 100);
        QCOMPARE(form.BlueEdit->MaxValue(), 255);
        QCOMPARE(form.HueEdit->maxLength(), 3);
        QVERIFY(!form.HueEdit->Beep());
    }

    void CreatingTheDialogLeavesGammaAtOnePointFive()
    {
        SetGamma(1, 1, 1);
        {
            TColorBoxForm form;
            QCOMPARE(int(GammaTable(0)[128]), 161);
        }
        QCOMPARE(int(GammaTable(0)[128]), 161);
        QCOMPARE(int(GammaTable(2)[128]), 161);
    }

    void ModeNamesAndCaptions()
    {
        const QStringList names { "色调", "饱和度", "亮度", "红色", "绿色", "蓝色" };
        TColorBoxForm form;
        for (int mode = cmHue; mode <= cmBlue; ++mode) {
            QCOMPARE(TColorBoxForm::ModeName(TColorBoxMode(mode)), names[mode]);
            form.SelectMode(TColorBoxMode(mode));
            QCOMPARE(form.ValuesGroupBox->title(), "函数值 (" + names[mode] + ")");
        }
    }

    void RedModeMarkersForPureRed()
    {
        TColorBoxForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(form.RedRadioButton, Qt::LeftButton);
        QCOMPARE(form.Mode(), cmRed);
        QVERIFY(form.RedRadioButton->isChecked());
        // Red 255 at the top of the strip; green 0 and blue 0 at the bottom
        // left of the plane.
        QCOMPARE(form.StripY(), 0);
        QCOMPARE(form.PlaneX(), 0);
        QCOMPARE(form.PlaneY(), 255);
        QCOMPARE(form.CurrentColor(), RGBToColor(255, 0, 0));
    }

    void SetColorDerivesEverything()
    {
        TColorBoxForm form;
        form.SetColor(RGBToColor(0, 255, 0));
        QCOMPARE(form.InitialColor(), RGBToColor(0, 255, 0));
        QCOMPARE(form.HSBValues(), (THSBValues { 21845, 65280, 65280 }));
        QCOMPARE(EditTexts(form), (QStringList { "120", "100", "100", "0", "255", "0" }));
        QCOMPARE(form.StripY(), 255 - 21845 / 256);
        QCOMPARE(form.PlaneX(), 255);
        QCOMPARE(form.PlaneY(), 0);
        // A hue just below a full turn shows as 360, clamped to 359.
        form.SetColor(RGBToColor(255, 0, 1));
        QCOMPARE(form.HSBValues().Hue, 65536 - 43);
        QCOMPARE(form.HueEdit->text(), QStringLiteral("359"));
        // Saturation and brightness shown in percent, rounded.
        form.SetColor(RGBToColor(128, 64, 64));
        QCOMPARE(form.SatEdit->text(), QStringLiteral("50"));
        QCOMPARE(form.BriEdit->text(), QStringLiteral("50"));
    }

    void SetColorOfTheCurrentColourDoesNothing()
    {
        TColorBoxForm form;
        form.PickPlane(100, 100);
        const TColor picked = form.CurrentColor();
        QVERIFY(picked != form.InitialColor());
        form.SetColor(picked);
        QCOMPARE(form.InitialColor(), RGBToColor(255, 0, 0));
        QCOMPARE(form.PlaneX(), 100);
    }

    void PlanePicksInHSBAndRGBModes()
    {
        TColorBoxForm form;
        // Hue mode: saturation along x, brightness up y; the hue stays.
        form.PickPlane(128, 64);
        QCOMPARE(form.HSBValues(), (THSBValues { 0, 128 * 256, (255 - 64) * 256 }));
        QCOMPARE(form.CurrentColor(), HSBToColor(0, 128 * 256, (255 - 64) * 256));
        QCOMPARE(form.RedEdit->text(), QString::number(RedOf(form.CurrentColor())));
        QCOMPARE(form.SatEdit->text(), QStringLiteral("50"));
        QCOMPARE(form.PlaneX(), 128);
        QCOMPARE(form.PlaneY(), 64);

        // Green mode: red along x, blue up y, green from the colour.
        form.SetColor(RGBToColor(10, 20, 30));
        form.SelectMode(cmGreen);
        form.PickPlane(200, 55);
        QCOMPARE(form.CurrentColor(), RGBToColor(200, 20, 200));
        QCOMPARE(form.HSBValues(), ColorToHSB(RGBToColor(200, 20, 200)));
        QCOMPARE(form.GreenEdit->text(), QStringLiteral("20"));
        QCOMPARE(form.BlueEdit->text(), QStringLiteral("200"));
    }

    void PlanePicksOutsideClampToTheEdge()
    {
        TColorBoxForm form;
        form.PickPlane(-20, 300);
        QCOMPARE(form.PlaneX(), 0);
        QCOMPARE(form.PlaneY(), 255);
        QCOMPARE(form.CurrentColor(), RGBToColor(0, 0, 0));
        form.PickPlane(1000, -5);
        QCOMPARE(form.PlaneX(), 255);
        QCOMPARE(form.PlaneY(), 0);
        QCOMPARE(form.CurrentColor(), RGBToColor(255, 0, 0));
        QCOMPARE(form.UpdateRect(), QRect(0, 0, 256, 256));
    }

    void MouseDragsPickAndClamp()
    {
        TColorBoxForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        SendMouse(form.BigPaintBox, QEvent::MouseButtonPress, QPoint(30, 40), Qt::LeftButton);
        QCOMPARE(form.PlaneX(), 30);
        QCOMPARE(form.PlaneY(), 40);
        SendMouse(form.BigPaintBox, QEvent::MouseMove, QPoint(-50, 400), Qt::LeftButton);
        QCOMPARE(form.PlaneX(), 0);
        QCOMPARE(form.PlaneY(), 255);
        SendMouse(form.BigPaintBox, QEvent::MouseButtonRelease, QPoint(-50, 400), Qt::NoButton);
        // Without the button a move picks nothing.
        SendMouse(form.BigPaintBox, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton);
        QCOMPARE(form.PlaneX(), 0);

        SendMouse(form.SmallPaintBox, QEvent::MouseButtonPress, QPoint(5, 100), Qt::LeftButton);
        QCOMPARE(form.StripY(), 100);
        SendMouse(form.SmallPaintBox, QEvent::MouseMove, QPoint(40, -9), Qt::LeftButton);
        QCOMPARE(form.StripY(), 0);
    }

    void StripPicksSetTheSelectedComponent()
    {
        TColorBoxForm form;
        form.PickStrip(170);
        QCOMPARE(form.StripY(), 170);
        QCOMPARE(form.HSBValues().Hue, 85 * 256);
        QCOMPARE(form.CurrentColor(), HSBToColor(85 * 256, 65280, 65280));
        form.PickStrip(-3);
        QCOMPARE(form.StripY(), 0);
        QCOMPARE(form.HSBValues().Hue, 65280);
        QCOMPARE(form.HueEdit->text(), QStringLiteral("359"));

        form.SetColor(RGBToColor(10, 20, 30));
        form.SelectMode(cmBlue);
        form.PickStrip(300);
        QCOMPARE(form.StripY(), 255);
        QCOMPARE(form.CurrentColor(), RGBToColor(10, 20, 0));
        QCOMPARE(form.HSBValues(), ColorToHSB(RGBToColor(10, 20, 0)));
    }

    void PlaneStripAndSwatchShowTheirColours()
    {
        TColorBoxForm form;
        form.SetColor(RGBToColor(40, 200, 90));
        form.PickPlane(200, 30);
        const THSBValues hsb = form.HSBValues();
        const QImage plane = form.BigPaintBox->Screen();
        for (const QPoint at :
            { QPoint(0, 0), QPoint(17, 250), QPoint(128, 128), QPoint(255, 255) }) {
            QVERIFY(!UnderMarker(at.x(), at.y(), 200, 30));
            const TColor expected = GammaColor(HSBToColor(
                hsb.Hue, std::uint16_t(256 * at.x()), std::uint16_t(256 * (255 - at.y()))));
            QCOMPARE(ScreenColor(plane, at.x(), at.y()), expected);
        }
        const QImage strip = form.SmallPaintBox->Screen();
        for (int row : { 0, 50, 100, 255 }) {
            const TColor expected
                = GammaColor(HueToColor(std::uint16_t((65536 - 256 * row) & 0xFFFF)));
            QCOMPARE(ScreenColor(strip, 0, row), expected);
            QCOMPARE(ScreenColor(strip, 23, row), expected);
        }
        // The marker's ring stands out from the plane under it.
        int ring = 0;
        for (int y = 30 - 8; y < 30 + 8; ++y)
            for (int x = 200 - 8; x < 200 + 8; ++x)
                ring += ScreenColor(plane, x, y)
                    != GammaColor(HSBToColor(
                        hsb.Hue, std::uint16_t(256 * x), std::uint16_t(256 * (255 - y))));
        QVERIFY(ring > 20);
        QVERIFY(ring < 16 * 16 / 2);

        // The swatch: exact colours, the opening one above the current one.
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QImage swatch = form.DisplayPaintBox->grab().toImage();
        QCOMPARE(ScreenColor(swatch, 10, 5), RGBToColor(40, 200, 90));
        QCOMPARE(ScreenColor(swatch, 140, 23), RGBToColor(40, 200, 90));
        QCOMPARE(ScreenColor(swatch, 10, 24), form.CurrentColor());
        QCOMPARE(ScreenColor(swatch, 140, 47), form.CurrentColor());
    }

    void PlaneDragRedrawsOnlyTheTwoMarkerSquares()
    {
        TColorBoxForm form;
        form.SelectMode(cmRed);
        form.PickPlane(50, 60);
        // Paint over the box where neither square lies: the next pick must not
        // touch it, while both squares come out right.
        QImage& screen = form.BigPaintBox->Screen();
        const QRgb poison = qRgb(1, 2, 3);
        screen.setPixel(150, 200, poison);
        screen.setPixel(43, 53, poison); // in the square the marker leaves
        screen.setPixel(205, 15, poison); // in the square it enters
        form.PickPlane(210, 20);
        QCOMPARE(screen.pixel(150, 200), poison);
        const TColor red = RedOf(form.CurrentColor());
        QCOMPARE(ScreenColor(screen, 43, 53), GammaColor(RGBToColor(red, 43, 255 - 53)));
        QVERIFY(screen.pixel(205, 15) != poison);
        QCOMPARE(form.UpdateRect(), QRect(0, 0, 256, 256));

        // Everything else agrees with a full redraw.
        const QImage partial = screen.copy();
        form.SelectMode(cmRed);
        const QImage& full = form.BigPaintBox->Screen();
        QVERIFY(full.pixel(150, 200) != poison);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                if (x != 150 || y != 200)
                    QCOMPARE(partial.pixel(x, y), full.pixel(x, y));
    }

    void ShallowScreensGetBlocksAndBands()
    {
        SetScreenColorDepth(8);
        TColorBoxForm form;
        form.SetColor(RGBToColor(30, 160, 220));
        const TDIB& plane = form.PlanePicture();
        const THSBValues hsb = form.HSBValues();
        for (int by = 0; by < 256; by += 16) {
            for (int bx = 0; bx < 256; bx += 16) {
                const TColor expected = GammaColor(
                    HSBToColor(hsb.Hue, std::uint16_t(256 * bx), std::uint16_t(256 * (255 - by))));
                for (int y = by; y < by + 16; ++y)
                    for (int x = bx; x < bx + 16; ++x)
                        if (!UnderMarker(x, y, form.PlaneX(), form.PlaneY()))
                            QCOMPARE(PictureColor(plane, x, y), expected);
            }
        }
        const TDIB& strip = form.StripPicture();
        for (int row = 0; row < 256; ++row) {
            if (row >= form.StripY() - 8 && row < form.StripY() + 8)
                continue;
            const int first = row / 8 * 8;
            QCOMPARE(PictureColor(strip, 0, row),
                GammaColor(HueToColor(std::uint16_t((65536 - 256 * first) & 0xFFFF))));
        }
        // A drag keeps to the block grid too.
        form.PickPlane(100, 100);
        form.PickPlane(37, 201);
        const QImage dragged = form.BigPaintBox->Screen().copy();
        form.SelectMode(cmHue);
        QCOMPARE(dragged, form.BigPaintBox->Screen());
    }

    void TypingAHueGivesGreen()
    {
        TColorBoxForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.OKButton->setFocus(Qt::TabFocusReason);
        form.HueEdit->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(form.HueEdit, QStringLiteral("120"));
        form.SatEdit->setFocus(Qt::TabFocusReason);
        QCOMPARE(form.CurrentColor(), RGBToColor(0, 255, 0));
        QCOMPARE(form.RedEdit->text(), QStringLiteral("0"));
        QCOMPARE(form.GreenEdit->text(), QStringLiteral("255"));
        QCOMPARE(form.BlueEdit->text(), QStringLiteral("0"));
        QCOMPARE(form.StripY(), 255 - 21845 / 256);
        // Typing into an RGB edit goes the other way.
        form.BlueEdit->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(form.BlueEdit, QStringLiteral("255"));
        form.RedEdit->setFocus(Qt::TabFocusReason);
        QCOMPARE(form.CurrentColor(), RGBToColor(0, 255, 255));
        QCOMPARE(form.HueEdit->text(), QStringLiteral("180"));
    }

    void LeavingAnUnmodifiedEditDoesNothing()
    {
        TColorBoxForm form;
        // Recomputing this colour from the rounded edits would move it.
        const TColor color = RGBToColor(201, 99, 47);
        form.SetColor(color);
        const THSBValues fromEdits { std::uint16_t(qRound(form.HueEdit->Value() * 65535.0 / 360)),
            std::uint16_t(qRound(form.SatEdit->Value() * 652.8)),
            std::uint16_t(qRound(form.BriEdit->Value() * 652.8)) };
        QVERIFY(HSBToColor(fromEdits) != color);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.HueEdit->setFocus(Qt::TabFocusReason);
        form.SatEdit->setFocus(Qt::TabFocusReason);
        form.RedEdit->setFocus(Qt::TabFocusReason);
        form.OKButton->setFocus(Qt::TabFocusReason);
        QCOMPARE(form.CurrentColor(), color);
        QCOMPARE(form.HSBValues(), ColorToHSB(color));
    }

    void EnterInAnEditConfirmsWithTheTypedNumber()
    {
        TColorBoxForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.OKButton->setFocus(Qt::TabFocusReason);
        form.GreenEdit->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(form.GreenEdit, QStringLiteral("128"));
        QTest::keyClick(form.GreenEdit, Qt::Key_Return);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        QCOMPARE(form.GetColor(), RGBToColor(255, 128, 0));
    }

    void CancelReturnsTheOpeningColour()
    {
        TColorBoxForm form;
        form.SetColor(RGBToColor(12, 34, 56));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.PickPlane(200, 10);
        form.PickStrip(3);
        QVERIFY(form.GetColor() != RGBToColor(12, 34, 56));
        QTest::mouseClick(form.CancelButton, Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(form.GetColor(), RGBToColor(12, 34, 56));

        form.show();
        form.PickPlane(200, 10);
        QTest::keyClick(&form, Qt::Key_Escape);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(form.GetColor(), RGBToColor(12, 34, 56));

        form.show();
        form.PickPlane(200, 10);
        const TColor picked = form.GetColor();
        QTest::mouseClick(form.OKButton, Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.GetColor(), picked);
    }

    void ExecuteHandsTheColourBackOnlyWhenConfirmed()
    {
        TColorBox box;
        QCOMPARE(box.Caption(), QStringLiteral("Color selection"));
        QCOMPARE(box.Color(), TColor(0));
        box.SetCaption(QStringLiteral("颜色"));
        box.SetColor(RGBToColor(1, 2, 3));

        QString title;
        QPoint where;
        QTimer::singleShot(0, [&] {
            auto* form = qobject_cast<TColorBoxForm*>(QApplication::activeModalWidget());
            QVERIFY(form);
            title = form->windowTitle();
            where = form->pos();
            QCOMPARE(form->InitialColor(), RGBToColor(1, 2, 3));
            form->PickPlane(0, 0);
            form->CancelButton->click();
        });
        QVERIFY(!box.Execute());
        QCOMPARE(title, QStringLiteral("颜色"));
        QCOMPARE(box.Color(), RGBToColor(1, 2, 3));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(where,
            QPoint(
                screen.x() + (screen.width() - 465) / 2, screen.y() + (screen.height() - 273) / 2));

        TColor chosen = 0;
        QTimer::singleShot(0, [&] {
            auto* form = qobject_cast<TColorBoxForm*>(QApplication::activeModalWidget());
            QVERIFY(form);
            form->SelectMode(cmRed);
            form->PickPlane(255, 0);
            chosen = form->GetColor();
            form->OKButton->click();
        });
        QVERIFY(box.Execute());
        QCOMPARE(chosen, RGBToColor(1, 255, 255));
        QCOMPARE(box.Color(), chosen);
    }
};

QTEST_MAIN(TestColorBox)
#include "tst_XColorBoxComp.moc"
