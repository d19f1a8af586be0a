// The program's language: which locale gets which texts (also as the real
// environment variables set them, in a child process), Qt's own texts with
// them, and the core's messages and captions looked up as their templates.

#include "core/Errors.h"
#include "core/flag/FlagModel.h"
#include "core/flag/FlagParameters.h"
#include "core/flag/FlagPlayback.h"
#include "core/gif/GIFExport.h"
#include "core/imaging/DefaultImage.h"
#include "core/imaging/XImageFileUnit.h"
#include "ui/controls/XLanguageUnit.h"

#include <QApplication>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTranslator>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace zx;

namespace {

// Hangul, kana and the CJK blocks with their punctuation and full-width
// forms: whatever a Chinese text is written with.
bool HasCJK(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xAC00 && u <= 0xD7AF)
            || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

// What a child process started with the real locale variables reports: the
// language it chose, a text of the program and a text of Qt's own.
constexpr const char* kReportOption = "--report-language";

int ReportLanguage(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QString language = InstallProgramLanguage();
    QTextStream(stdout) << language << '|' << QCoreApplication::translate("zx::TFlagForm", "暂停")
                        << '|' << QCoreApplication::translate("QPlatformTheme", "Cancel") << '\n';
    return 0;
}

// A translation of hand-made entries ("context\nsource").
class TTestTranslator : public QTranslator {
public:
    QHash<QString, QString> Texts;

    QString translate(const char* context, const char* source, const char*, int) const override
    {
        return Texts.value(
            QString::fromUtf8(context) + QLatin1Char('\n') + QString::fromUtf8(source));
    }
    bool isEmpty() const override { return false; }
};

// The message of the exception run throws, or an empty string.
std::string MessageOf(const std::function<void()>& run)
{
    try {
        run();
    } catch (const std::exception& error) {
        return error.what();
    }
    return std::string();
}

std::string LoadMessage(const QTemporaryDir& dir, const char* name, const QByteArray& bytes)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return std::string();
    file.close();
    return MessageOf([&] {
        TPicture picture;
        LoadPictureFile(path.toStdString(), picture);
    });
}

} // namespace

