#include "ui/ColorTestUtil.h"
#include "ui/controls/XColorBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XColorDepthUnit.h"
#include "ui/imaging/XDIBCanvas.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <utility>

using namespace zx;
using zx::test::ScreenColor;
using zx::test::SendMouse;

namespace {

constexpr TColor kWhite = 0xFFFFFF;
constexpr TColor kBlack = 0;
constexpr TColor kRed = 0x0000FF;

void PressChart(TColorChoice& choice, QPoint at)
{
    SendMouse(choice.Chart(), QEvent::MouseButtonPress, at, Qt::LeftButton);
    SendMouse(choice.Chart(), QEvent::MouseButtonRelease, at, Qt::NoButton);
}

// Pixels of the swatch close to black and close to white.
std::pair<int, int> DarkAndLightPixels(const QImage& image)
{
    int dark = 0, light = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            dark += qRed(c) < 40 && qGreen(c) < 40 && qBlue(c) < 40;
            light += qRed(c) > 215 && qGreen(c) > 215 && qBlue(c) > 215;
        }
    }
    return { dark, light };
}

// A window with a chooser and another control to take the focus from.
struct TWindow {
    QWidget Window;
    TColorChoice* Choice = new TColorChoice(&Window);
    QPushButton* Other = new QPushButton(QStringLiteral("x"), &Window);

    TWindow()
    {
        Other->move(0, 80);
        Window.show();
    }
    bool Active() { return QTest::qWaitForWindowActive(&Window); }
};

// Parts are placed when the chooser's size reaches them, which for a hidden
// widget waits until it is shown.
bool Shown(QWidget& widget)
{
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

// Answers the colour dialog that the chooser is about to open.
template <typename F> void AnswerDialog(F answer)
{
    QTimer::singleShot(0, [answer] {
        auto* form = qobject_cast<TColorBoxForm*>(QApplication::activeModalWidget());
        QVERIFY(form);
        answer(*form);
    });
}

} // namespace

