// The panel's settings: what a close writes comes back at the next start;
// mistyped and out-of-range values fall back or clamp; the window bounds come
// back snapped and on the screen, and the flag window follows the panel.

#include "TemporaryStore.h"
#include "UITestUtil.h"
#include "core/flag/FlagParameters.h"
#include "core/flag/FlagSettings.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XIntegerEditComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/imaging/TextUnit.h"
#include "ui/imaging/XTextOverlayDraw.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QScreen>
#include <QTest>
#include <memory>

using zx::TFlagForm;
using zx::TShowForm;
using zx::test::Control;

namespace {

// A panel through the program's start-up steps, with its flag window.
struct TStartedPanel {
    TFlagForm Panel;
    TShowForm* Flag;

    explicit TStartedPanel(bool withTextDialog = false)
        : Flag(new TShowForm(&Panel))
    {
        if (withTextDialog)
            Panel.SetTextForm(new zx::TTextForm(&Panel));
        Panel.StartUp(Flag);
    }
};

// Every control of the panel that shows a setting shows the value the panel
// holds.
bool ControlsShow(const TFlagForm& panel, const zx::TSettings& settings)
{
    for (const zx::TSetting& setting : zx::SettingsTable()) {
        const char* name = setting.Panel.Control;
        if (!name || setting.Group == zx::TSettingGroup::Text)
            continue;
        const std::int32_t value = setting.Value.Get(settings);
        std::int32_t shown = 0;
        if (auto* slider = panel.findChild<zx::TNiceScrollBar*>(name))
            shown = slider->Position();
        else if (auto* box = panel.findChild<QCheckBox*>(name))
            shown = box->isChecked() ? 1 : 0;
        else if (auto* group = panel.findChild<zx::TRadioGroup*>(name))
            // A group of allowed values shows the value's place among them.
            shown = setting.Allowed.empty() || group->ItemIndex() < 0
                ? group->ItemIndex()
                : setting.Allowed[std::size_t(group->ItemIndex())];
        else if (auto* choice = panel.findChild<zx::TColorChoice*>(name))
            shown = std::int32_t(choice->Color());
        else if (auto* edit = panel.findChild<zx::TIntegerEdit*>(name))
            shown = edit->Value();
        else
            return false;
        if (shown != value) {
            qWarning("%s shows %d, not %d", name, shown, value);
            return false;
        }
    }
    return true;
}

QRect ScreenRect()
{
    return QGuiApplication::primaryScreen()->geometry();
}

} // namespace

