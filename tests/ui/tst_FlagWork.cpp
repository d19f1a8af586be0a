// The panel's long work in the background: while a large save runs the flag
// goes on waving, a second save, a new picture and closing the panel are
// refused, and "取消" frees the panel at once, leaving the old file whole and
// no temporary file behind; settings changed during a save do not reach its
// file; closing the panel while the preview is being built cancels the build;
// a size limit holds for WebP and APNG as on the command line; the bar shows
// what runs.

#include "UITestUtil.h"
#include "core/flag/FlagPlayback.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XWorkBarComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/ShowUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XGIFPainter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <utility>

using namespace zx;
using zx::test::Control;

class tst_FlagWork : public QObject {
    Q_OBJECT

    std::unique_ptr<TFlagForm> m_panel;
    TShowForm* m_show = nullptr;
    QStringList m_messages;

    int RenderedCount() const
    {
        int count = 0;
        for (const bool rendered : m_panel->Model().FrameStore().FrameRendered)
            count += rendered ? 1 : 0;
        return count;
    }
    static QByteArray ReadFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void WriteFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // Settings whose export takes seconds: 40 frames of 900 x 582 with 4 x 4
    // antialiasing at the high level.
    static TSettings SlowSettings()
    {
        TSettings settings;
        settings.Flag.Frames = 40;
        settings.Flag.Antialiasing = 2;
        settings.HighQuality = true;
        settings.ExportScale = 6;
        return settings;
    }

private slots:
    void initTestCase() { InitializeApplication(); }

    void init()
    {
        m_messages.clear();
        SetMessageBoxHook(
            [this](const QString& title, const QString& text) { m_messages << title << text; });
        m_panel = std::make_unique<TFlagForm>();
        m_show = new TShowForm(m_panel.get());
        m_panel->SetPreviewForm(new TPreviewForm(m_panel.get()));
        m_panel->StartUp(m_show);
        Control<QTimer>(*m_panel, "FlagTimer")->stop();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
    }

    void cleanup()
    {
        m_panel.reset();
        m_show = nullptr;
        SetMessageBoxHook({});
    }