class TestColorChoice : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetScreenColorDepth(0); }

    void Defaults()
    {
        TColorChoice choice;
        QCOMPARE(choice.size(), QSize(56, 56));
        QVERIFY(Shown(choice));
        QCOMPARE(choice.Color(), kBlack);
        QCOMPARE(choice.Caption(), QStringLiteral("Color"));
        QCOMPARE(choice.Kind(), ccVertical);
        QCOMPARE(choice.BorderStyle(), bsNone);
        QCOMPARE(choice.Display()->geometry(), QRect(0, 0, 56, 18));
        QCOMPARE(choice.Chart()->geometry(), QRect(0, 18, 56, 38));
        QCOMPARE(choice.Display()->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(choice.Chart()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(choice.Chart()->cursor().hotSpot(), QPoint(7, 7));
        QVERIFY(choice.focusPolicy() & Qt::TabFocus);

        choice.SetBorderStyle(bsSingle);
        const QRect inside = choice.contentsRect();
        QVERIFY(inside.x() > 0);
        QCOMPARE(choice.Display()->geometry(), QRect(inside.topLeft(), QSize(inside.width(), 18)));
        QCOMPARE(choice.Chart()->geometry().bottom(), inside.bottom());
    }

    void SettersStaySilent()
    {
        TColorChoice choice;
        QSignalSpy spy(&choice, &TColorChoice::OnChange);
        choice.SetColor(RGBToColor(1, 2, 3));
        choice.SetCaption(QStringLiteral("颜色"));
        choice.SetKind(ccHorizontal);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(choice.Color(), RGBToColor(1, 2, 3));
        QCOMPARE(choice.Caption(), QStringLiteral("颜色"));
        QCOMPARE(choice.Kind(), ccHorizontal);
        choice.SetColor(0xFF000000u | kRed);
        QCOMPARE(choice.Color(), kRed);
    }

    void HorizontalPicks()
    {
        TColorChoice choice;
        choice.SetKind(ccHorizontal);
        choice.resize(121, 57); // a chart of 121 x 39, row 19 in the middle
        QVERIFY(Shown(choice));
        QCOMPARE(choice.Chart()->size(), QSize(121, 39));
        QSignalSpy spy(&choice, &TColorChoice::OnChange);
        for (int x : { 0, 50, 120 }) {
            PressChart(choice, QPoint(x, 0));
            QCOMPARE(choice.Color(), kWhite);
            PressChart(choice, QPoint(x, 38));
            QCOMPARE(choice.Color(), kBlack);
        }
        PressChart(choice, QPoint(0, 19));
        QCOMPARE(choice.Color(), kRed);
        QCOMPARE(spy.count(), 7);
        QCOMPARE(spy.at(0).at(0).value<TColorChoice*>(), &choice);
    }

    void VerticalPicks()
    {
        TColorChoice choice;
        choice.resize(41, 118); // a chart of 41 x 100, column 20 in the middle
        QVERIFY(Shown(choice));
        QCOMPARE(choice.Chart()->size(), QSize(41, 100));
        PressChart(choice, QPoint(20, 0));
        QCOMPARE(choice.Color(), kRed);
        PressChart(choice, QPoint(0, 50));
        QCOMPARE(choice.Color(), kBlack);
        PressChart(choice, QPoint(40, 50));
        QCOMPARE(choice.Color(), kWhite);
    }

    void EveryPickFiresEvenWithoutAChangeAndTakesTheFocus()
    {
        TWindow w;
        QVERIFY(w.Active());
        TColorChoice* choice = w.Choice;
        w.Other->setFocus();
        QSignalSpy spy(choice, &TColorChoice::OnChange);
        PressChart(*choice, QPoint(0, 10));
        PressChart(*choice, QPoint(0, 20));
        QCOMPARE(choice->Color(), kBlack);
        QCOMPARE(spy.count(), 2);
        QVERIFY(choice->hasFocus());
    }

    void DraggingOutsidePicksAtTheNearestEdge()
    {
        TColorChoice choice;
        choice.SetKind(ccHorizontal);
        choice.resize(100, 60);
        QVERIFY(Shown(choice));
        TColorChart* chart = choice.Chart();
        QSignalSpy spy(&choice, &TColorChoice::OnChange);
        SendMouse(chart, QEvent::MouseButtonPress, QPoint(50, 10), Qt::LeftButton);
        SendMouse(chart, QEvent::MouseMove, QPoint(-30, 500), Qt::LeftButton);
        QCOMPARE(choice.Color(), ChartPick(ccHorizontal, 0, chart->height() - 1, 100, 42));
        QCOMPARE(choice.Color(), kBlack);
        SendMouse(chart, QEvent::MouseMove, QPoint(300, -40), Qt::LeftButton);
        QCOMPARE(choice.Color(), kWhite);
        SendMouse(chart, QEvent::MouseMove, QPoint(-1, 20), Qt::LeftButton);
        QCOMPARE(choice.Color(), ChartPick(ccHorizontal, 0, 20, 100, 42));
        SendMouse(chart, QEvent::MouseButtonRelease, QPoint(-1, 20), Qt::NoButton);
        QCOMPARE(spy.count(), 4);
        // Moves without the button pick nothing.
        SendMouse(chart, QEvent::MouseMove, QPoint(10, 41), Qt::NoButton);
        QCOMPARE(spy.count(), 4);
    }

    void CaptionColourFollowsTheSwatch()
    {
        TColorChoice choice;
        choice.resize(80, 60);
        choice.SetCaption(QStringLiteral("Color"));
        choice.SetColor(RGBToColor(200, 0, 0));
        auto [dark, light] = DarkAndLightPixels(choice.Display()->grab().toImage());
        QVERIFY(dark > 5);
        QCOMPARE(light, 0);
        choice.SetColor(RGBToColor(100, 100, 100));
        std::tie(dark, light) = DarkAndLightPixels(choice.Display()->grab().toImage());
        QCOMPARE(dark, 0);
        QVERIFY(light > 5);
        // The text sits in the middle: the corners keep the colour.
        const QImage swatch = choice.Display()->grab().toImage();
        QCOMPARE(ScreenColor(swatch, 0, 0), RGBToColor(100, 100, 100));
        QCOMPARE(ScreenColor(swatch, 79, 17), RGBToColor(100, 100, 100));
    }

    // A caption wider than the swatch (a translation's long word on the text
    // dialog's narrow chooser) is written smaller, whole and inside the focus
    // frame; one that fits keeps the font.
    void AWideCaptionIsWrittenSmaller()
    {
        TColorChoice choice;
        choice.SetKind(ccVertical);
        choice.SetBorderStyle(bsSingle);
        choice.resize(48, 152);
        choice.SetColor(RGBToColor(100, 100, 100));
        QVERIFY(Shown(choice));
        const auto textColumns = [&](const QString& caption) {
            choice.SetCaption(caption);
            const QImage swatch = choice.Display()->grab().toImage();
            int first = swatch.width();
            int last = -1;
            for (int y = 0; y < swatch.height(); ++y)
                for (int x = 0; x < swatch.width(); ++x)
                    if (qRed(swatch.pixel(x, y)) > 215) {
                        first = std::min(first, x);
                        last = std::max(last, x);
                    }
            return std::pair { first, last };
        };
        const int width = choice.Display()->width();
        const auto [first, last] = textColumns(QStringLiteral("Colour"));
        QVERIFY2(first >= 2 && last <= width - 3 && last > first + 10,
            qPrintable(QStringLiteral("%1..%2 of %3").arg(first).arg(last).arg(width)));

        TDIB scratch;
        scratch.SetSize(1, 1, 24);
        TDIBCanvas canvas(scratch);
        const TCanvasFont own = canvas.Font();
        FitSwatchCaption(canvas, QStringLiteral("颜色"), width);
        QCOMPARE(canvas.Font().Height, own.Height);
        FitSwatchCaption(canvas, QStringLiteral("Colour Colour"), width);
        QVERIFY(canvas.Font().Height >= 8);
    }

    void FocusDrawsTheFocusRectangle()
    {
        TColorChoice choice;
        choice.resize(80, 60);
        choice.SetColor(RGBToColor(100, 100, 100));
        choice.show();
        QVERIFY(QTest::qWaitForWindowActive(&choice));
        choice.clearFocus();
        QCOMPARE(ScreenColor(choice.Display()->grab().toImage(), 2, 2), RGBToColor(100, 100, 100));
        choice.setFocus(Qt::TabFocusReason);
        QVERIFY(choice.hasFocus());
        QCOMPARE(ScreenColor(choice.Display()->grab().toImage(), 2, 2), RGBToColor(155, 155, 155));
    }

    void ChartShowsWhatItsPicturePaints_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("depth");
        QTest::newRow("horizontal, deep") << int(ccHorizontal) << 32;
        QTest::newRow("vertical, deep") << int(ccVertical) << 24;
        QTest::newRow("horizontal, 8 bits") << int(ccHorizontal) << 8;
        QTest::newRow("vertical, 8 bits") << int(ccVertical) << 8;
    }
    void ChartShowsWhatItsPicturePaints()
    {
        QFETCH(int, kind);
        QFETCH(int, depth);
        SetScreenColorDepth(depth);
        TColorChoice choice;
        choice.SetKind(TColorChoiceKind(kind));
        choice.resize(70, 58);
        const QImage shown = choice.Chart()->grab().toImage();
        TDIB picture;
        picture.SetSize(70, 40, 32);
        PaintChart(picture, TColorChoiceKind(kind), depth < 15);
        QCOMPARE(shown.size(), QSize(70, 40));
        for (int y = 0; y < 40; ++y) {
            const std::uint8_t* row = picture.ConstScanLine(y);
            for (int x = 0; x < 70; ++x)
                QCOMPARE(ScreenColor(shown, x, y),
                    RGBToColor(row[4 * x + 2], row[4 * x + 1], row[4 * x]));
        }
        // Blocks only below 15 bits.
        const bool uniform = ScreenColor(shown, 1, 1) == ScreenColor(shown, 7, 7);
        QCOMPARE(uniform, depth < 15);
    }

    void KindRepaintsTheChart()
    {
        TColorChoice choice;
        choice.resize(60, 60);
        const QImage vertical = choice.Chart()->grab().toImage();
        choice.SetKind(ccHorizontal);
        const QImage horizontal = choice.Chart()->grab().toImage();
        QCOMPARE(ScreenColor(vertical, 0, 20), kBlack);
        QCOMPARE(ScreenColor(horizontal, 30, 0), kWhite);
    }

    void SpaceOpensTheDialogAndCancelChangesNothing()
    {
        TWindow w;
        QVERIFY(w.Active());
        TColorChoice* choice = w.Choice;
        choice->SetCaption(QStringLiteral("颜色"));
        choice->SetColor(RGBToColor(10, 20, 30));
        choice->setFocus(Qt::TabFocusReason);
        QSignalSpy spy(choice, &TColorChoice::OnChange);
        QString title;
        TColor opened = 0;
        AnswerDialog([&](TColorBoxForm& form) {
            title = form.windowTitle();
            opened = form.InitialColor();
            form.PickPlane(100, 100);
            form.CancelButton->click();
        });
        QTest::keyClick(choice, Qt::Key_Space);
        QCOMPARE(title, QStringLiteral("颜色"));
        QCOMPARE(opened, RGBToColor(10, 20, 30));
        QCOMPARE(choice->Color(), RGBToColor(10, 20, 30));
        QCOMPARE(spy.count(), 0);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(w.Window.focusWidget(), choice);
    }

    void SwatchClickOpensTheDialogAndConfirmingFires()
    {
        TColorChoice choice;
        choice.resize(80, 60);
        choice.show();
        QVERIFY(QTest::qWaitForWindowExposed(&choice));
        QSignalSpy spy(&choice, &TColorChoice::OnChange);
        TColor chosen = 0;
        AnswerDialog([&](TColorBoxForm& form) {
            form.SelectMode(cmGreen);
            form.PickPlane(255, 0);
            chosen = form.GetColor();
            form.OKButton->click();
        });
        QTest::mouseClick(choice.Display(), Qt::LeftButton, {}, QPoint(40, 9));
        QCOMPARE(chosen, RGBToColor(255, 0, 255));
        QCOMPARE(choice.Color(), chosen);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(ScreenColor(choice.Display()->grab().toImage(), 1, 1), chosen);

        // A press that leaves the swatch before the release is no click.
        SendMouse(choice.Display(), QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
        SendMouse(choice.Display(), QEvent::MouseButtonRelease, QPoint(5, 40), Qt::NoButton);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_MAIN(TestColorChoice)
#include "tst_XColorChoiceComp.moc"
