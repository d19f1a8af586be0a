// The labelled slider as the user meets it: mouse, keyboard, double-click,
// events and painting.

#include "ui/controls/XNiceScrollBarComp.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

using namespace zx;

namespace {

// Records OnScroll and OnChange in the order they come.
struct TEventLog {
    std::vector<std::string> Events;
    std::vector<int> Positions;

    explicit TEventLog(TNiceScrollBar& slider)
    {
        QObject::connect(&slider, &TNiceScrollBar::OnScroll,
            [this](TNiceScrollBar*, TScrollCode code, int& position) {
                Events.push_back("scroll " + std::to_string(int(code)));
                Positions.push_back(position);
            });
        QObject::connect(&slider, &TNiceScrollBar::OnChange, [this](TNiceScrollBar* sender) {
            Events.push_back("change");
            Positions.push_back(sender->Position());
        });
    }
};

void Move(QWidget& widget, QPoint at, Qt::MouseButtons held)
{
    QMouseEvent event(
        QEvent::MouseMove, at, widget.mapToGlobal(at), Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

// The 136-pixel example: -100..100 in steps of 2.
void MakeWide(TNiceScrollBar& slider)
{
    slider.resize(136, 32);
    slider.SetMin(-100);
    slider.SetSmallChange(2);
    slider.SetLabelCaption(QStringLiteral("频率：<#Pos>"));
}

} // namespace

class tst_XNiceScrollBarComp : public QObject {
    Q_OBJECT

private slots:
    void aNewSliderIsHundredStepsWideAtZero()
    {
        TNiceScrollBar slider;
        QCOMPARE(slider.size(), QSize(120, 32));
        QCOMPARE(slider.Min(), 0);
        QCOMPARE(slider.Max(), 100);
        QCOMPARE(slider.Position(), 0);
        QCOMPARE(slider.DefaultMode(), dmDisabled);
        QCOMPARE(slider.SmallChange(), 1);
        QCOMPARE(slider.LabelText(), QStringLiteral("Position: 0"));
        QVERIFY(slider.focusPolicy() & Qt::TabFocus);
    }

    void settersNeverFireEvents()
    {
        TNiceScrollBar slider;
        TEventLog log(slider);
        slider.SetPosition(70);
        slider.SetMax(40); // lowers the position to 40, silently
        QCOMPARE(slider.Position(), 40);
        slider.SetMin(50);
        slider.SetDefaultPos(3);
        slider.SetSmallChange(7);
        slider.SetEnabled(false);
        slider.SetLabelCaption(QStringLiteral("x"));
        QVERIFY(log.Events.empty());
    }

    void pressBesideTheThumbJumpsAndDrags()
    {
        TNiceScrollBar slider;
        MakeWide(slider);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        TEventLog log(slider);

        // The thumb's centre comes under the mouse, snapped to even positions.
        const int y = slider.ThumbOrigin().Y + 6;
        QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(100, y));
        QVERIFY(slider.Hold());
        QCOMPARE(slider.Position() % 2, 0);
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 5", "change" }));
        // The thumb now sits under the mouse.
        QVERIFY(slider.ThumbOrigin().X <= 100 && 100 < slider.ThumbOrigin().X + 24);

        // Dragging keeps the grab offset and the grid.
        for (int x = 100; x >= 0; x -= 7) {
            Move(slider, QPoint(x, y), Qt::LeftButton);
            QCOMPARE(slider.Position() % 2, 0);
        }
        Move(slider, QPoint(-300, y), Qt::LeftButton);
        QCOMPARE(slider.Position(), -100);
        QCOMPARE(slider.ThumbOrigin().X, 0);

        // The release ends the drag with code 8 and no OnChange.
        log.Events.clear();
        QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(-300, y));
        QVERIFY(!slider.Hold());
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 8" }));
    }

    void pressOnTheThumbStartsADragWithoutMoving()
    {
        TNiceScrollBar slider;
        MakeWide(slider);
        slider.SetPosition(100);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        TEventLog log(slider);
        const TSliderPoint origin = slider.ThumbOrigin();
        QCOMPARE(origin.X, 112);
        QTest::mousePress(
            &slider, Qt::LeftButton, Qt::NoModifier, QPoint(origin.X + 3, origin.Y + 2));
        QVERIFY(slider.Hold());
        QCOMPARE(slider.GrabX(), 3);
        QCOMPARE(slider.GrabY(), 2);
        QVERIFY(log.Events.empty());
        QTest::mouseRelease(
            &slider, Qt::LeftButton, Qt::NoModifier, QPoint(origin.X + 3, origin.Y + 2));
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 8" }));
        QCOMPARE(slider.Position(), 100);
    }

