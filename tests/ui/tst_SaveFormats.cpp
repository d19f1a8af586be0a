// Saving from the panel as a GIF, an animated WebP or an APNG: the save
// dialog's three filters, the format from the filter picked or the typed
// extension, the files equal to zephyrix-cli export's of the same settings
// (the GIF page's WebP quality and lossless choice included), and the last
// format used kept as "SaveFormat".

#include "UITestUtil.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/SaveFormats.h"
#include "ui/flag/ShowUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XFilmDisplayComp.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace zx;
using zx::test::Control;

class tst_SaveFormats : public QObject {
    Q_OBJECT

    std::unique_ptr<TFlagForm> m_panel;
    TShowForm* m_show = nullptr;
    QStringList m_messages;

    static QByteArray ReadFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // zephyrix-cli export with the panel's frame size and frame count.
    static QByteArray CliExport(const QString& out, QStringList more = {})
    {
        QProcess cli;
        cli.start(QStringLiteral(ZX_CLI_PATH),
            QStringList { "export", "-o", out, "--frames", "3", "--size", "150x97" } + more);
        if (!cli.waitForFinished(60000) || cli.exitCode() != 0)
            return QByteArray();
        return ReadFile(out);
    }
    // Saves under the name; the save runs in the background, and is waited
    // for unless told otherwise.
    void SaveAs(const QString& name, bool wait = true)
    {
        m_panel->GIFSaveDialog = [name] { return std::optional<QString>(name); };
        m_panel->Save1Click();
        if (wait)
            QVERIFY(m_panel->Work().WaitUntilIdle());
    }

private slots:
    void initTestCase() { InitializeApplication(); }

    void init()
    {
        m_messages.clear();
        SetMessageBoxHook(
            [this](const QString&, const QString& text) { m_messages.push_back(text); });
        m_panel = std::make_unique<TFlagForm>();
        m_show = new TShowForm(m_panel.get());
        m_panel->StartUp(m_show);
        Control<QTimer>(*m_panel, "FlagTimer")->stop();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
        TSettings settings = m_panel->Settings();
        settings.Flag.Frames = 3;
        // Whatever an earlier run left in the store.
        settings.SaveFormat = 0;
        settings.WebPQuality = kWebPQualityRange.Default;
        settings.WebPLossless = false;
        m_panel->SetSettings(settings);
    }

    void cleanup()
    {
        m_panel.reset();
        m_show = nullptr;
        SetMessageBoxHook({});
    }

    void theDialogOffersThreeFormatsAndTheSuffixFollowsTheFilter()
    {
        QCOMPARE(SaveFormatFilters(),
            QStringList({ QStringLiteral("GIF 图像 (*.gif)"), QStringLiteral("WebP 动画 (*.webp)"),
                QStringLiteral("APNG 动画 (*.png)") }));
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        OfferSaveFormats(dialog, TAnimationFormat::WebP);
        QCOMPARE(dialog.nameFilters(), SaveFormatFilters());
        QCOMPARE(dialog.selectedNameFilter(), SaveFormatFilters()[1]);
        QCOMPARE(dialog.defaultSuffix(), QStringLiteral("webp"));
        QCOMPARE(ChosenSaveFormat(dialog), TAnimationFormat::WebP);
        dialog.selectNameFilter(SaveFormatFilters()[2]);
        emit dialog.filterSelected(SaveFormatFilters()[2]);
        QCOMPARE(dialog.defaultSuffix(), QStringLiteral("png"));
        QCOMPARE(ChosenSaveFormat(dialog), TAnimationFormat::APNG);

        // The typed extension wins over the filter; another name keeps the filter's.
        QCOMPARE(
            SaveFormatOf(QStringLiteral("a.GIF"), TAnimationFormat::WebP), TAnimationFormat::Gif);
        QCOMPARE(
            SaveFormatOf(QStringLiteral("a.webp"), TAnimationFormat::APNG), TAnimationFormat::WebP);
        QCOMPARE(
            SaveFormatOf(QStringLiteral("a.flag"), TAnimationFormat::APNG), TAnimationFormat::APNG);
        QCOMPARE(AnimationFormatOfSetting(2), TAnimationFormat::APNG);
        QCOMPARE(AnimationFormatOfSetting(3), TAnimationFormat::Gif);
        QCOMPARE(AnimationFormatOfSetting(-1), TAnimationFormat::Gif);
    }

