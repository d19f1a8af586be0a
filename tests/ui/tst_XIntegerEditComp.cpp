#include "ui/controls/XIntegerEditComp.h"

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace zx;

namespace {

class TCountingEdit : public TIntegerEdit {
public:
    using TIntegerEdit::TIntegerEdit;
    int Beeps = 0;

protected:
    void SoundBeep() override { ++Beeps; }
};

// An edit that also takes the decimal point, as a subclass may.
class TPointEdit : public TIntegerEdit {
public:
    using TIntegerEdit::TIntegerEdit;
    bool IsValidChar(char32_t ch) const override
    {
        return ch == U'.' || TIntegerEdit::IsValidChar(ch);
    }
};

// A window with the edit under test and a second control to leave it for.
struct TWindow {
    QDialog Window;
    TCountingEdit* Edit = new TCountingEdit(&Window);
    QPushButton* Other = new QPushButton(QStringLiteral("other"), &Window);

    TWindow()
    {
        auto* layout = new QVBoxLayout(&Window);
        layout->addWidget(Edit);
        layout->addWidget(Other);
        Window.show();
        Window.activateWindow();
    }
    // The edit, as the first control, takes the focus when the window comes
    // up; the tests start from the other control.
    bool Active()
    {
        if (!QTest::qWaitForWindowActive(&Window))
            return false;
        Leave();
        return !Edit->hasFocus();
    }
    void Enter() { Edit->setFocus(Qt::TabFocusReason); }
    void Leave() { Other->setFocus(Qt::TabFocusReason); }
};

} // namespace

class TestIntegerEdit : public QObject {
    Q_OBJECT

private slots:
    void StartsAsZeroInZeroToHundred()
    {
        TIntegerEdit edit;
        QCOMPARE(edit.text(), QStringLiteral("0"));
        QCOMPARE(edit.MinValue(), 0);
        QCOMPARE(edit.MaxValue(), 100);
        QVERIFY(!edit.Beep());
    }