class tst_FlagUnitSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void init()
    {
        m_store = std::make_unique<zx::test::TTemporaryStore>();
        QVERIFY(m_store->IsValid());
        m_oldDirectory = QDir::currentPath();
        m_boxes.clear();
        zx::SetMessageBoxHook(
            [this](const QString& title, const QString& text) { m_boxes << title + ": " + text; });
    }
    void cleanup()
    {
        zx::SetMessageBoxHook({});
        QDir::setCurrent(m_oldDirectory);
        m_store.reset();
    }

    void everyValueWrittenOnCloseComesBack()
    {
        const QString folder = m_store->Path() + QStringLiteral("/pictures");
        QVERIFY(QDir().mkpath(folder));
        zx::TSettings changed;
        zx::FlagParameters& f = changed.Flag;
        f.Frames = 17;
        f.Distance = -12;
        f.Antialiasing = 2;
        f.Amplitude = 66;
        f.Frequency = -41;
        f.Angle = 300;
        f.BumpIntensity = 3;
        f.BumpFrequency = 99;
        f.Brightness = 180;
        f.Contrast = 7;
        f.InvertLightMode = true;
        f.TransparentMode = false;
        f.BackgroundColor = 0x102030;
        f.GIFDelay = 33;
        f.GIFLoops = 77;
        f.GIFBits = 4;
        f.SpotX = -300;
        f.SpotY = 211;
        f.Radial = true;
        f.Hoist = zx::hoBottom;
        f.HoistWidth = 64;
        f.ShowPole = true;
        changed.HighQuality = true;
        changed.ExportScale = 4;
        changed.Lossy = 85;
        changed.MaxSizeKB = 512;
        {
            TStartedPanel first;
            TFlagForm& p = first.Panel;
            p.SetSettings(changed);
            QVERIFY(ControlsShow(p, changed));
            p.move(40, 50);
            first.Flag->move(500, 320);
            first.Flag->SetPaintAreaSize(QSize(180, 120));
            QDir::setCurrent(folder);
            QVERIFY(p.close());
        }
        QVERIFY(m_boxes.isEmpty());
        QDir::setCurrent(m_oldDirectory);

        TStartedPanel second;
        TFlagForm& p = second.Panel;
        // The radial mode is not kept; it always starts off.
        zx::TSettings expected = changed;
        expected.Flag.Radial = false;
        QCOMPARE(p.Settings(), expected);
        QVERIFY(ControlsShow(p, expected));
        QVERIFY(!Control<QCheckBox>(p, "RadialCheckBox")->isChecked());
        QCOMPARE(p.Model().Parameters(), expected.Flag);
        QCOMPARE(QDir::currentPath(), folder);
        QCOMPARE(p.frameGeometry().topLeft(), QPoint(40, 50));
        QCOMPARE(second.Flag->frameGeometry().topLeft(), QPoint(500, 320));
        QCOMPARE(second.Flag->PaintAreaSize(), QSize(180, 120));
        // The captions and the lighting table follow the loaded values.
        QCOMPARE(Control<zx::TNiceScrollBar>(p, "LoopsNiceScrollBar")->LabelCaption(),
            QStringLiteral("循环：320"));
        QCOMPARE(Control<zx::TNiceScrollBar>(p, "BitsNiceScrollBar")->LabelCaption(),
            QStringLiteral("颜色：16 (4 位)"));
        QCOMPARE(p.Model().LightTable(), zx::BuildLightTable(180, 7, true));
    }

    void theStoreHoldsIntegersInItsGroups()
    {
        {
            TStartedPanel panel;
            QVERIFY(panel.Panel.close());
        }
        const QByteArray file = m_store->ReadUserFile();
        for (const char* line :
            { "[Settings]", "Frames=8", "Distance=0", "Amplitude=50", "Frequency=50", "Angle=15",
                "BumpIntensity=25", "BumpFrequency=25", "Brightness=100", "Contrast=50",
                "GIFDelay=5", "GIFLoops=0", "GIFBits=8", "Antialiasing=0", "TransparentMode=1",
                "InvertLightMode=0", "SpotX=0", "SpotY=0", "Hoist=0", "HoistWidth=30", "ShowPole=0",
                "[Forms]", "ControlPanelX=", "ControlPanelY=", "PreviewX=", "PreviewY=",
                "PreviewW=", "PreviewH=", "[General]", "CurrentDirectory=" })
            QVERIFY2(file.contains(line), line);
        // The radial mode is not stored.
        QVERIFY(!file.contains("Radial"));
    }

    void storedValuesAreTakenAsTheControlsTakeThem_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("expected");
        QTest::newRow("Frames 100 is 40") << QByteArray("Frames=100") << "Frames" << 40;
        QTest::newRow("Frames 0 is 1") << QByteArray("Frames=0") << "Frames" << 1;
        QTest::newRow("Frames as a word") << QByteArray("Frames=many") << "Frames" << 8;
        QTest::newRow("Distance as a fraction") << QByteArray("Distance=3.5") << "Distance" << 0;
        QTest::newRow("Brightness too high") << QByteArray("Brightness=999") << "Brightness" << 200;
        QTest::newRow("Angle negative") << QByteArray("Angle=-5") << "Angle" << 0;
        QTest::newRow("GIFBits too low") << QByteArray("GIFBits=1") << "GIFBits" << 3;
        QTest::newRow("Antialiasing too high")
            << QByteArray("Antialiasing=7") << "Antialiasing" << 2;
        QTest::newRow("Antialiasing negative")
            << QByteArray("Antialiasing=-3") << "Antialiasing" << 0;
        QTest::newRow("SpotX beyond the frame") << QByteArray("SpotX=100000") << "SpotX" << 511;
        QTest::newRow("SpotY beyond the frame")
            << QByteArray("SpotY=-2147483648") << "SpotY" << -512;
        QTest::newRow("TransparentMode 0")
            << QByteArray("TransparentMode=0") << "TransparentMode" << 0;
        QTest::newRow("TransparentMode as a word")
            << QByteArray("TransparentMode=false") << "TransparentMode" << 1;
        QTest::newRow("InvertLightMode 5")
            << QByteArray("InvertLightMode=5") << "InvertLightMode" << 1;
        QTest::newRow("Hoist beyond the sides") << QByteArray("Hoist=9") << "Hoist" << 4;
        QTest::newRow("Hoist negative") << QByteArray("Hoist=-1") << "Hoist" << 0;
        QTest::newRow("HoistWidth too wide") << QByteArray("HoistWidth=250") << "HoistWidth" << 100;
        QTest::newRow("ShowPole 2") << QByteArray("ShowPole=2") << "ShowPole" << 1;
        QTest::newRow("ExportScale 3") << QByteArray("ExportScale=3") << "ExportScale" << 3;
        QTest::newRow("ExportScale 5 is none of them")
            << QByteArray("ExportScale=5") << "ExportScale" << 1;
        QTest::newRow("ExportScale 9 is 6") << QByteArray("ExportScale=9") << "ExportScale" << 6;
    }
    void storedValuesAreTakenAsTheControlsTakeThem()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, field);
        QFETCH(int, expected);
        m_store->WriteUserFile("[Settings]\n" + settings + "\n");
        TStartedPanel panel;
        const zx::TSetting* described = zx::FindSetting(field.toStdString());
        QVERIFY(described);
        QCOMPARE(described->Value.Get(panel.Panel.Settings()), expected);
        // What the control shows and what the flag is rendered with.
        QVERIFY(ControlsShow(panel.Panel, panel.Panel.Settings()));
        QCOMPARE(panel.Panel.Model().Parameters(), panel.Panel.CurrentParameters());
    }

    void loadedWaveSettingsReachTheFramesStepValues()
    {
        // The sliders are set without their change events; the frames still
        // use the loaded wave, not the defaults the built-in picture was
        // invalidated with.
        m_store->WriteUserFile("[Settings]\nFrequency=-30\nAngle=90\n");
        TStartedPanel panel;
        const zx::FlagParameters params = panel.Panel.CurrentParameters();
        const QSize area = panel.Flag->PaintAreaSize();
        QCOMPARE(panel.Panel.Model().Derived(),
            zx::DeriveFlagValues(params, area.width(), area.height()));
        QCOMPARE(panel.Panel.Model().Derived().FreqStep, -30);
    }

    void transparentModeStoredAsZeroInvalidatesTheFrames()
    {
        TStartedPanel panel;
        TFlagForm& p = panel.Panel;
        p.FlagTimerTimer();
        QVERIFY(p.Model().FrameRendered(0));
        m_store->WriteUserFile("[Settings]\nTransparentMode=0\n");
        p.LoadSettings();
        QVERIFY(!Control<QCheckBox>(p, "TransparentCheckBox")->isChecked());
        QVERIFY(!p.CurrentParameters().TransparentMode);
        QVERIFY(!p.Model().FrameRendered(0));
    }

    void aMissingGroupKeepsTheCurrentValues()
    {
        m_store->WriteUserFile("[Text]\nFontName=Arial\n");
        TStartedPanel reference;
        const zx::FlagParameters defaults;
        QCOMPARE(reference.Panel.CurrentParameters(), defaults);
        // The flag window stays where start-up put it: right beside the panel.
        QCOMPARE(reference.Flag->frameGeometry().topLeft(),
            QPoint(reference.Panel.frameGeometry().right() + 1,
                reference.Panel.frameGeometry().top()));
    }

    void theCurrentDirectory_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("changes");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("a folder") << QStringLiteral("<folder>") << true;
        QTest::newRow("a folder that is gone") << QStringLiteral("/no/such/folder") << false;
    }
    void theCurrentDirectory()
    {
        QFETCH(QString, stored);
        QFETCH(bool, changes);
        const QString folder = m_store->Path() + QStringLiteral("/work");
        QVERIFY(QDir().mkpath(folder));
        if (stored == QLatin1String("<folder>"))
            stored = folder;
        m_store->WriteUserFile("[General]\nCurrentDirectory=" + stored.toUtf8() + "\n");
        const QString before = QDir::currentPath();
        TStartedPanel panel;
        QCOMPARE(QDir::currentPath(), changes ? folder : before);
    }

    void valuesThePanelDoesNotOwnSurviveASave()
    {
        m_store->WriteUserFile("[General]\nCurrentDirectory=/tmp\nExeCounter=4\n\n"
                               "[Settings]\nBackgroundColor=16711680\nFrames=9\nUnknown=x\n\n"
                               "[Text]\nFontName=Noto Sans\nFontSize=44\nFontShaddow=10\n\n"
                               "[Elsewhere]\nKept=1\n");
        {
            TStartedPanel panel;
            // The user adds three frames.
            auto* frames = Control<zx::TNiceScrollBar>(panel.Panel, "FramesNiceScrollBar");
            frames->setFocus();
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(frames, Qt::Key_Right);
            QVERIFY(panel.Panel.close());
        }
        const QByteArray file = m_store->ReadUserFile();
        for (const char* line :
            { "ExeCounter=4", "BackgroundColor=16711680", "Frames=12", "Unknown=x", "[Text]",
                "FontName=Noto Sans", "FontSize=44", "FontShaddow=10", "[Elsewhere]", "Kept=1" })
            QVERIFY2(file.contains(line), line);
    }

    void theColourAndTheTextDialogComeBack()
    {
        const QStringList fonts = zx::InstalledFontFamilies();
        QVERIFY(!fonts.isEmpty());
        const QString wanted = fonts.back();
        m_store->WriteUserFile(QStringLiteral("[Settings]\nBackgroundColor=4227327\n\n"
                                              "[Text]\nFontName=%1\nFontSize=44\nFontColor=255\n"
                                              "FontAngle=400\nFontShaddow=10\nAlignHorizontal=0\n"
                                              "AlignVertical=2\n")
                                   .arg(wanted)
                                   .toUtf8());
        {
            TStartedPanel panel(true);
            zx::TTextForm* text = panel.Panel.TextForm();
            auto* colour = Control<zx::TColorChoice>(panel.Panel, "BackColorChoice");
            QCOMPARE(colour->Color(), zx::TColor(4227327));
            QCOMPARE(panel.Panel.CurrentParameters().BackgroundColor, 4227327u);
            QCOMPARE(text->SelectedFontName(), wanted);
            QCOMPARE(text->SizeNiceScrollBar->Position(), 44);
            QCOMPARE(text->FontColorChoice->Color(), zx::TColor(255));
            QCOMPARE(text->AngleNiceScrollBar->Position(), 360); // clamped
            QCOMPARE(text->ShaddowNiceScrollBar->Position(), 10);
            QCOMPARE(text->AlignHRadioGroup->ItemIndex(), 0);
            QCOMPARE(text->AlignVRadioGroup->ItemIndex(), 2);
            // Changed in the dialog, then saved on close.
            text->SizeNiceScrollBar->SetPosition(12);
            text->FontListBox->setCurrentRow(0);
            zx::TSettings settings = panel.Panel.Settings();
            settings.Flag.BackgroundColor = 0x102030;
            panel.Panel.SetSettings(settings);
            QVERIFY(panel.Panel.close());
        }
        {
            TStartedPanel panel(true);
            zx::TTextForm* text = panel.Panel.TextForm();
            QCOMPARE(text->SizeNiceScrollBar->Position(), 12);
            QCOMPARE(text->SelectedFontName(), fonts.front());
            QCOMPARE(Control<zx::TColorChoice>(panel.Panel, "BackColorChoice")->Color(),
                zx::TColor(0x102030));
        }
        // A font that is gone leaves the list on its first entry; a colour
        // beyond 24 bits leaves the chooser alone.
        m_store->WriteUserFile(
            "[Settings]\nBackgroundColor=16777216\n\n[Text]\nFontName=No Such Face\n");
        TStartedPanel panel(true);
        QCOMPARE(panel.Panel.TextForm()->FontListBox->currentRow(), 0);
        QCOMPARE(Control<zx::TColorChoice>(panel.Panel, "BackColorChoice")->Color(), zx::TColor(0));
        QCOMPARE(panel.Panel.CurrentParameters().BackgroundColor, 0u);
    }

    // Where the panel's right edge lies when the panel stands at x = 60.
    static int PanelRightEdgeAt60()
    {
        TStartedPanel probe;
        const int width = probe.Panel.frameGeometry().width();
        probe.Panel.hide();
        return 60 + width;
    }

    void theRestoredLayoutSnapsAndStaysOnTheScreen()
    {
        // The flag window 5 pixels right of the panel's right edge and 3
        // below its top, 160 x 140 outside.
        const int right = PanelRightEdgeAt60();
        m_store->WriteUserFile(QStringLiteral("[Forms]\nControlPanelX=60\nControlPanelY=70\n"
                                              "PreviewX=%1\nPreviewY=73\nPreviewW=160\n"
                                              "PreviewH=140\n")
                                   .arg(right + 5)
                                   .toUtf8());
        TStartedPanel panel;
        QCOMPARE(panel.Panel.frameGeometry().topLeft(), QPoint(60, 70));
        QCOMPARE(panel.Flag->frameGeometry(), QRect(right, 70, 160, 140));
        QCOMPARE(panel.Panel.LastLeft(), 60);
        QCOMPARE(panel.Panel.LastTop(), 70);
    }

    void aFlagWindowDockedBesideANarrowerPanelIsDockedAgain()
    {
        // Saved docked beside the panel in a language whose captions left it
        // 63 pixels narrower: the panel would now cover part of it.
        const int right = PanelRightEdgeAt60();
        m_store->WriteUserFile(QStringLiteral("[Forms]\nControlPanelX=60\nControlPanelY=70\n"
                                              "PreviewX=%1\nPreviewY=70\nPreviewW=160\n"
                                              "PreviewH=140\n")
                                   .arg(right - 63)
                                   .toUtf8());
        TStartedPanel panel;
        QCOMPARE(panel.Panel.frameGeometry().topLeft(), QPoint(60, 70));
        QCOMPARE(panel.Flag->frameGeometry(), QRect(right, 70, 160, 140));
    }

    void windowsOffTheScreenComeBack()
    {
        const QRect screen = ScreenRect();
        m_store->WriteUserFile(QStringLiteral("[Forms]\nControlPanelX=-500\nControlPanelY=%1\n"
                                              "PreviewX=%2\nPreviewY=-40\nPreviewW=99999\n"
                                              "PreviewH=140\n")
                                   .arg(screen.bottom() + 300)
                                   .arg(screen.right() + 1000)
                                   .toUtf8());
        TStartedPanel panel;
        const QRect panelBounds = panel.Panel.frameGeometry();
        const QRect flagBounds = panel.Flag->frameGeometry();
        QVERIFY2(screen.contains(panelBounds),
            qPrintable(QStringLiteral("%1,%2 %3x%4")
                           .arg(panelBounds.x())
                           .arg(panelBounds.y())
                           .arg(panelBounds.width())
                           .arg(panelBounds.height())));
        QCOMPARE(panelBounds.left(), screen.left());
        QVERIFY(screen.contains(flagBounds));
        // A width beyond the flag window's limits is cut to them.
        QCOMPARE(panel.Flag->PaintAreaSize().width(), TShowForm::kMaxPaintArea.width());
    }

    void theFlagWindowFollowsEveryMoveOfThePanel()
    {
        TStartedPanel panel;
        TFlagForm& p = panel.Panel;
        p.move(20, 30);
        // Far from the panel, the flag window keeps its distance.
        panel.Flag->move(600, 400);
        QCOMPARE(panel.Flag->frameGeometry().topLeft(), QPoint(600, 400));
        p.move(35, 10);
        QCOMPARE(panel.Flag->frameGeometry().topLeft(), QPoint(615, 380));
        QCOMPARE(p.LastLeft(), 35);
        QCOMPARE(p.LastTop(), 10);
    }

    void theFlagWindowSnapsWhenMovedNearThePanel()
    {
        TStartedPanel panel;
        TFlagForm& p = panel.Panel;
        p.move(20, 30);
        const QRect bounds = p.frameGeometry();
        panel.Flag->move(bounds.right() + 1 + 5, bounds.top() + 3);
        QCOMPARE(panel.Flag->frameGeometry().topLeft(), QPoint(bounds.right() + 1, bounds.top()));
        panel.Flag->move(bounds.right() + 1 + 8, bounds.top() + 3);
        QCOMPARE(panel.Flag->frameGeometry().topLeft(),
            QPoint(bounds.right() + 1 + 8, bounds.top() + 3));
        // Docked, it follows the panel and stays docked.
        panel.Flag->move(bounds.right() + 1, bounds.top());
        p.move(120, 90);
        QCOMPARE(panel.Flag->frameGeometry().topLeft(), QPoint(p.frameGeometry().right() + 1, 90));
    }

    void aStoreThatCannotBeWrittenDoesNotKeepThePanelOpen()
    {
        TStartedPanel panel;
        m_store->MakeUserStoreUnwritable();
        // Every group's key fails to open: nothing is written, and the close
        // goes ahead.
        QVERIFY(panel.Panel.close());
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(!panel.Panel.isVisible());
    }

private:
    std::unique_ptr<zx::test::TTemporaryStore> m_store;
    QString m_oldDirectory;
    QStringList m_boxes;
};

QTEST_MAIN(tst_FlagUnitSettings)
#include "tst_FlagUnitSettings.moc"
