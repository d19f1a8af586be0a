// The controls made from the settings table: each as its row describes it,
// values shown without a word, every user change reported once, and the
// enabled states and program-written captions following the values.

#include "core/flag/FlagSettings.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XIntegerEditComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/XSettingControls.h"

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace zx;

class tst_XSettingControls : public QObject {
    Q_OBJECT

    struct TPage {
        QWidget Widget;
        TSettingControls Controls { &Widget };
        TNiceScrollBar* Frames;
        TNiceScrollBar* Angle;
        TNiceScrollBar* Loops;
        TNiceScrollBar* Shadow;
        QCheckBox* Radial;
        TRadioGroup* Antialias;
        TColorChoice* Background;

        TPage()
        {
            auto* layout = new QVBoxLayout(&Widget);
            const auto add = [&](const char* name) {
                QWidget* control = Controls.Make(name, &Widget);
                layout->addWidget(control);
                return control;
            };
            Frames = static_cast<TNiceScrollBar*>(add("Frames"));
            Angle = static_cast<TNiceScrollBar*>(add("Angle"));
            Loops = static_cast<TNiceScrollBar*>(add("GIFLoops"));
            Shadow = static_cast<TNiceScrollBar*>(add("FontShaddow"));
            Radial = static_cast<QCheckBox*>(add("Radial"));
            Antialias = static_cast<TRadioGroup*>(add("Antialiasing"));
            Background = static_cast<TColorChoice*>(add("BackgroundColor"));
        }
    };

private slots:
    void eachControlIsMadeAsItsRowSays()
    {
        TPage page;
        QCOMPARE(page.Frames->objectName(), QStringLiteral("FramesNiceScrollBar"));
        QCOMPARE(page.Frames->Min(), 1);
        QCOMPARE(page.Frames->Max(), 40);
        QCOMPARE(page.Frames->Position(), 8);
        QCOMPARE(page.Frames->DefaultPos(), 8);
        QCOMPARE(page.Frames->DefaultMode(), dmFixed);
        QCOMPARE(page.Frames->LabelText(), QStringLiteral("帧数：8"));
        QCOMPARE(page.Shadow->SmallChange(), 5);
        QCOMPARE(page.Shadow->LabelText(), QStringLiteral("投影深度：25%"));
        // A caption the program writes for the position.
        QCOMPARE(page.Loops->LabelCaption(), QStringLiteral("循环：连续不断"));
        QCOMPARE(page.Radial->objectName(), QStringLiteral("RadialCheckBox"));
        QCOMPARE(page.Radial->text(), QStringLiteral("辐射波纹"));
        QVERIFY(!page.Radial->isChecked());
        QCOMPARE(page.Antialias->title(), QStringLiteral("反锯齿"));
        QCOMPARE(page.Antialias->Count(), 3);
        QCOMPARE(page.Antialias->ItemIndex(), 0);
        QCOMPARE(page.Background->Caption(), QStringLiteral("颜色"));
        QCOMPARE(page.Background->Color(), TColor(0));
    }

    void showingValuesReportsNothing()
    {
        TPage page;
        QSignalSpy changed(&page.Controls, &TSettingControls::Changed);
        TSettings settings;
        settings.Flag.Frames = 17;
        settings.Flag.Radial = true;
        settings.Flag.Antialiasing = 2;
        settings.Flag.BackgroundColor = 0x123456;
        settings.Flag.GIFLoops = 51;
        page.Controls.Show(settings);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(page.Frames->Position(), 17);
        QVERIFY(page.Radial->isChecked());
        QCOMPARE(page.Antialias->ItemIndex(), 2);
        QCOMPARE(page.Background->Color(), TColor(0x123456));
        QCOMPARE(page.Loops->LabelCaption(), QStringLiteral("循环：60"));
        // With radial ripples the angle takes no input.
        QVERIFY(!page.Angle->Enabled());

        TSettings read;
        page.Controls.ReadAll(read);
        QCOMPARE(read.Flag, settings.Flag);

        // A number beyond the items selects the nearest one.
        settings.Flag.Antialiasing = 9;
        page.Controls.Show(settings);
        QCOMPARE(page.Antialias->ItemIndex(), 2);
        QCOMPARE(changed.count(), 0);
    }