    void aCancelledSaveKeepsTheOldFileAndFreesThePanelAtOnce()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("flag.gif"));
        const QByteArray old = "the file that was there before";
        WriteFile(target, old);
        m_panel->SetSettings(SlowSettings());
        int dialogs = 0;
        m_panel->GIFSaveDialog = [&] {
            ++dialogs;
            return std::optional<QString>(target);
        };
        m_panel->Save1Click();
        TFlagWork& work = m_panel->Work();
        QVERIFY(work.Busy());
        QVERIFY(work.Saving());
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(bfExporting));
        auto* cancel = Control<QPushButton>(*m_panel, "WorkCancelButton");
        QVERIFY(cancel->isVisible());
        QVERIFY(cancel->isEnabled());

        // The flag goes on waving: every tick renders a frame.
        m_panel->FlagTimerTimer();
        m_panel->FlagTimerTimer();
        m_panel->FlagTimerTimer();
        QCOMPARE(RenderedCount(), 3);

        // No second save (its dialog does not even open), no new picture.
        m_panel->Save1Click();
        QCOMPARE(dialogs, 1);
        const TDIB before = m_panel->CurrentTexture()->Source;
        QVERIFY(!m_panel->AcceptsDrops());
        m_panel->LoadDroppedFile(QStringLiteral(ZX_TEST_DATA_DIR "/bmp/bmpsuite/g/rgb24.bmp"));
        QCOMPARE(m_panel->CurrentTexture()->Source.ConstBits(), before.ConstBits());
        QVERIFY(!Control<QAction>(*m_panel, "Open1")->isEnabled());

        // Closing the panel is refused with a message while the file is
        // being written.
        QVERIFY(!m_panel->close());
        QCOMPARE(m_messages.size(), 2);
        QVERIFY2(m_messages[1].startsWith(QStringLiteral("正在保存 GIF 文件。")),
            qPrintable(m_messages[1]));
        QVERIFY(m_panel->isVisible());
        QVERIFY(work.Busy());

        // Cancel: the panel is free before the worker has wound down.
        cancel->click();
        QVERIFY(!work.Busy());
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));
        QVERIFY(!cancel->isVisible());
        QVERIFY(Control<QAction>(*m_panel, "Open1")->isEnabled());
        QCOMPARE(m_panel->StatusText(), QString());
        QVERIFY(work.WaitUntilIdle());
        QCOMPARE(ReadFile(target), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "flag.gif" });
        QCOMPARE(m_messages.size(), 2);

        // And the next save runs to its end.
        TSettings small;
        small.Flag.Frames = 3;
        m_panel->SetSettings(small);
        m_panel->Save1Click();
        QCOMPARE(dialogs, 2);
        QVERIFY(work.WaitUntilIdle());
        QVERIFY(ReadFile(target).startsWith("GIF89a"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "flag.gif" });
        QCOMPARE(m_messages.size(), 2);
        QVERIFY(m_panel->close());
    }

    void settingsChangedDuringASaveDoNotReachItsFile()
    {
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("panel.gif"));
        const QString exported = dir.filePath(QStringLiteral("cli.gif"));
        TSettings settings;
        settings.Flag.Frames = 5;
        settings.Flag.Antialiasing = 1;
        settings.ExportScale = 2;
        m_panel->SetSettings(settings);
        m_panel->GIFSaveDialog = [&] { return std::optional<QString>(saved); };
        m_panel->Save1Click();
        // The user moves on at once.
        TSettings changed = settings;
        changed.Flag.Frames = 9;
        changed.Flag.Amplitude = 10;
        changed.ExportScale = 1;
        m_panel->SetSettings(changed);
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(m_messages.isEmpty());

        QProcess cli;
        cli.start(QStringLiteral(ZX_CLI_PATH),
            { "export", "-q", "-o", exported, "--frames", "5", "--antialias", "1", "--scale", "2",
                "--size", "150x97" });
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray panelBytes = ReadFile(saved);
        QVERIFY(panelBytes.startsWith("GIF89a"));
        // 300 x 194: the scaled frames.
        QCOMPARE(std::uint8_t(panelBytes[6]) | std::uint8_t(panelBytes[7]) << 8, 300);
        QCOMPARE(panelBytes, ReadFile(exported));
        // The frames of a scaled export are not the flag window's.
        QCOMPARE(RenderedCount(), 0);
    }

    void aSizeLimitHoldsForWebPAndAPNGAsOnTheCommandLine()
    {
        QTemporaryDir dir;
        TSettings settings;
        settings.Flag.Frames = 5;
        settings.MaxSizeKB = 12;
        m_panel->SetSettings(settings);
        for (const QString& name : { QStringLiteral("panel.webp"), QStringLiteral("panel.png") }) {
            const QString saved = dir.filePath(name);
            const QString exported
                = dir.filePath(QStringLiteral("cli.") + QFileInfo(name).suffix());
            m_panel->GIFSaveDialog = [&] { return std::optional<QString>(saved); };
            m_panel->Save1Click();
            QVERIFY(m_panel->Work().WaitUntilIdle());
            QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
            const QByteArray panelBytes = ReadFile(saved);
            QVERIFY(!panelBytes.isEmpty());
            QVERIFY(panelBytes.size() <= 12 * 1024);
            QCOMPARE(m_panel->StatusText(),
                QStringLiteral("已写入 %1 字节")
                    .arg(QLocale().toString(qlonglong(panelBytes.size()))));

            QProcess cli;
            cli.start(QStringLiteral(ZX_CLI_PATH),
                { "export", "-q", "-o", exported, "--frames", "5", "--size", "150x97", "--max-size",
                    "12K" });
            QVERIFY(cli.waitForFinished(60000));
            QCOMPARE(cli.exitCode(), 0);
            // The command line told what its fit chose.
            QVERIFY(
                QString::fromUtf8(cli.readAllStandardError()).startsWith(QStringLiteral("12K: ")));
            QCOMPARE(panelBytes, ReadFile(exported));
        }
    }

    void closingThePanelCancelsAPreviewBeingBuilt()
    {
        m_panel->SetSettings(SlowSettings());
        bool shown = false;
        m_panel->PreviewForm()->ModalRun = [&](TPreviewForm&) {
            shown = true;
            return int(mrCancel);
        };
        m_panel->Preview1Click();
        QVERIFY(m_panel->Work().Busy());
        QVERIFY(!m_panel->Work().Saving());
        QVERIFY(m_panel->close());
        QVERIFY(!m_panel->Work().Busy());
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(!shown);
        QVERIFY(m_messages.isEmpty());
    }

    void aPreviewAtAScaleShowsTheRealSize()
    {
        TSettings settings;
        settings.Flag.Frames = 4;
        settings.ExportScale = 3;
        m_panel->SetSettings(settings);
        QString status;
        QSize image;
        m_panel->PreviewForm()->ModalRun = [&](TPreviewForm& form) {
            status = form.StatusText();
            image = form.PreviewImage->size();
            return int(mrCancel);
        };
        m_panel->Preview1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        // The size, the colours, the frames and the file's bytes.
        QVERIFY2(status.startsWith(QStringLiteral("450 x 291 像素 x 256 颜色 x 4 帧 x "))
                && status.endsWith(QStringLiteral(" 字节")),
            qPrintable(status));
        QCOMPARE(image, QSize(450, 291));
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));
    }

    // The bar says what runs, also while it has no measure (a picture being
    // read), and shows the text as it is, whatever it holds.
    void theBarShowsTheTaskTextWithOrWithoutAMeasure()
    {
        // The bar takes the text when the task starts and keeps it until the
        // window's loop next looks, so work that ends at once will do.
        TWorkBar bar;
        const std::pair<QString, int> tasks[] = { { QStringLiteral("正在读取图片..."), -1 },
            { QStringLiteral("正在保存 100%p %v.gif"), 500 } };
        for (const auto& [text, permille] : tasks) {
            TWorkBar::TTask task;
            task.Work = [] {};
            task.Text = [text] { return text; };
            task.Permille = [permille] { return permille; };
            QVERIFY(bar.Start(std::move(task)));
            QCOMPARE(bar.ProgressBar->maximum(), permille < 0 ? 0 : 1000);
            QCOMPARE(bar.ProgressBar->text(), text);
            QVERIFY(bar.WaitUntilIdle(10000));
        }
    }
};

QTEST_MAIN(tst_FlagWork)
#include "tst_FlagWork.moc"