    void otherButtonsAndTheDisabledSliderIgnorePresses()
    {
        TNiceScrollBar slider;
        MakeWide(slider);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        TEventLog log(slider);
        QTest::mousePress(&slider, Qt::RightButton, Qt::NoModifier, QPoint(10, 22));
        QVERIFY(!slider.Hold());
        slider.SetEnabled(false);
        QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(10, 22));
        QVERIFY(!slider.Hold());
        QCOMPARE(slider.Position(), 0);
        // The arrow keys still work on a disabled slider.
        slider.setFocus();
        QTest::keyClick(&slider, Qt::Key_Right);
        QCOMPARE(slider.Position(), 2);
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 1", "change" }));
    }

    void disablingEndsADragWithoutAnEvent()
    {
        TNiceScrollBar slider;
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(60, 22));
        QVERIFY(slider.Hold());
        TEventLog log(slider);
        slider.SetEnabled(false);
        QVERIFY(!slider.Hold());
        QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(60, 22));
        QVERIFY(log.Events.empty());
    }

    void doubleClickReturnsToTheDefaultAndSkipsItsPress()
    {
        TNiceScrollBar slider;
        MakeWide(slider);
        slider.SetDefaultMode(dmFixed);
        slider.SetDefaultPos(50);
        slider.SetPosition(-40);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        TEventLog log(slider);
        const QPoint thumb(slider.ThumbOrigin().X + 5, slider.ThumbOrigin().Y + 5);
        QTest::mouseDClick(&slider, Qt::LeftButton, Qt::NoModifier, thumb);
        QCOMPARE(slider.Position(), 50);
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 4", "change" }));
        QCOMPARE(log.Positions.front(), 50);
        // The press folded into the double-click neither jumped nor dragged,
        // and the next press is an ordinary one again.
        QVERIFY(!slider.Hold());
        QVERIFY(!slider.SkipMouseDown());
        log.Events.clear();
        QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(2, thumb.y()));
        QVERIFY(slider.Hold());
        QCOMPARE(slider.Position(), -100);
        QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(2, thumb.y()));

        // At the default already: no change event, but still no jump.
        log.Events.clear();
        slider.SetPosition(50);
        QTest::mouseDClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(2, thumb.y()));
        QCOMPARE(slider.Position(), 50);
        QVERIFY(log.Events.empty());
    }

    void doubleClickOnADisabledDefaultIsTwoPresses()
    {
        TNiceScrollBar slider;
        MakeWide(slider);
        slider.SetDefaultPos(50);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        TEventLog log(slider);
        QTest::mouseDClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(130, 22));
        QCOMPARE(slider.Position(), 100);
        QVERIFY(slider.Hold());
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 5", "change" }));
    }

    void onlyTheArrowKeysOfTheOwnAxisStep()
    {
        TNiceScrollBar slider;
        slider.SetSmallChange(5);
        slider.SetPosition(50);
        slider.show();
        slider.setFocus();
        TEventLog log(slider);
        QTest::keyClick(&slider, Qt::Key_Left);
        QCOMPARE(slider.Position(), 45);
        QTest::keyClick(&slider, Qt::Key_Up);
        QTest::keyClick(&slider, Qt::Key_Home);
        QTest::keyClick(&slider, Qt::Key_PageUp);
        QCOMPARE(slider.Position(), 45);
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 0", "change" }));

        // The keyboard steps from the current value, without the mouse's grid.
        slider.SetPosition(98);
        log.Events.clear();
        QTest::keyClick(&slider, Qt::Key_Right);
        QCOMPARE(slider.Position(), 100);
        QTest::keyClick(&slider, Qt::Key_Right);
        QCOMPARE(slider.Position(), 100);
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 1", "change" }));

        slider.SetKind(sbVertical);
        log.Events.clear();
        QTest::keyClick(&slider, Qt::Key_Right);
        QTest::keyClick(&slider, Qt::Key_Down);
        QCOMPARE(slider.Position(), 95);
        QCOMPARE(log.Events, (std::vector<std::string> { "scroll 0", "change" }));
    }

    void paintsGrooveThumbAndLabel()
    {
        TNiceScrollBar slider;
        slider.SetLabelCaption(QStringLiteral("帧数：<#Pos>"));
        slider.SetPosition(50);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        const QImage picture = slider.grab().toImage();
        const QPalette colours = slider.palette();
        const TSliderPoint origin = slider.ThumbOrigin();
        const int cy = origin.Y + 6;
        // The black centre line of the groove, away from the thumb.
        QCOMPARE(picture.pixel(5, cy), QColor(Qt::black).rgb());
        QCOMPARE(picture.pixel(5, cy - 1), colours.color(QPalette::Dark).rgb());
        QCOMPARE(picture.pixel(5, cy + 1), colours.color(QPalette::Light).rgb());
        // The thumb: black bottom edge, face inside, ridges of shadow and highlight.
        QCOMPARE(picture.pixel(origin.X + 3, origin.Y + 11), QColor(Qt::black).rgb());
        QCOMPARE(picture.pixel(origin.X + 3, origin.Y + 5), colours.color(QPalette::Button).rgb());
        QCOMPARE(picture.pixel(origin.X + 5, origin.Y + 5), colours.color(QPalette::Dark).rgb());
        QCOMPARE(picture.pixel(origin.X + 6, origin.Y + 5), colours.color(QPalette::Light).rgb());
        // Some text above the thumb.
        bool anyText = false;
        for (int y = 0; y < origin.Y; ++y)
            for (int x = 0; x < slider.width(); ++x)
                anyText |= picture.pixel(x, y) != colours.color(QPalette::Button).rgb();
        QVERIFY(anyText);
    }
};

QTEST_MAIN(tst_XNiceScrollBarComp)
#include "tst_XNiceScrollBarComp.moc"