    void eachFormatSavesWhatTheCliExports()
    {
        QTemporaryDir dir;
        const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
        SaveAs(path("panel.webp"));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(m_panel->Settings().SaveFormat, 1);
        const QByteArray webp = ReadFile(path("panel.webp"));
        QVERIFY(webp.startsWith("RIFF") && webp.mid(8, 4) == "WEBP");
        QCOMPARE(webp, CliExport(path("cli.webp")));

        SaveAs(path("panel.png"));
        QCOMPARE(m_panel->Settings().SaveFormat, 2);
        const QByteArray apng = ReadFile(path("panel.png"));
        QVERIFY(apng.startsWith("\x89PNG") && apng.contains("acTL"));
        QCOMPARE(apng, CliExport(path("cli.png")));

        SaveAs(path("panel.gif"));
        QCOMPARE(m_panel->Settings().SaveFormat, 0);
        const QByteArray gif = ReadFile(path("panel.gif"));
        QVERIFY(gif.startsWith("GIF89a"));
        QCOMPARE(gif, CliExport(path("cli.gif")));
        QVERIFY(m_messages.isEmpty());
    }

    void theGifPagesWebPOptionsSaveWhatTheCliExportsWithThem()
    {
        QTemporaryDir dir;
        const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
        SaveAs(path("q90.webp"));
        const QByteArray standard = ReadFile(path("q90.webp"));
        QVERIFY(!standard.isEmpty());

        // A quality of the page's slider.
        auto* slider = Control<TNiceScrollBar>(*m_panel, "WebPQualityNiceScrollBar");
        QVERIFY(slider->Enabled());
        TSettings settings = m_panel->Settings();
        settings.WebPQuality = 60;
        m_panel->SetSettings(settings);
        SaveAs(path("q60.webp"));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        const QByteArray q60 = ReadFile(path("q60.webp"));
        QVERIFY(q60.size() < standard.size());
        QCOMPARE(q60, CliExport(path("cli-q60.webp"), { "--webp-quality", "60" }));

        // The lossless check box: the quality no longer applies.
        auto* lossless = Control<QCheckBox>(*m_panel, "WebPLosslessCheckBox");
        QVERIFY(!lossless->isChecked());
        lossless->click();
        QVERIFY(m_panel->Settings().WebPLossless);
        QVERIFY(!slider->Enabled());
        SaveAs(path("lossless.webp"));
        const QByteArray exact = ReadFile(path("lossless.webp"));
        QVERIFY(exact.contains("VP8L"));
        QVERIFY(!q60.contains("VP8L"));
        QCOMPARE(exact, CliExport(path("cli-lossless.webp"), { "--lossless" }));
        // The APNG has no options of its own: the same file as before.
        SaveAs(path("panel.png"));
        QCOMPARE(ReadFile(path("panel.png")), CliExport(path("cli.png")));
        lossless->click();
        QVERIFY(slider->Enabled());
    }

