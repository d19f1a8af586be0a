// The font list: every family once, as people know it, though Qt names a
// family of several foundries once per foundry ("C059 [urw]", "C059 [UKWN]");
// a name saved with its foundry still finds its family, in the text dialog
// and in zephyrix-cli's --font. The fonts are a fontconfig set of this test's
// own: one font file reached through two folders, each folder giving its
// fonts a foundry, set up before Qt starts.

#include "ui/imaging/TextUnit.h"
#include "ui/imaging/XTextOverlayDraw.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>

using namespace zx;

namespace {

// The font both foundries provide: the CJK font the program's packages bring.
constexpr const char* kFontFile = "wqy-microhei.ttc";
constexpr const char* kFamily = "WenQuanYi Micro Hei";

QString FindSystemFont()
{
    QDirIterator files(QStringLiteral("/usr/share/fonts"), { QString::fromLatin1(kFontFile) },
        QDir::Files, QDirIterator::Subdirectories);
    return files.hasNext() ? files.next() : QString();
}

// Writes the fontconfig set into dir and returns its configuration file, or
// an empty string when the font is missing.
QString MakeFontSet(const QTemporaryDir& dir)
{
    const QString font = FindSystemFont();
    if (font.isEmpty())
        return QString();
    QString config = QStringLiteral("<?xml version=\"1.0\"?>\n<fontconfig>\n");
    for (const char* foundry : { "alpha", "beta" }) {
        const QString folder = dir.filePath(QString::fromLatin1(foundry));
        if (!QDir().mkpath(folder)
            || !QFile::link(font, folder + QLatin1Char('/') + QString::fromLatin1(kFontFile)))
            return QString();
        config += QStringLiteral(
            "<dir>%1</dir>\n<match target=\"scan\"><test name=\"file\" "
            "compare=\"contains\"><string>%1/</string></test><edit "
            "name=\"foundry\" mode=\"assign\"><string>%2</string></edit></match>\n")
                      .arg(folder, QString::fromLatin1(foundry));
    }
    config += QStringLiteral("<cachedir>%1</cachedir>\n</fontconfig>\n").arg(dir.filePath("cache"));
    const QString path = dir.filePath(QStringLiteral("fonts.conf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        return QString();
    return path;
}

int RunCli(const QStringList& arguments, QString* error = nullptr)
{
    QProcess cli;
    cli.start(QStringLiteral(ZX_CLI_PATH), arguments);
    if (!cli.waitForFinished(60000))
        return -1;
    if (error)
        *error = QString::fromUtf8(cli.readAllStandardError());
    return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

} // namespace

class tst_XFontFamilies : public QObject {
    Q_OBJECT

private slots:
    void familiesOfQtsNames()
    {
        QCOMPARE(FontFamilyOf(QStringLiteral("C059 [urw]")), QStringLiteral("C059"));
        QCOMPARE(FontFamilyOf(QStringLiteral("Nimbus Sans [URW ]")), QStringLiteral("Nimbus Sans"));
        QCOMPARE(FontFamilyOf(QStringLiteral("C059")), QStringLiteral("C059"));
        QCOMPARE(FontFamilyOf(QStringLiteral("Odd [name")), QStringLiteral("Odd [name"));
        QCOMPARE(FontFamilyOf(QStringLiteral("[x]")), QStringLiteral("[x]"));
        QCOMPARE(FontFamilyOf(QString()), QString());
        QCOMPARE(
            DistinctFontFamilies({ "C059 [UKWN]", "C059 [urw]", "D050000L", "Nimbus Sans [urw]",
                "Nimbus Sans [URW ]", "Nimbus Sans Narrow [urw]", "Nimbus Sans [UKWN]" }),
            (QStringList { "C059", "D050000L", "Nimbus Sans", "Nimbus Sans Narrow" }));
        QCOMPARE(DistinctFontFamilies({}), QStringList());
    }

    void theListHasEveryFamilyOnce()
    {
        // The set really has the family twice, as Qt names it.
        const QStringList names = QFontDatabase::families();
        const QString family = QString::fromLatin1(kFamily);
        QVERIFY2(names.contains(family + QStringLiteral(" [alpha]"))
                && names.contains(family + QStringLiteral(" [beta]")),
            qPrintable(names.join(QStringLiteral(", "))));

        const QStringList families = InstalledFontFamilies();
        QCOMPARE(families.count(family), 1);
        for (const QString& listed : families) {
            QVERIFY2(!listed.contains(QLatin1Char('[')), qPrintable(listed));
            QCOMPARE(families.count(listed), 1);
        }
        for (const QString& name : names)
            QVERIFY2(families.contains(FontFamilyOf(name)), qPrintable(name));

        TTextForm form;
        QStringList listed;
        for (int i = 0; i < form.FontListBox->count(); ++i)
            listed << form.FontListBox->item(i)->text();
        QCOMPARE(listed, families);
    }

    void aSavedNameWithItsFoundryFindsItsFamily()
    {
        TTextForm form;
        const QString family = QString::fromLatin1(kFamily);
        form.FontListBox->clear();
        form.FontListBox->addItems(
            { QStringLiteral("Other"), family, family + QStringLiteral(" Mono") });
        TTextOverlaySettings saved;
        saved.FontName = (family + QStringLiteral(" [beta]")).toStdString();
        form.ApplySettings(saved);
        form.SelectPreferredFont();
        QCOMPARE(form.SelectedFontName(), family);
        QCOMPARE(form.Settings().FontName, family.toStdString());
    }

    // --font takes the family and Qt's name with the foundry, draws the same
    // text with both, and still refuses a family that is not installed.
    void theCliFindsTheFamily()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString family = QString::fromLatin1(kFamily);
        const auto convert = [&](const QString& font, const char* out, QString* error = nullptr) {
            return RunCli({ QStringLiteral("convert"),
                              QStringLiteral(ZX_TEST_DATA_DIR "/bmp/bmpsuite/g/rgb24.bmp"),
                              dir.filePath(QString::fromLatin1(out)), QStringLiteral("--text"),
                              QStringLiteral("Zephyrix"), QStringLiteral("--font"), font },
                error);
        };
        QCOMPARE(convert(family, "family.bmp"), 0);
        QCOMPARE(convert(family + QStringLiteral(" [alpha]"), "foundry.bmp"), 0);
        QCOMPARE(RunCli({ QStringLiteral("convert"),
                     QStringLiteral(ZX_TEST_DATA_DIR "/bmp/bmpsuite/g/rgb24.bmp"),
                     dir.filePath(QStringLiteral("plain.bmp")) }),
            0);
        const auto read = [&](const char* name) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QVERIFY(!read("family.bmp").isEmpty());
        QCOMPARE(read("foundry.bmp"), read("family.bmp"));
        QVERIFY(read("family.bmp") != read("plain.bmp"));
        QString error;
        QVERIFY(convert(QStringLiteral("No Such Face [alpha]"), "none.bmp", &error) != 0);
        QVERIFY2(
            error.contains(QLatin1String("is not an installed font family")), qPrintable(error));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("none.bmp"))));
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir fonts;
    const QString config = fonts.isValid() ? MakeFontSet(fonts) : QString();
    if (config.isEmpty()) {
        std::fprintf(
            stderr, "tst_XFontFamilies: cannot set up the fonts (is %s installed?)\n", kFontFile);
        return 1;
    }
    // The CLI this test starts sees the same fonts.
    qputenv("FONTCONFIG_FILE", QFile::encodeName(config));
    QApplication application(argc, argv);
    tst_XFontFamilies test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_XFontFamilies.moc"
