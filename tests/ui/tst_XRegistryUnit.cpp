// TNewRegistry over QSettings: key paths, typed reads with their fallbacks,
// the written form, the machine-wide store and its per-user stand-in.

#include "TemporaryStore.h"
#include "ui/flag/XRegistryUnit.h"

#include <QFile>
#include <QTest>
#include <limits>
#include <memory>

using zx::TNewRegistry;
using zx::TRootKey;

namespace {

const QString kRoot = QStringLiteral("\\Software\\Tarnwick\\Zephyrix");

} // namespace

class tst_XRegistryUnit : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_store = std::make_unique<zx::test::TTemporaryStore>();
        QVERIFY(m_store->IsValid());
    }
    void cleanup() { m_store.reset(); }

    void isRelative()
    {
        QVERIFY(TNewRegistry::IsRelative(QStringLiteral("Settings")));
        QVERIFY(TNewRegistry::IsRelative(QString()));
        QVERIFY(!TNewRegistry::IsRelative(kRoot));
        QVERIFY(!TNewRegistry::IsRelative(QStringLiteral("\\")));
    }

    void openingAMissingKeyFailsUnlessItMayBeCreated()
    {
        TNewRegistry registry;
        QVERIFY(!registry.OpenKey(kRoot, false));
        QVERIFY(!registry.HasCurrentKey());
        QVERIFY(registry.OpenKey(kRoot, true));
        QCOMPARE(registry.CurrentPath(), kRoot.mid(1));
        // Created but empty: a later reader finds nothing to open.
        registry.CloseKey();
        QVERIFY(!registry.OpenKey(kRoot, false));
        // A program's store opens once it holds a value, also when the value
        // lies in one of its groups.
        QVERIFY(registry.OpenKey(kRoot + QStringLiteral("\\Forms"), true));
        registry.WriteInteger(QStringLiteral("ControlPanelX"), 5);
        registry.Flush();
        TNewRegistry reader;
        QVERIFY(reader.OpenKey(kRoot, false));
        QVERIFY(reader.OpenKey(QStringLiteral("Forms"), false));
        QVERIFY(!reader.OpenKey(QStringLiteral("Text"), false));
        // A failed open leaves the current key as it was.
        QCOMPARE(reader.CurrentPath(), QStringLiteral("Software\\Tarnwick\\Zephyrix\\Forms"));
        QCOMPARE(reader.ReadIntegerDef(QStringLiteral("ControlPanelX"), 0), 5);
    }

    void relativePathsStartAtTheCurrentKey()
    {
        TNewRegistry registry;
        // Without an open key a relative path starts at the root.
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\Tarnwick\\Zephyrix"), true));
        QCOMPARE(registry.CurrentPath(), QStringLiteral("Software\\Tarnwick\\Zephyrix"));
        QVERIFY(registry.OpenKey(QStringLiteral("Settings"), true));
        QCOMPARE(registry.CurrentPath(), QStringLiteral("Software\\Tarnwick\\Zephyrix\\Settings"));
        registry.WriteInteger(QStringLiteral("Frames"), 12);
        QVERIFY(registry.OpenKey(QStringLiteral("Deeper"), true));
        registry.WriteInteger(QStringLiteral("Level"), 2);
        // An absolute path ignores the current key.
        QVERIFY(registry.OpenKey(kRoot, true));
        QCOMPARE(registry.CurrentPath(), kRoot.mid(1));
        registry.WriteString(QStringLiteral("CurrentDirectory"), QStringLiteral("/tmp"));
        registry.Flush();
        const QByteArray file = m_store->ReadUserFile();
        QVERIFY2(file.contains("[Settings]\n"), file.constData());
        QVERIFY2(file.contains("\nFrames=12\n"), file.constData());
        // QSettings writes a group below a group as a key with its path.
        QVERIFY2(file.contains("Deeper\\Level=2\n"), file.constData());
        QVERIFY2(file.contains("[General]\nCurrentDirectory=/tmp\n"), file.constData());
    }

    void pathsThatNameNoProgramDoNotOpen()
    {
        TNewRegistry registry;
        QVERIFY(!registry.OpenKey(QStringLiteral("\\Software\\Tarnwick"), true));
        QVERIFY(!registry.OpenKey(QStringLiteral("\\Software"), true));
        QVERIFY(!registry.OpenKey(QString(), true));
        QVERIFY(!registry.OpenKey(QStringLiteral("\\Hardware\\Tarnwick\\Zephyrix"), true));
        QVERIFY(!registry.OpenKey(kRoot + QStringLiteral("\\a/b"), true));
        QVERIFY(!registry.HasCurrentKey());
    }

    void integersAndBooleansAreWrittenAsIntegers()
    {
        {
            TNewRegistry registry;
            QVERIFY(registry.OpenKey(kRoot + QStringLiteral("\\Settings"), true));
            registry.WriteBool(QStringLiteral("TransparentMode"), true);
            registry.WriteBool(QStringLiteral("InvertLightMode"), false);
            registry.WriteInteger(QStringLiteral("Distance"), -50);
            registry.WriteInteger(QStringLiteral("Huge"), std::numeric_limits<std::int32_t>::min());
            // Read back before and after the store is written out: the same.
            QCOMPARE(registry.ReadString(QStringLiteral("Distance")), QStringLiteral("-50"));
            QCOMPARE(registry.ReadIntegerDef(QStringLiteral("TransparentMode"), 7), 1);
        }
        const QByteArray file = m_store->ReadUserFile();
        QVERIFY2(file.contains("TransparentMode=1\n"), file.constData());
        QVERIFY2(file.contains("InvertLightMode=0\n"), file.constData());
        QVERIFY2(file.contains("Distance=-50\n"), file.constData());
        TNewRegistry registry;
        QVERIFY(registry.OpenKey(kRoot + QStringLiteral("\\Settings"), false));
        QCOMPARE(registry.ReadBoolDef(QStringLiteral("TransparentMode"), false), true);
        QCOMPARE(registry.ReadBoolDef(QStringLiteral("InvertLightMode"), true), false);
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("Distance"), 0), -50);
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("Huge"), 0),
            std::numeric_limits<std::int32_t>::min());
        QCOMPARE(registry.ReadString(QStringLiteral("Distance")), QStringLiteral("-50"));
    }

    void readsFallBackOnMissingAndMistypedValues_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("integer");
        QTest::addColumn<int>("boolean");
        QTest::addColumn<QString>("text");
        // integer/boolean -1 and text "<default>": the default came back.
        QTest::newRow("missing") << QByteArray() << -1 << -1 << "<default>";
        QTest::newRow("integer") << QByteArray("42") << 42 << 1 << "42";
        QTest::newRow("zero") << QByteArray("0") << 0 << 0 << "0";
        QTest::newRow("negative") << QByteArray("-7") << -7 << 1 << "-7";
        QTest::newRow("word") << QByteArray("abc") << -1 << -1 << "abc";
        QTest::newRow("true as text") << QByteArray("true") << -1 << -1 << "true";
        QTest::newRow("fraction") << QByteArray("3.5") << -1 << -1 << "3.5";
        QTest::newRow("hexadecimal") << QByteArray("0x10") << -1 << -1 << "0x10";
        QTest::newRow("beyond 32 bits") << QByteArray("4294967296") << -1 << -1 << "4294967296";
        QTest::newRow("empty") << QByteArray("") << -1 << -1 << "";
        // An unquoted comma makes a list, which is no string.
        QTest::newRow("list") << QByteArray("a, b") << -1 << -1 << "<default>";
        QTest::newRow("quoted comma") << QByteArray("\"a, b\"") << -1 << -1 << "a, b";
        QTest::newRow("rectangle") << QByteArray("@Rect(1 2 3 4)") << -1 << -1 << "<default>";
    }
    void readsFallBackOnMissingAndMistypedValues()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, integer);
        QFETCH(int, boolean);
        QFETCH(QString, text);
        QByteArray file = "[Settings]\nOther=1\n";
        if (QByteArray(QTest::currentDataTag()) != "missing")
            file += "Value=" + stored + "\n";
        m_store->WriteUserFile(file);

        TNewRegistry registry;
        QVERIFY(registry.OpenKey(kRoot + QStringLiteral("\\Settings"), false));
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("Value"), -1), integer);
        QCOMPARE(
            registry.ReadIntegerDef(QStringLiteral("Value"), -2), integer == -1 ? -2 : integer);
        const bool expectedTrue = boolean == -1 ? true : boolean == 1;
        const bool expectedFalse = boolean == -1 ? false : boolean == 1;
        QCOMPARE(registry.ReadBoolDef(QStringLiteral("Value"), true), expectedTrue);
        QCOMPARE(registry.ReadBoolDef(QStringLiteral("Value"), false), expectedFalse);
        QCOMPARE(
            registry.ReadStringDef(QStringLiteral("Value"), QStringLiteral("<default>")), text);
    }

    void writingWithoutAnOpenKeyIsAnError()
    {
        TNewRegistry registry;
        QVERIFY_THROWS_EXCEPTION(
            zx::ERegistryException, registry.WriteInteger(QStringLiteral("ExeCounter"), 1));
        QVERIFY(!registry.ValueExists(QStringLiteral("ExeCounter")));
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("ExeCounter"), 9), 9);
    }

    void aStoreThatCannotBeWrittenOpensNoKeyForWriting()
    {
        m_store->MakeUserStoreUnwritable();
        TNewRegistry registry;
        QVERIFY(!registry.OpenKey(kRoot, true));
        QVERIFY(!registry.HasCurrentKey());
    }

    void flushReportsAStoreThatCouldNotBeWritten()
    {
        TNewRegistry registry;
        QVERIFY(registry.OpenKey(kRoot, true));
        registry.WriteInteger(QStringLiteral("ExeCounter"), 1);
        // The folder of the file turns into a plain file before the write.
        const QString folder = m_store->UserFolder() + QStringLiteral("/Tarnwick");
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY_THROWS_EXCEPTION(zx::ERegistryException, registry.Flush());
    }

    void unknownValuesAndGroupsSurviveAWrite()
    {
        m_store->WriteUserFile("[General]\nCurrentDirectory=/old\nSomethingElse=keep me\n\n"
                               "[Settings]\nFrames=3\nBackgroundColor=255\n\n"
                               "[Text]\nFontName=Arial\nFontSize=44\n\n"
                               "[Future]\nIdea=1\n");
        {
            TNewRegistry registry;
            QVERIFY(registry.OpenKey(kRoot, true));
            registry.WriteString(QStringLiteral("CurrentDirectory"), QStringLiteral("/new"));
            QVERIFY(registry.OpenKey(QStringLiteral("Settings"), true));
            registry.WriteInteger(QStringLiteral("Frames"), 9);
            registry.Flush();
        }
        TNewRegistry registry;
        QVERIFY(registry.OpenKey(kRoot, false));
        QCOMPARE(
            registry.ReadStringDef(QStringLiteral("CurrentDirectory"), {}), QStringLiteral("/new"));
        QCOMPARE(
            registry.ReadStringDef(QStringLiteral("SomethingElse"), {}), QStringLiteral("keep me"));
        QVERIFY(registry.OpenKey(QStringLiteral("Settings"), false));
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("Frames"), 0), 9);
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("BackgroundColor"), 0), 255);
        QVERIFY(registry.OpenKey(kRoot + QStringLiteral("\\Text"), false));
        QCOMPARE(registry.ReadStringDef(QStringLiteral("FontName"), {}), QStringLiteral("Arial"));
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("FontSize"), 0), 44);
        QVERIFY(registry.OpenKey(kRoot + QStringLiteral("\\Future"), false));
        QCOMPARE(registry.ReadIntegerDef(QStringLiteral("Idea"), 0), 1);
    }

    void theMachineWideStoreIsItsOwn()
    {
        TNewRegistry machine(TRootKey::LocalMachine);
        QVERIFY(machine.OpenKey(kRoot, true));
        QVERIFY(!machine.UsesPerUserFallback());
        machine.WriteString(QStringLiteral("Version"), QStringLiteral("1.05"));
        machine.Flush();
        QVERIFY(QFile::exists(m_store->SystemFile()));
        QVERIFY(!QFile::exists(m_store->UserFile()));
        // The per-user store does not read through to it.
        TNewRegistry user;
        QVERIFY(!user.OpenKey(kRoot, false));
        QCOMPARE(user.ReadStringDef(QStringLiteral("Version"), QStringLiteral("none")),
            QStringLiteral("none"));
    }

    void anUnwritableMachineWideStoreFallsBackToThePerUserOne()
    {
        m_store->MakeSystemStoreUnwritable();
        {
            TNewRegistry machine(TRootKey::LocalMachine);
            QVERIFY(machine.OpenKey(kRoot, true));
            QVERIFY(machine.UsesPerUserFallback());
            machine.WriteString(QStringLiteral("Version"), QStringLiteral("1.05"));
            machine.Flush();
        }
        const QByteArray file = m_store->ReadUserFile();
        QVERIFY2(file.contains("Version=1.05"), file.constData());
        // What was written there is what the machine-wide root reads back.
        TNewRegistry machine(TRootKey::LocalMachine);
        QVERIFY(machine.OpenKey(kRoot, false));
        QCOMPARE(machine.ReadStringDef(QStringLiteral("Version"), {}), QStringLiteral("1.05"));
        // Changing the root closes the key.
        machine.SetRootKey(TRootKey::CurrentUser);
        QVERIFY(!machine.HasCurrentKey());
    }

private:
    std::unique_ptr<zx::test::TTemporaryStore> m_store;
};

QTEST_GUILESS_MAIN(tst_XRegistryUnit)
#include "tst_XRegistryUnit.moc"