    void aWebPSaveRunsInTheBackgroundAtTheScaleAndItsCancelKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("flag.webp"));
        const QByteArray old = "the file that was there before";
        {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(old);
        }
        // Seconds of work: 40 frames of 900 x 582 with 4 x 4 antialiasing.
        TSettings slow = m_panel->Settings();
        slow.Flag.Frames = 40;
        slow.Flag.Antialiasing = 2;
        slow.ExportScale = 6;
        m_panel->SetSettings(slow);
        SaveAs(target, false);
        QVERIFY(m_panel->Work().Saving());
        QCOMPARE(m_panel->Work().SavingFormat(), TAnimationFormat::WebP);
        // Closing is refused with a message that names the format written.
        QVERIFY(!m_panel->close());
        QCOMPARE(m_messages,
            QStringList { QStringLiteral("正在保存 WebP 文件。请等待保存完成，或点击“取消”。") });
        m_messages.clear();
        auto* cancel = Control<QPushButton>(*m_panel, "WorkCancelButton");
        QVERIFY(cancel->isVisible());
        cancel->click();
        QVERIFY(!m_panel->Work().Busy());
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QCOMPARE(ReadFile(target), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "flag.webp" });
        // A cancelled save is not the last format saved.
        QCOMPARE(m_panel->Settings().SaveFormat, 0);

        // At 2x the file is the CLI's at --scale 2: 300 x 194.
        TSettings scaled = m_panel->Settings();
        scaled.Flag.Frames = 3;
        scaled.Flag.Antialiasing = 1;
        scaled.ExportScale = 2;
        m_panel->SetSettings(scaled);
        SaveAs(target);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        const QByteArray webp = ReadFile(target);
        QVERIFY(webp.startsWith("RIFF") && webp.mid(12, 4) == "VP8X");
        // The canvas size, less one, in 24 bits each.
        const auto side = [&](int at) {
            return (std::uint8_t(webp[at]) | std::uint8_t(webp[at + 1]) << 8
                       | std::uint8_t(webp[at + 2]) << 16)
                + 1;
        };
        QCOMPARE(side(24), 300);
        QCOMPARE(side(27), 194);
        QCOMPARE(webp,
            CliExport(
                dir.filePath(QStringLiteral("cli.webp")), { "--scale", "2", "--antialias", "1" }));
        QCOMPARE(m_panel->Settings().SaveFormat, 1);
    }

    void thePreviewShowsTheGifAndSavesTheNamedFormat()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("preview.png"));
        int shownFrames = 0;
        m_panel->SetPreviewForm(new TPreviewForm(m_panel.get()));
        m_panel->PreviewForm()->ModalRun = [&](TPreviewForm& form) {
            shownFrames = form.GIFFilmDisplay->Count();
            return int(mrOk);
        };
        m_panel->GIFSaveDialog = [&] { return std::optional<QString>(name); };
        Control<QAction>(*m_panel, "Preview1")->trigger();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(shownFrames, 3);
        const QByteArray apng = ReadFile(name);
        QVERIFY(apng.startsWith("\x89PNG"));
        QCOMPARE(apng, CliExport(dir.filePath(QStringLiteral("cli.png"))));
        QCOMPARE(m_panel->Settings().SaveFormat, 2);
    }

    void theFilterPickedGivesTheFormatAndIsOfferedNextTime()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        bool answered = false;
        QString offered;
        const auto answer = [&](int filter, const QString& name) {
            QTimer::singleShot(0, [&, filter, name] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                offered = dialog->selectedNameFilter();
                auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
                QVERIFY(types);
                types->setFocus();
                QTest::keyClick(types, Qt::Key_Home);
                for (int i = 0; i < filter; ++i)
                    QTest::keyClick(types, Qt::Key_Down);
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
                answered = true;
                QMetaObject::invokeMethod(dialog, "accept");
            });
        };
        answer(2, QStringLiteral("flag"));
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(answered);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(offered, SaveFormatFilters()[0]);
        const QByteArray apng = ReadFile(dir.filePath(QStringLiteral("flag.png")));
        QVERIFY(apng.startsWith("\x89PNG") && apng.contains("fdAT"));
        QCOMPARE(m_panel->Settings().SaveFormat, 2);

        // Next time the APNG filter comes first; a typed .webp wins over it.
        answered = false;
        answer(2, QStringLiteral("typed.webp"));
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(answered);
        QCOMPARE(offered, SaveFormatFilters()[2]);
        const QByteArray webp = ReadFile(dir.filePath(QStringLiteral("typed.webp")));
        QVERIFY(webp.startsWith("RIFF") && webp.mid(8, 4) == "WEBP");
        QCOMPARE(m_panel->Settings().SaveFormat, 1);

        // Kept in the store: the next panel offers the WebP filter first.
        m_panel->SaveSettings();
        m_panel.reset();
        m_panel = std::make_unique<TFlagForm>();
        m_show = new TShowForm(m_panel.get());
        m_panel->StartUp(m_show);
        Control<QTimer>(*m_panel, "FlagTimer")->stop();
        QCOMPARE(m_panel->Settings().SaveFormat, 1);
        answered = false;
        answer(0, QStringLiteral("again"));
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(answered);
        QCOMPARE(offered, SaveFormatFilters()[1]);
        QVERIFY(ReadFile(dir.filePath(QStringLiteral("again.gif"))).startsWith("GIF89a"));
        QCOMPARE(m_panel->Settings().SaveFormat, 0);
        m_panel->SaveSettings();
        QDir::setCurrent(QDir::tempPath());
    }
};

QTEST_MAIN(tst_SaveFormats)
#include "tst_SaveFormats.moc"
