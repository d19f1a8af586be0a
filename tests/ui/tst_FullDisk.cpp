// The files the desktop program writes besides its animations (the settings,
// the install record, the menu entry) on a full disk and in a folder that
// cannot be made: the previous file stays whole, no temporary file is left
// beside it, and the program goes on.
//
// A full disk is a file size limit on this process (RLIMIT_FSIZE, with
// SIGXFSZ ignored, so a write that would grow a file past it fails as on a
// full disk); it binds root as well, unlike folder permissions.

#include "TemporaryStore.h"
#include "ui/controls/XAboutBoxComp.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XInstallUnit.h"
#include "ui/controls/XShortcutUnit.h"
#include "ui/flag/FirstStartCheck.h"
#include "ui/flag/FlagSettingsStore.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/ShowUnit.h"
#include "ui/flag/XRegistryUnit.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/resource.h>

using namespace zx;

namespace {

// While it lives, no file of this process grows beyond `bytes`.
class TFullDisk {
public:
    explicit TFullDisk(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_old;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~TFullDisk()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    TFullDisk(const TFullDisk&) = delete;
    TFullDisk& operator=(const TFullDisk&) = delete;

private:
    rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// The names of the files below folder, sorted.
QStringList FilesIn(const QString& folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QDir(folder).relativeFilePath(it.next());
    names.sort();
    return names;
}

} // namespace

class tst_FullDisk : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TTemporaryStore> m_store;
    QStringList m_boxes;

private slots:
    void initTestCase()
    {
        // The window icon is what the menu entry's icon is made from.
        InitializeApplication();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void init()
    {
        m_store = std::make_unique<test::TTemporaryStore>();
        QVERIFY(m_store->IsValid());
        m_boxes.clear();
        SetMessageBoxHook(
            [this](const QString& title, const QString& text) { m_boxes << title + ": " + text; });
        TAboutBox::SetAboutBoxHook([](TAboutBoxForm&) { return 1; });
    }
    void cleanup()
    {
        TAboutBox::SetAboutBoxHook({});
        SetMessageBoxHook({});
        m_store.reset();
    }

    // Closing the panel writes the settings; on a full disk that fails with
    // one error box, the settings of the last close stay whole and come back at
    // the next start, and no temporary file is left in the store's folder.
    void theSettingsOnAFullDisk()
    {
        {
            TFlagForm panel;
            panel.StartUp(new TShowForm(&panel));
            QVERIFY(panel.close());
        }
        const QByteArray saved = ReadAll(m_store->UserFile());
        QVERIFY(saved.contains("Frames=8"));
        const QStringList files = FilesIn(m_store->UserFolder());
        {
            TFlagForm panel;
            panel.StartUp(new TShowForm(&panel));
            TSettings changed = panel.Settings();
            changed.Flag.Frames = 17;
            panel.SetSettings(changed);
            const TFullDisk full(64);
            panel.close();
        }
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(ReadAll(m_store->UserFile()), saved);
        QCOMPARE(FilesIn(m_store->UserFolder()), files);
        TFlagForm panel;
        panel.StartUp(new TShowForm(&panel));
        QCOMPARE(panel.Settings().Flag.Frames, 8);
    }

    // The menu entry: on a full disk the old entry stays as it was, in a
    // folder that cannot be made nothing is written; neither leaves a
    // temporary file, and both only cost the entry.
    void theMenuEntryOnAFullDiskAndBelowAFile()
    {
        const QString program = m_store->Path() + QStringLiteral("/bin/zephyrix");
        QVERIFY(CreateShortcut(
            QStringLiteral("Zephyrix"), program, QString(), true, QStringLiteral("Tarnwick")));
        const QString entry
            = ShortcutFileName(QStringLiteral("Zephyrix"), QStringLiteral("Tarnwick"));
        const QByteArray written = ReadAll(entry);
        QVERIFY(written.startsWith("[Desktop Entry]"));
        const QStringList files = FilesIn(m_store->DataFolder());
        {
            const TFullDisk full(16);
            QVERIFY(!CreateShortcut(QStringLiteral("Zephyrix"), program + QStringLiteral("-new"),
                QString(), true, QStringLiteral("Tarnwick")));
        }
        // Once the entry came out cut short, and the call said it was written.
        QCOMPARE(ReadAll(entry), written);
        QCOMPARE(FilesIn(m_store->DataFolder()), files);
        // So was the icon beside it.
        const QStringList icons = files.filter(QStringLiteral(".png"));
        QCOMPARE(icons.size(), 1);
        QImage icon;
        QVERIFY(icon.load(m_store->DataFolder() + QLatin1Char('/') + icons.front()));
        QVERIFY(icon.width() > 16);

        QFile blocker(m_store->Path() + QStringLiteral("/a-file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
        QVERIFY(!CreateShortcut(
            QStringLiteral("Zephyrix"), program, QString(), true, QStringLiteral("Tarnwick")));
        QVERIFY(QFileInfo(blocker.fileName()).isFile());

        // A first start there: the status line says the entry is missing.
        TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        panel.StartUp(new TShowForm(&panel));
        QCOMPARE(panel.StatusText(), QStringLiteral("无法写入应用程序菜单中的菜单项"));
        QVERIFY(QFileInfo(blocker.fileName()).isFile());
        panel.close();
    }

    // The panel's own save, in each format, on a full disk: one error box,
    // the file that was there before stays whole, no temporary file is left
    // beside it, and the next save (with room again) writes the animation.
    void thePanelsSaveOnAFullDisk_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("magic");
        QTest::newRow("GIF") << QStringLiteral("flag.gif") << QByteArray("GIF89a");
        QTest::newRow("WebP") << QStringLiteral("flag.webp") << QByteArray("RIFF");
        QTest::newRow("APNG") << QStringLiteral("flag.png") << QByteArray("\x89PNG");
    }
    void thePanelsSaveOnAFullDisk()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, magic);
        const QString folder = m_store->Path() + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(folder));
        const QString target = folder + QLatin1Char('/') + name;
        const QByteArray old(3000, 'x');
        WriteAll(target, old);