class tst_XLanguageUnit : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { InstallProgramLanguage(QLocale(QLocale::Chinese, QLocale::China)); }

    void theProgramIsTranslatedIntoEnglish()
    {
        QVERIFY(ProgramTranslations().contains(QStringLiteral("en")));
    }

    void languageOfALocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("translations");
        QTest::addColumn<QString>("language");
        const QStringList english { QStringLiteral("en") };
        const QStringList englishGerman { QStringLiteral("de"), QStringLiteral("en") };
        QTest::newRow("C") << QLocale::c() << english << QString();
        QTest::newRow("zh_CN") << QLocale(QLocale::Chinese, QLocale::China) << english << QString();
        QTest::newRow("zh_TW") << QLocale(QLocale::Chinese, QLocale::Taiwan) << englishGerman
                               << QString();
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << english
                               << QStringLiteral("en");
        QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom) << english
                               << QStringLiteral("en");
        QTest::newRow("de_DE without German")
            << QLocale(QLocale::German, QLocale::Germany) << english << QStringLiteral("en");
        QTest::newRow("de_AT with German")
            << QLocale(QLocale::German, QLocale::Austria) << englishGerman << QStringLiteral("de");
        QTest::newRow("fr_FR") << QLocale(QLocale::French, QLocale::France) << englishGerman
                               << QStringLiteral("en");
        QTest::newRow("ja_JP") << QLocale(QLocale::Japanese, QLocale::Japan) << english
                               << QStringLiteral("en");
        // Even without a file for it, English is the fallback.
        QTest::newRow("no translations")
            << QLocale(QLocale::Swedish, QLocale::Sweden) << QStringList() << QStringLiteral("en");
    }
    void languageOfALocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, translations);
        QFETCH(QString, language);
        QCOMPARE(ChooseProgramLanguage(locale, translations), language);
    }

    // The locale as the desktop sets it: LANG, LC_MESSAGES, LC_ALL and
    // LANGUAGE, read by Qt in a fresh process.
    void languageOfTheEnvironment_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<QString>("language");
        const QString zh;
        const QString en = QStringLiteral("en");
        QTest::newRow("unset") << QStringList() << zh;
        QTest::newRow("C") << QStringList { "LANG=C" } << zh;
        QTest::newRow("POSIX") << QStringList { "LANG=POSIX" } << zh;
        QTest::newRow("C.UTF-8") << QStringList { "LANG=C.UTF-8" } << zh;
        QTest::newRow("zh_CN") << QStringList { "LANG=zh_CN.UTF-8" } << zh;
        QTest::newRow("zh_TW") << QStringList { "LANG=zh_TW.UTF-8" } << zh;
        QTest::newRow("en_US") << QStringList { "LANG=en_US.UTF-8" } << en;
        QTest::newRow("en_GB") << QStringList { "LANG=en_GB.UTF-8" } << en;
        QTest::newRow("de_DE") << QStringList { "LANG=de_DE.UTF-8" } << en;
        QTest::newRow("fr_FR") << QStringList { "LANG=fr_FR.UTF-8" } << en;
        QTest::newRow("LC_ALL=C over en") << QStringList { "LANG=en_US.UTF-8", "LC_ALL=C" } << zh;
        QTest::newRow("LC_MESSAGES=zh_CN")
            << QStringList { "LANG=en_US.UTF-8", "LC_MESSAGES=zh_CN.UTF-8" } << zh;
        QTest::newRow("LC_MESSAGES=en_US")
            << QStringList { "LANG=zh_CN.UTF-8", "LC_MESSAGES=en_US.UTF-8" } << en;
        // As with gettext, LANGUAGE counts only where the locale is not C.
        QTest::newRow("LANGUAGE=en under C") << QStringList { "LANG=C", "LANGUAGE=en" } << zh;
        QTest::newRow("LANGUAGE=de:en")
            << QStringList { "LANG=de_DE.UTF-8", "LANGUAGE=de:en" } << en;
        QTest::newRow("LANGUAGE=de:zh_CN")
            << QStringList { "LANG=de_DE.UTF-8", "LANGUAGE=de:zh_CN" } << zh;
    }
    void languageOfTheEnvironment()
    {
        QFETCH(QStringList, variables);
        QFETCH(QString, language);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_CTYPE" })
            environment.remove(QString::fromLatin1(name));
        for (const QString& variable : variables)
            environment.insert(
                variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(
            QCoreApplication::applicationFilePath(), { QString::fromLatin1(kReportOption) });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        const QStringList report
            = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char('|'));
        QCOMPARE(report.size(), 3);
        QCOMPARE(report[0], language);
        if (language.isEmpty()) {
            // Chinese, and so are Qt's dialog buttons (Qt's translations are
            // installed with the program's packages).
            QCOMPARE(report[1], QStringLiteral("暂停"));
            QCOMPARE(report[2], QStringLiteral("取消"));
        } else {
            QCOMPARE(report[1], QStringLiteral("Pause"));
            QCOMPARE(report[2], QStringLiteral("Cancel"));
        }
    }

    void switchingLanguagesReplacesTheTranslations()
    {
        QCOMPARE(InstallProgramLanguage(QLocale(QLocale::English, QLocale::UnitedStates)),
            QStringLiteral("en"));
        QCOMPARE(ProgramLanguage(), QStringLiteral("en"));
        QCOMPARE(QCoreApplication::translate("zx::TFlagForm", "暂停"), QStringLiteral("Pause"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
        QCOMPARE(InstallProgramLanguage(QLocale(QLocale::Chinese, QLocale::China)), QString());
        QCOMPARE(QCoreApplication::translate("zx::TFlagForm", "暂停"), QStringLiteral("暂停"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    }

    // How a text is looked up, with hand-made translations.
    void templatesOfCoreTexts()
    {
        TTestTranslator translator;
        const auto add = [&](const char* context, const char* source, const char* text) {
            translator.Texts.insert(
                QString::fromUtf8(context) + QLatin1Char('\n') + QString::fromUtf8(source),
                QString::fromUtf8(text));
        };
        add("Messages", "甲 5", "whole");
        add("Messages", "甲 %d", "number %d");
        add("Messages", "乙 %d 到 %d", "from %d to %d");
        add("Messages", "GIF89a 坏 %d", "bad GIF89a %d");
        add("Messages", "丙 %d", "lost the number");
        add("Messages", "PNG 文件无效: %s", "Bad PNG: %s");
        add("Messages", "DIB 无效", "Bad DIB");
        add("Settings", "颜色", "Colour");
        QCoreApplication::installTranslator(&translator);
        const auto tr = [](const char* context, const char* text) {
            return TranslateCoreText(context, text);
        };
        // A whole text comes before its template.
        QCOMPARE(tr("Messages", "甲 5"), QStringLiteral("whole"));
        QCOMPARE(tr("Messages", "甲 17"), QStringLiteral("number 17"));
        QCOMPARE(tr("Messages", "乙 -3 到 40"), QStringLiteral("from -3 to 40"));
        // Digits within a word are no number.
        QCOMPARE(tr("Messages", "GIF89a 坏 7"), QStringLiteral("bad GIF89a 7"));
        // A translation that lost a number would show a wrong text.
        QCOMPARE(tr("Messages", "丙 9"), QStringLiteral("丙 9"));
        QCOMPARE(tr("Messages", "PNG 文件无效: DIB 无效"), QStringLiteral("Bad PNG: Bad DIB"));
        QCOMPARE(
            tr("Messages", "PNG 文件无效: CRC error 12"), QStringLiteral("Bad PNG: CRC error 12"));
        QCOMPARE(tr("Messages", "WebP 文件无效: x"), QStringLiteral("WebP 文件无效: x"));
        QCOMPARE(tr("Settings", "颜色"), QStringLiteral("Colour"));
        QCOMPARE(tr("Messages", "颜色"), QStringLiteral("颜色"));
        QCOMPARE(tr("Messages", "丁"), QStringLiteral("丁"));
        QCOMPARE(tr("Messages", ""), QString());
        QCoreApplication::removeTranslator(&translator);
    }

    // Every kind of text the core writes, as the core writes it, in English;
    // and in Chinese byte for byte what the core wrote.
    void coreTextsInBothLanguages()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        struct TCase {
            const char* Context;
            std::string Text;
            const char* English;
        };
        std::vector<TCase> cases;
        const auto add = [&](const char* context, const std::string& text, const char* english) {
            cases.push_back({ context, text, english });
        };
        add("Messages", LoadMessage(dir, "bad.bmp", "BM0123456789"), "Invalid DIB");
        add("Messages", LoadMessage(dir, "bad.gif", "GIF89a"), "Premature end of data");
        add("Messages",
            LoadMessage(dir, "bad.gif", QByteArray("GIF89a\x01\x00\x01\x00\x00\x00\x00!", 14)),
            nullptr);
        add("Messages",
            LoadMessage(dir, "bad.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)), nullptr);
        add("Messages", LoadMessage(dir, "bad.jpg", QByteArray("\xff\xd8\xff\xe0\0\x02", 6)),
            nullptr);
        add("Messages", MessageOf([] {
            TDIB picture;
            picture.SetSize(4, 4, 24);
            picture.ScanLine(-5);
        }),
            "Scan line index out of range. (-5)");
        add("Messages", MessageOf([] {
            TExportOptions options;
            options.Frames = 41;
            CheckExportOptions(options);
        }),
            "Frames 41 out of range 1..40");
        add("Settings", LoopsCaption(0), "Loops: endless");
        add("Settings", LoopsCaption(60), "Loops: 150");
        add("Settings", BitsCaption(8), "Colours: 256 (8 bits)");

        // The flag's statuses: a stale frame, its rendering, the shown frame,
        // and an export's.
        TFlagModel model;
        TDIB picture;
        LoadDefaultImage(picture);
        model.SetTexture(picture, TDIB());
        model.PrepareTexture();
        model.SetFrameSize(32, 24);
        TFlagPlayback playback;
        add("Messages", playback.FrameStatus(model), "Frame #1 is not valid.");
        std::vector<std::string> statuses;
        const auto collect = [&](const std::string& text) {
            if (!text.empty())
                statuses.push_back(text);
        };
        model.RenderSlot(0, 0, collect);
        add("Messages", playback.FrameStatus(model), "Showing frame #1");
        TExportOptions options;
        options.Frames = 2;
        BuildExportGif(
            model.FrameStore(), options,
            [&](std::int32_t k, std::uint16_t phase) {
                model.RenderSlot(static_cast<std::uint16_t>(k), phase, collect);
            },
            collect);
        QVERIFY(statuses.size() >= 4);
        QCOMPARE(statuses[0], std::string("正在渲染 帧 #1"));
        add("Messages", statuses[0], "Rendering frame #1");
        add("Messages", statuses[1], "Rendering frame #2");
        for (std::size_t i = 2; i < statuses.size(); ++i)
            add("Messages", statuses[i], nullptr);
        add("Messages", sStatusSaving, "Saving the file...");

        for (const TCase& c : cases) {
            QVERIFY2(!c.Text.empty(), c.English ? c.English : "a core message");
            QVERIFY2(HasCJK(QString::fromStdString(c.Text)) || c.Text.starts_with("JPEG-Fehler"),
                c.Text.c_str());
        }
        QCOMPARE(InstallProgramLanguage(QLocale(QLocale::English, QLocale::UnitedStates)),
            QStringLiteral("en"));
        for (const TCase& c : cases) {
            const QString english = TranslateCoreText(c.Context, c.Text);
            QVERIFY2(!HasCJK(english) && !english.contains(QLatin1String("Fehler")),
                qPrintable(QString::fromStdString(c.Text) + QStringLiteral(" -> ") + english));
            if (c.English)
                QCOMPARE(english, QString::fromUtf8(c.English));
        }
        // A decoder's own reason and libjpeg's number come through as they were.
        const std::string png = cases[3].Text;
        const std::string reason = png.substr(png.find(": ") + 2);
        QCOMPARE(TranslateCoreText("Messages", png),
            QStringLiteral("Invalid PNG file: ") + QString::fromStdString(reason));
        const std::string jpeg = cases[4].Text;
        QVERIFY(jpeg.starts_with("JPEG-Fehler #"));
        QCOMPARE(TranslateCoreText("Messages", jpeg),
            QStringLiteral("JPEG error #") + QString::fromStdString(jpeg.substr(13)));

        QCOMPARE(InstallProgramLanguage(QLocale(QLocale::Chinese, QLocale::China)), QString());
        for (const TCase& c : cases)
            QCOMPARE(TranslateCoreText(c.Context, c.Text).toStdString(), c.Text);
    }
};

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], kReportOption) == 0)
        return ReportLanguage(argc, argv);
    QApplication application(argc, argv);
    tst_XLanguageUnit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_XLanguageUnit.moc"