    void everyUserChangeIsReportedOnce()
    {
        TPage page;
        page.Widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page.Widget));
        QSignalSpy changed(&page.Controls, &TSettingControls::Changed);
        const auto last = [&] { return changed.last().at(0).value<const TSetting*>(); };

        page.Frames->setFocus();
        QTest::keyClick(page.Frames, Qt::Key_Right);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(last(), FindSetting("Frames"));
        TSettings settings;
        page.Controls.Read(*FindSetting("Frames"), settings);
        QCOMPARE(settings.Flag.Frames, 9);
        QCOMPARE(settings.Flag.Angle, 15); // only the setting asked for

        QTest::mouseClick(page.Radial, Qt::LeftButton, {}, QPoint(4, page.Radial->height() / 2));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(last(), FindSetting("Radial"));

        page.Antialias->findChildren<QRadioButton*>()[1]->click();
        QCOMPARE(changed.count(), 3);
        QCOMPARE(last(), FindSetting("Antialiasing"));
        page.Controls.Read(*FindSetting("Antialiasing"), settings);
        QCOMPARE(settings.Flag.Antialiasing, 1);

        // Following a change writes captions and enabled states, silently.
        settings.Flag.Radial = true;
        settings.Flag.GIFLoops = 100;
        page.Controls.Follow(settings);
        QVERIFY(!page.Angle->Enabled());
        QCOMPARE(page.Loops->LabelCaption(), QStringLiteral("循环：1000"));
        QCOMPARE(changed.count(), 3);
    }

    void aSetOfValuesAndAWholeNumberField()
    {
        // An export scale from a fixed set and a size limit typed in, kept
        // here in the frame size's two members.
        static constexpr std::int32_t kScales[] = { 1, 2, 3, 4, 6 };
        static constexpr const char* kScaleItems[] = { "1x", "2x", "3x", "4x", "6x" };
        static const TSetting kTable[] = {
            { .Name = "ExportScale",
                .Range = { 1, 6, 2 },
                .Value = { [](const TSettings& s) { return s.FrameWidth; },
                    [](TSettings& s, std::int32_t v) { s.FrameWidth = v; } },
                .Allowed = kScales,
                .Panel = { .Kind = TControlKind::RadioGroup,
                    .Control = "ScaleRadioGroup",
                    .Caption = "导出尺寸",
                    .Items = kScaleItems,
                    .SideBySide = true } },
            { .Name = "MaxSizeKB",
                .Range = { 0, 65536, 0 },
                .Value = { [](const TSettings& s) { return s.FrameHeight; },
                    [](TSettings& s, std::int32_t v) { s.FrameHeight = v; } },
                .Panel = { .Kind = TControlKind::IntegerEdit, .Control = "MaxSizeEdit" } },
        };
        QWidget widget;
        auto* layout = new QVBoxLayout(&widget);
        TSettingControls controls(&widget, kTable);
        auto* scale = static_cast<TRadioGroup*>(controls.Make("ExportScale", &widget));
        auto* size = static_cast<TIntegerEdit*>(controls.Make("MaxSizeKB", &widget));
        layout->addWidget(scale);
        layout->addWidget(size);
        QCOMPARE(size->objectName(), QStringLiteral("MaxSizeEdit"));
        // The default 2 is the second item.
        QCOMPARE(scale->ItemIndex(), 1);
        QSignalSpy changed(&controls, &TSettingControls::Changed);
        const auto last = [&] { return changed.last().at(0).value<const TSetting*>(); };

        TSettings settings;
        settings.FrameWidth = 6;
        settings.FrameHeight = 256;
        controls.Show(settings);
        QCOMPARE(scale->ItemIndex(), 4);
        QCOMPARE(size->text(), QStringLiteral("256"));
        // A value not in the set shows as the nearest one.
        settings.FrameWidth = 5;
        controls.Show(settings);
        QCOMPARE(scale->ItemIndex(), 3);
        QCOMPARE(changed.count(), 0);

        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        scale->findChildren<QRadioButton*>()[2]->click();
        QCOMPARE(changed.count(), 1);
        TSettings read;
        controls.Read(kTable[0], read);
        QCOMPARE(read.FrameWidth, 3);

        size->setFocus();
        size->selectAll();
        QTest::keyClicks(size, "1024");
        QCOMPARE(changed.count(), 1);
        // It counts once the user leaves the edit.
        scale->findChildren<QRadioButton*>()[0]->setFocus();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(last(), &kTable[1]);
        controls.Read(kTable[1], read);
        QCOMPARE(read.FrameHeight, 1024);
        // Beyond the range the edit holds the largest number.
        size->selectAll();
        QTest::keyClicks(size, "99999");
        controls.ReadAll(read);
        QCOMPARE(read.FrameHeight, 65536);
        QCOMPARE(read.FrameWidth, 3);
    }
};

QTEST_MAIN(tst_XSettingControls)
#include "tst_XSettingControls.moc"
