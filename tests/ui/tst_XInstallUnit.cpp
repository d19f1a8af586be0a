// The first-start bookkeeping: the run counter, the install record, the menu
// entry, and the panel's check that shows the About box at a first start, a
// second one, a new version or a moved program.

#include "TemporaryStore.h"
#include "UITestUtil.h"
#include "ui/controls/XAboutBoxComp.h"
#include "ui/controls/XAboutBoxUnit.h"
#include "ui/controls/XExeCounterUnit.h"
#include "ui/controls/XInstallUnit.h"
#include "ui/controls/XShortcutUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/flag/XRegistryUnit.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>
#include <limits>
#include <memory>

using zx::TFlagForm;
using zx::TNewRegistry;
using zx::TPanelStart;
using zx::TRootKey;

namespace {

const QString kRoot = QStringLiteral("\\Software\\Tarnwick\\Zephyrix");
const QString kVersion = QStringLiteral("版本 1.05 - 1999 年 12 月 11 日");

QString Read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void WriteFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), text.size());
}

std::int32_t StoredCounter()
{
    TNewRegistry registry;
    if (!registry.OpenKey(kRoot, false))
        return -100;
    return registry.ReadIntegerDef(QStringLiteral("ExeCounter"), -100);
}

// The Exec key's value read back as a desktop reads it: first the string
// escapes, then the quoting of the command line's words.
QStringList ExecWords(const QString& value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == QLatin1Char('s') ? QChar(' ')
                : next == QLatin1Char('n')        ? QChar('\n')
                : next == QLatin1Char('t')        ? QChar('\t')
                : next == QLatin1Char('r')        ? QChar('\r')
                                                  : next;
        } else {
            unescaped += value[i];
        }
    }
    QStringList words;
    QString word;
    bool quoted = false;
    bool inWord = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < unescaped.size())
                word += unescaped[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                word += c;
        } else if (c == QLatin1Char('"')) {
            quoted = inWord = true;
        } else if (c == QLatin1Char(' ')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    // "%%" is a literal percent sign.
    for (QString& w : words)
        w.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return words;
}

QString EntryValue(const QString& entry, const QString& key)
{
    for (const QString& line : entry.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    }
    return QString();
}

} // namespace