    void LeavingShowsTheClampedValue_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<QString>("shown");
        QTest::newRow("above") << "300" << 0 << 255 << "255";
        QTest::newRow("negative") << "-5" << 0 << 255 << "0";
        QTest::newRow("minus between digits") << "1-2" << 0 << 255 << "0";
        QTest::newRow("not a number gives the minimum") << "1-2" << 20 << 255 << "20";
        QTest::newRow("empty") << "" << 7 << 255 << "7";
        QTest::newRow("inside") << "128" << 0 << 255 << "128";
        QTest::newRow("leading zeros") << "007" << 0 << 255 << "7";
        QTest::newRow("negative range") << "-5" << -10 << 10 << "-5";
        QTest::newRow("below") << "3" << 10 << 20 << "10";
    }
    void LeavingShowsTheClampedValue()
    {
        QFETCH(QString, typed);
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(QString, shown);
        TWindow w;
        QVERIFY(w.Active());
        w.Edit->SetMaxValue(maxValue);
        w.Edit->SetMinValue(minValue);
        w.Enter();
        QTest::keyClick(w.Edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w.Edit, Qt::Key_Backspace);
        QTest::keyClicks(w.Edit, typed);
        QCOMPARE(w.Edit->text(), typed);
        w.Leave();
        QCOMPARE(w.Edit->text(), shown);
    }

    void OnExitSeesTheTextAsTyped()
    {
        TWindow w;
        QVERIFY(w.Active());
        w.Edit->SetMaxValue(255);
        QString seen;
        bool seenModified = false;
        QSignalSpy spy(w.Edit, &TIntegerEdit::OnExit);
        QObject::connect(w.Edit, &TIntegerEdit::OnExit, [&](TIntegerEdit* sender) {
            seen = sender->text();
            seenModified = sender->isModified();
        });
        w.Enter();
        QTest::keyClicks(w.Edit, QStringLiteral("300"));
        w.Leave();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<TIntegerEdit*>(), w.Edit);
        QCOMPARE(seen, QStringLiteral("300"));
        QVERIFY(seenModified);
        QCOMPARE(w.Edit->text(), QStringLiteral("255"));
        QVERIFY(!w.Edit->isModified());
    }

    void LettersAreRejectedAndBeepOnlyWhenAsked()
    {
        TWindow w;
        QVERIFY(w.Active());
        w.Enter();
        QTest::keyClicks(w.Edit, QStringLiteral("1a2 b."));
        QCOMPARE(w.Edit->text(), QStringLiteral("12"));
        QCOMPARE(w.Edit->Beeps, 0);
        w.Edit->SetBeep(true);
        QTest::keyClicks(w.Edit, QStringLiteral("x3y"));
        QCOMPARE(w.Edit->text(), QStringLiteral("123"));
        QCOMPARE(w.Edit->Beeps, 2);
        // Editing keys are no typed characters.
        QTest::keyClick(w.Edit, Qt::Key_Backspace);
        QTest::keyClick(w.Edit, Qt::Key_Home);
        QTest::keyClick(w.Edit, Qt::Key_Delete);
        QCOMPARE(w.Edit->text(), QStringLiteral("2"));
        QTest::keyClicks(w.Edit, QStringLiteral("-"));
        QCOMPARE(w.Edit->text(), QStringLiteral("-2"));
        QCOMPARE(w.Edit->Beeps, 2);
    }

    void ClipboardKeysWork()
    {
        TWindow w;
        QVERIFY(w.Active());
        w.Edit->SetBeep(true);
        QGuiApplication::clipboard()->setText(QStringLiteral("77"));
        w.Enter();
        QTest::keyClick(w.Edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.Edit->text(), QStringLiteral("77"));
        QTest::keyClick(w.Edit, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w.Edit->selectedText(), QStringLiteral("77"));
        QCOMPARE(w.Edit->Beeps, 0);
    }

    void SubclassesChooseTheirCharacters()
    {
        TPointEdit edit;
        edit.clear();
        QTest::keyClicks(&edit, QStringLiteral("1.5x"));
        QCOMPARE(edit.text(), QStringLiteral("1.5"));
    }

    void EnterReachesTheDefaultButton()
    {
        TWindow w;
        QVERIFY(w.Active());
        w.Other->setDefault(true);
        QSignalSpy clicked(w.Other, &QPushButton::clicked);
        w.Enter();
        QTest::keyClicks(w.Edit, QStringLiteral("42"));
        QTest::keyClick(w.Edit, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(w.Edit->text(), QStringLiteral("42"));
    }

    void KeyboardFocusSelectsAllButAMousePressDoesNot()
    {
        TWindow w;
        QVERIFY(w.Active());
        w.Edit->SetValue(42);
        w.Enter();
        QCOMPARE(w.Edit->selectedText(), QStringLiteral("42"));
        w.Leave();
        w.Edit->setFocus(Qt::OtherFocusReason);
        QCOMPARE(w.Edit->selectedText(), QStringLiteral("42"));
        w.Leave();
        QVERIFY(!w.Edit->hasFocus());
        QTest::mouseClick(w.Edit, Qt::LeftButton, {}, QPoint(2, w.Edit->height() / 2));
        QVERIFY(w.Edit->hasFocus());
        QVERIFY(w.Edit->selectedText().isEmpty());
    }

    void TheFirstFocusOfAnOpeningWindowSelectsAll()
    {
        TWindow w;
        QVERIFY(QTest::qWaitForWindowActive(&w.Window));
        QVERIFY(w.Edit->hasFocus());
        QCOMPARE(w.Edit->selectedText(), QStringLiteral("0"));
    }

    void ValueReadNormalisesAndWriteClamps()
    {
        TIntegerEdit edit;
        edit.SetMaxValue(255);
        edit.setText(QStringLiteral("0042"));
        QCOMPARE(edit.Value(), 42);
        QCOMPARE(edit.text(), QStringLiteral("42"));
        edit.setText(QStringLiteral("abc"));
        QCOMPARE(edit.Value(), 0);
        QCOMPARE(edit.text(), QStringLiteral("0"));
        edit.SetValue(1000);
        QCOMPARE(edit.text(), QStringLiteral("255"));
        edit.SetValue(-1000);
        QCOMPARE(edit.text(), QStringLiteral("0"));
    }

    void RangeLimitsMoveTheValue()
    {
        TIntegerEdit edit;
        edit.SetValue(10);
        edit.SetMinValue(50);
        QCOMPARE(edit.text(), QStringLiteral("50"));
        edit.SetMaxValue(20);
        QCOMPARE(edit.MaxValue(), 50);
        QCOMPARE(edit.text(), QStringLiteral("50"));

        TIntegerEdit other;
        other.SetValue(90);
        other.SetMaxValue(80);
        QCOMPARE(other.text(), QStringLiteral("80"));
        other.SetMinValue(200);
        QCOMPARE(other.MinValue(), 80);
        QCOMPARE(other.text(), QStringLiteral("80"));
        // A limit that does not cut the value leaves the text alone.
        other.setText(QStringLiteral("030"));
        other.SetMinValue(80);
        QCOMPARE(other.text(), QStringLiteral("030"));
    }
};

QTEST_MAIN(TestIntegerEdit)
#include "tst_XIntegerEditComp.moc"