        TFlagForm panel;
        panel.StartUp(new TShowForm(&panel));
        TSettings settings = panel.Settings();
        settings.Flag.Frames = 4;
        panel.SetSettings(settings);
        panel.GIFSaveDialog = [&] { return std::optional<QString>(target); };
        {
            // Room for a settings file, not for 4 frames of the flag.
            const TFullDisk full(2048);
            panel.Save1Click();
            QVERIFY(panel.Work().WaitUntilIdle());
            QTRY_COMPARE(m_boxes.size(), 1);
        }
        // The box names the file and why it could not be written.
        QVERIFY2(m_boxes.front().contains(target), qPrintable(m_boxes.front()));
        QVERIFY2(m_boxes.front().contains(QString::fromLocal8Bit(std::strerror(EFBIG))),
            qPrintable(m_boxes.front()));
        QCOMPARE(ReadAll(target), old);
        QCOMPARE(FilesIn(folder), QStringList { name });
        QVERIFY(!panel.Work().Busy());
        QCOMPARE(panel.BusyFlags(), std::uint16_t(0));

        panel.Save1Click();
        QVERIFY(panel.Work().WaitUntilIdle());
        QTRY_VERIFY(ReadAll(target).startsWith(magic));
        QCOMPARE(FilesIn(folder), QStringList { name });
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY(panel.close());
    }

    // The install record on a full disk: the write is reported (an
    // exception, which the first-start check takes), the record of the last
    // start stays, and the first-start check lets the program start.
    void theInstallRecordOnAFullDisk()
    {
        const QString program = m_store->Path() + QStringLiteral("/bin/zephyrix");
        QVERIFY(InstallRecord(ProgramKey(), QStringLiteral("1.05"), program));
        {
            const TFullDisk full(16);
            QVERIFY_THROWS_EXCEPTION(
                ERegistryException, InstallRecord(ProgramKey(), QStringLiteral("2.00"), program));
        }
        // On the disk the record is the last start's (this process's store
        // still holds the value it could not write).
        const QStringList stores = { m_store->SystemFile(), m_store->UserFile() };
        bool recorded = false;
        for (const QString& store : stores) {
            const QByteArray text = ReadAll(store);
            QVERIFY(!text.contains("2.00"));
            recorded = recorded || text.contains("Version=1.05");
        }
        QVERIFY(recorded);
        const QStringList files = FilesIn(m_store->SystemFolder()) + FilesIn(m_store->UserFolder());
        for (const QString& file : files)
            QVERIFY2(file.endsWith(QLatin1String(".conf")), qPrintable(file));

        // A whole start on a full disk: the panel comes up, its status line
        // says what could not be written, and it closes.
        const TFullDisk full(16);
        TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        panel.StartUp(new TShowForm(&panel));
        QVERIFY(panel.isVisible());
        const QString problem = panel.StatusText();
        // It names the store that could not be written.
        QVERIFY2(problem.contains(QStringLiteral("Zephyrix.conf")), qPrintable(problem));
        // The frames' status does not push it away at once.
        panel.FlagTimerTimer();
        panel.FlagTimerTimer();
        QCOMPARE(panel.StatusText(), problem);
        panel.close();
        QVERIFY(!panel.isVisible());
    }
};

QTEST_MAIN(tst_FullDisk)
#include "tst_FullDisk.moc"