class tst_XInstallUnit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        QPixmap icon(48, 48);
        icon.fill(Qt::darkCyan);
        QApplication::setWindowIcon(QIcon(icon));
    }
    void init()
    {
        m_store = std::make_unique<zx::test::TTemporaryStore>();
        QVERIFY(m_store->IsValid());
        m_aboutBoxes = 0;
        zx::TAboutBox::SetAboutBoxHook([this](zx::TAboutBoxForm& form) {
            ++m_aboutBoxes;
            form.show();
            m_aboutTitle = form.windowTitle();
            form.close();
            return int(form.result());
        });
    }
    void cleanup()
    {
        zx::TAboutBox::SetAboutBoxHook({});
        m_store.reset();
    }

    // --- the run counter

    void theCounterCountsEveryStart()
    {
        QCOMPARE(zx::ExeCounter(kRoot), 0);
        QCOMPARE(StoredCounter(), 1);
        QCOMPARE(zx::ExeCounter(kRoot), 1);
        QCOMPARE(zx::ExeCounter(kRoot), 2);
        QCOMPARE(StoredCounter(), 3);
    }

    void aCounterStoredAsAStringCountsAsZero()
    {
        m_store->WriteUserFile("[General]\nExeCounter=three\n");
        QCOMPARE(zx::ExeCounter(kRoot), 0);
        QVERIFY(m_store->ReadUserFile().contains("ExeCounter=1\n"));
    }

    void aCounterAtItsEndStaysThere()
    {
        m_store->WriteUserFile("[General]\nExeCounter=2147483647\n");
        QCOMPARE(zx::ExeCounter(kRoot), std::numeric_limits<std::int32_t>::max());
        QCOMPARE(StoredCounter(), std::numeric_limits<std::int32_t>::max());
    }

    void aCounterThatCannotBeKeptIsMinusOne()
    {
        m_store->MakeUserStoreUnwritable();
        QCOMPARE(zx::ExeCounter(kRoot), -1);
        QCOMPARE(zx::ExeCounter(QStringLiteral("\\Software\\Tarnwick")), -1);
    }

    // --- the install record

    void theRecordNoticesANewVersionOrFolder()
    {
        const QString program = QStringLiteral("/opt/zephyrix/bin/zephyrix");
        QCOMPARE(zx::ProgramFolder(program), QStringLiteral("/opt/zephyrix/bin/"));
        // Empty at first: a change.
        QVERIFY(zx::InstallRecord(kRoot, kVersion, program));
        {
            TNewRegistry machine(TRootKey::LocalMachine);
            QVERIFY(machine.OpenKey(kRoot, false));
            QCOMPARE(machine.ReadStringDef(QStringLiteral("Version"), {}), kVersion);
            QCOMPARE(machine.ReadStringDef(QStringLiteral("InstallPath"), {}),
                QStringLiteral("/opt/zephyrix/bin/"));
        }
        QVERIFY(!zx::InstallRecord(kRoot, kVersion, program));
        // Moved: a change, and the new folder is kept.
        QVERIFY(zx::InstallRecord(kRoot, kVersion, QStringLiteral("/home/me/zx/zephyrix")));
        QVERIFY(!zx::InstallRecord(kRoot, kVersion, QStringLiteral("/home/me/zx/zephyrix")));
        // The comparison is exact.
        QVERIFY(zx::InstallRecord(kRoot, kVersion, QStringLiteral("/home/me/ZX/zephyrix")));
        QVERIFY(zx::InstallRecord(
            kRoot, QStringLiteral("版本 1.06"), QStringLiteral("/home/me/ZX/zephyrix")));
        // It lives in the machine-wide store only.
        QVERIFY(QFile::exists(m_store->SystemFile()));
        QVERIFY(!m_store->ReadUserFile().contains("InstallPath"));
    }

    void anUnchangedRecordIsNotWritten()
    {
        // A hand-written file with a comment: any write would rewrite the
        // file without it.
        QVERIFY(QDir().mkpath(m_store->SystemFolder() + QStringLiteral("/Tarnwick")));
        QFile file(m_store->SystemFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray text = "; written by the installer\n[General]\nInstallPath=/opt/zx/\n"
                                "Version="
            + kVersion.toUtf8() + "\n";
        file.write(text);
        file.close();
        QVERIFY(!zx::InstallRecord(kRoot, kVersion, QStringLiteral("/opt/zx/zephyrix")));
        QCOMPARE(Read(m_store->SystemFile()).toUtf8(), text);
    }

    void anUnwritableMachineWideStoreKeepsTheRecordPerUser()
    {
        m_store->MakeSystemStoreUnwritable();
        const QString program = QStringLiteral("/opt/zx/zephyrix");
        QVERIFY(zx::InstallRecord(kRoot, kVersion, program));
        QVERIFY(m_store->ReadUserFile().contains("InstallPath=/opt/zx/"));
        QVERIFY(!zx::InstallRecord(kRoot, kVersion, program));
    }

    void aRecordThatCannotBeWrittenAnywhereIsAnError()
    {
        m_store->MakeSystemStoreUnwritable();
        m_store->MakeUserStoreUnwritable();
        QVERIFY_THROWS_EXCEPTION(zx::ERegistryException,
            zx::InstallRecord(kRoot, kVersion, QStringLiteral("/opt/zx/zephyrix")));
    }

    // --- the menu entry

    void theEntryStartsTheProgramFromTheMenu()
    {
        const QString target = QStringLiteral("/opt/zephyrix/bin/zephyrix");
        QVERIFY(zx::CreateShortcut(
            QStringLiteral("Zephyrix"), target, QString(), true, QStringLiteral("Tarnwick")));
        const QString path
            = m_store->DataFolder() + QStringLiteral("/applications/Tarnwick/Zephyrix.desktop");
        QCOMPARE(
            zx::ShortcutFileName(QStringLiteral("Zephyrix"), QStringLiteral("Tarnwick")), path);
        const QString entry = Read(path);
        QVERIFY2(entry.startsWith(QStringLiteral("[Desktop Entry]\n")), qPrintable(entry));
        QCOMPARE(EntryValue(entry, QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(EntryValue(entry, QStringLiteral("Name")), QStringLiteral("Zephyrix"));
        QCOMPARE(ExecWords(EntryValue(entry, QStringLiteral("Exec"))), QStringList { target });
        QCOMPARE(EntryValue(entry, QStringLiteral("Path")), QStringLiteral("/opt/zephyrix/bin"));
        QCOMPARE(EntryValue(entry, QStringLiteral("Categories")), QStringLiteral("Graphics;"));
        QCOMPARE(EntryValue(entry, QStringLiteral("Icon")), QStringLiteral("zephyrix"));
        const QImage icon(
            m_store->DataFolder() + QStringLiteral("/icons/hicolor/48x48/apps/zephyrix.png"));
        QCOMPARE(icon.size(), QSize(48, 48));
    }

    void anExistingEntryIsReplaced()
    {
        const QString path
            = zx::ShortcutFileName(QStringLiteral("Zephyrix"), QStringLiteral("Tarnwick"));
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[Desktop Entry]\nName=Old\nExec=/old/place/zephyrix\n");
        old.close();
        QVERIFY(zx::CreateShortcut(QStringLiteral("Zephyrix"), QStringLiteral("/new/zephyrix"),
            QString(), true, QStringLiteral("Tarnwick")));
        const QString entry = Read(path);
        QCOMPARE(ExecWords(EntryValue(entry, QStringLiteral("Exec"))),
            QStringList { QStringLiteral("/new/zephyrix") });
        QVERIFY(!entry.contains(QStringLiteral("Old")));
    }

    void awkwardProgramPathsSurviveTheCommandLine_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("space") << "/opt/my programs/zephyrix";
        QTest::newRow("quote and dollar") << "/opt/\"$HOME\"/zephyrix";
        QTest::newRow("backslash and backtick") << "/opt/a\\b`c/zephyrix";
        QTest::newRow("percent") << "/opt/100%u/zephyrix";
        QTest::newRow("chinese") << "/opt/旗帜/zephyrix";
    }
    void awkwardProgramPathsSurviveTheCommandLine()
    {
        QFETCH(QString, target);
        const QString entry = zx::DesktopEntryText(
            QStringLiteral("Zephyrix"), target, QStringLiteral("--flag"), QString());
        QCOMPARE(ExecWords(EntryValue(entry, QStringLiteral("Exec"))),
            QStringList({ target, QStringLiteral("--flag") }));
        // A lone % would start a field code.
        const QString exec = EntryValue(entry, QStringLiteral("Exec"));
        QVERIFY(!exec.contains(QRegularExpression(QStringLiteral("(^|[^%])%([^%]|$)"))));
        QVERIFY(!entry.contains(QStringLiteral("Icon=")));
    }

    // --- an installed program

    void anInstallationIsKnownByItsMenuEntry()
    {
        const QString prefix = m_store->Path() + QStringLiteral("/opt/zephyrix 1.05");
        const QString program = prefix + QStringLiteral("/bin/zephyrix");
        const QString entry
            = prefix + QStringLiteral("/share/applications/example.tarnwick.Zephyrix.desktop");
        QCOMPARE(zx::InstalledEntryFileName(program), entry);
        QVERIFY(!zx::HasInstalledEntry(program));
        QVERIFY(QDir().mkpath(prefix + QStringLiteral("/bin")));
        // A folder where the entry should be is no entry.
        QVERIFY(QDir().mkpath(entry));
        QVERIFY(!zx::HasInstalledEntry(program));
        QVERIFY(QDir().rmdir(entry));
        WriteFile(entry, "[Desktop Entry]\nType=Application\nName=Zephyrix\n");
        QVERIFY(zx::HasInstalledEntry(program));
        // Only the prefix the program runs from counts: not a program one
        // folder deeper or higher, nor one in a prefix beside it.
        QVERIFY(!zx::HasInstalledEntry(prefix + QStringLiteral("/bin/old/zephyrix")));
        QVERIFY(!zx::HasInstalledEntry(prefix + QStringLiteral("/zephyrix")));
        QVERIFY(
            !zx::HasInstalledEntry(m_store->Path() + QStringLiteral("/opt/zephyrix/bin/zephyrix")));
        // A relative program path is taken from the current folder.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(prefix));
        const bool relative = zx::HasInstalledEntry(QStringLiteral("bin/zephyrix"));
        QDir::setCurrent(previous);
        QVERIFY(relative);
    }

    void anInstalledProgramAddsNoEntryOfItsOwn()
    {
        const QString prefix = m_store->Path() + QStringLiteral("/usr");
        const QString program = prefix + QStringLiteral("/bin/zephyrix");
        const QString installed = zx::InstalledEntryFileName(program);
        QVERIFY(QDir().mkpath(QFileInfo(installed).absolutePath()));
        WriteFile(installed, "[Desktop Entry]\nType=Application\nName=Zephyrix\n");
        const QString own
            = zx::ShortcutFileName(QStringLiteral("Zephyrix"), QStringLiteral("Tarnwick"));
        QVERIFY(!zx::CreateShortcut(
            QStringLiteral("Zephyrix"), program, QString(), true, QStringLiteral("Tarnwick")));
        QVERIFY(!QFileInfo::exists(own));
        QVERIFY(!QFileInfo::exists(m_store->DataFolder() + QStringLiteral("/icons")));
        // An entry the program added before it was installed (run from its
        // build folder, say) is left as it is.
        QVERIFY(QDir().mkpath(QFileInfo(own).absolutePath()));
        WriteFile(own, "[Desktop Entry]\nName=Zephyrix\nExec=/home/me/zephyrix/build/zephyrix\n");
        QVERIFY(!zx::CreateShortcut(
            QStringLiteral("Zephyrix"), program, QString(), true, QStringLiteral("Tarnwick")));
        QVERIFY(Read(own).contains(QStringLiteral("Exec=/home/me/zephyrix/build/zephyrix")));
        // Once the installation's entry is gone, the program makes its own.
        QVERIFY(QFile::remove(installed));
        QVERIFY(zx::CreateShortcut(
            QStringLiteral("Zephyrix"), program, QString(), true, QStringLiteral("Tarnwick")));
        QCOMPARE(ExecWords(EntryValue(Read(own), QStringLiteral("Exec"))), QStringList { program });
    }

    // --- the panel's first-start check

    void aFirstStartShowsTheAboutBoxAndAddsTheEntry()
    {
        {
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
            QVERIFY(zx::PanelExists);
        }
        QCOMPARE(m_aboutBoxes, 1);
        QCOMPARE(m_aboutTitle, QStringLiteral("关于 Zephyrix"));
        QCOMPARE(StoredCounter(), 1);
        const QString entry = Read(
            m_store->DataFolder() + QStringLiteral("/applications/Tarnwick/Zephyrix.desktop"));
        QCOMPARE(ExecWords(EntryValue(entry, QStringLiteral("Exec"))),
            QStringList { QCoreApplication::applicationFilePath() });
        // The first start does not write the install record: the second one
        // finds it empty and shows the box again; the third does not.
        QVERIFY(!QFile::exists(m_store->SystemFile()));
        {
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        }
        QCOMPARE(m_aboutBoxes, 2);
        QVERIFY(QFile::exists(m_store->SystemFile()));
        {
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        }
        QCOMPARE(m_aboutBoxes, 2);
        QCOMPARE(StoredCounter(), 3);
    }

    void aCounterStoredAsAStringMakesAFirstStart()
    {
        m_store->WriteUserFile("[General]\nExeCounter=twelve\n");
        {
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        }
        QCOMPARE(m_aboutBoxes, 1);
        QCOMPARE(StoredCounter(), 1);
    }

    void aMovedProgramOrANewVersionShowsTheBoxAgain_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("boxes");
        const QString here = zx::ProgramFolder(QCoreApplication::applicationFilePath());
        QTest::newRow("same version and folder") << here << kVersion << 0;
        QTest::newRow("moved program") << QStringLiteral("/somewhere/else/") << kVersion << 1;
        QTest::newRow("new version") << here << QStringLiteral("版本 1.04") << 1;
    }
    void aMovedProgramOrANewVersionShowsTheBoxAgain()
    {
        QFETCH(QString, folder);
        QFETCH(QString, version);
        QFETCH(int, boxes);
        m_store->WriteUserFile("[General]\nExeCounter=5\n");
        {
            TNewRegistry machine(TRootKey::LocalMachine);
            QVERIFY(machine.OpenKey(kRoot, true));
            machine.WriteString(QStringLiteral("InstallPath"), folder);
            machine.WriteString(QStringLiteral("Version"), version);
        }
        {
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        }
        QCOMPARE(m_aboutBoxes, boxes);
        QCOMPARE(QFileInfo::exists(
                     zx::ShortcutFileName(QStringLiteral("Zephyrix"), QStringLiteral("Tarnwick"))),
            boxes == 1);
        TNewRegistry machine(TRootKey::LocalMachine);
        QVERIFY(machine.OpenKey(kRoot, false));
        QCOMPARE(machine.ReadStringDef(QStringLiteral("InstallPath"), {}),
            zx::ProgramFolder(QCoreApplication::applicationFilePath()));
        QCOMPARE(machine.ReadStringDef(QStringLiteral("Version"), {}), kVersion);
    }

    void anUnwritableStoreNeverStopsStartUp()
    {
        m_store->WriteUserFile("[General]\nExeCounter=5\n");
        m_store->MakeSystemStoreUnwritable();
        // The machine-wide store falls back to the per-user one.
        {
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        }
        QCOMPARE(m_aboutBoxes, 1);
        {
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        }
        QCOMPARE(m_aboutBoxes, 1);
        // Neither store can be written: the counter says -1, the record fails,
        // and the panel is made all the same.
        m_store->MakeUserStoreUnwritable();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^zephyrix: ")));
        TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        QVERIFY(zx::PanelExists);
        QCOMPARE(m_aboutBoxes, 1);
        auto* flag = new zx::TShowForm(&panel);
        panel.StartUp(flag);
        QVERIFY(panel.isVisible());
    }

    void aPlainPanelMakesNoCheck()
    {
        {
            TFlagForm panel;
        }
        QCOMPARE(m_aboutBoxes, 0);
        QCOMPARE(StoredCounter(), -100);
    }

    void theInformationCommandShowsTheBox()
    {
        TFlagForm panel;
        QCOMPARE(zx::test::Control<QMenu>(panel, "About1")->title(), QStringLiteral("关于(&A)"));
        QCOMPARE(zx::test::Control<QAction>(panel, "Info1")->text(), QStringLiteral("信息(&I)..."));
        QVERIFY(panel.menuBar()->actions().contains(
            zx::test::Control<QMenu>(panel, "About1")->menuAction()));
        std::uint16_t busyWhileUp = 0;
        QString version;
        QSize picture;
        zx::TAboutBox::SetAboutBoxHook([&](zx::TAboutBoxForm& form) {
            ++m_aboutBoxes;
            busyWhileUp = panel.BusyFlags();
            version = form.VersionLabel->text();
            picture = form.ProductImage->pixmap().size();
            return int(QDialog::Accepted);
        });
        zx::test::Control<QAction>(panel, "Info1")->trigger();
        QCOMPARE(m_aboutBoxes, 1);
        QCOMPARE(version, kVersion);
        QCOMPARE(picture, QSize(240, 36));
        QCOMPARE(busyWhileUp & zx::bfDialog, zx::bfDialog);
        QCOMPARE(panel.BusyFlags() & zx::bfDialog, 0);
    }

private:
    std::unique_ptr<zx::test::TTemporaryStore> m_store;
    int m_aboutBoxes = 0;
    QString m_aboutTitle;
};

QTEST_MAIN(tst_XInstallUnit)
#include "tst_XInstallUnit.moc"
