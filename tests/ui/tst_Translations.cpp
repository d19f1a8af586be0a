// The translations against the sources: lupdate, run over the sources into a
// copy of each translation as the build runs it, must find every text
// translated (a new tr() text without its translation fails here); each
// translation keeps its source's numbers, templates, patterns and access key;
// and every Chinese text in the sources is one the translations know (a text
// shown without being marked for translation fails here).

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <algorithm>
#include <vector>

namespace {

struct TMessage {
    QString Context;
    QString Source;
    // The translation, or its plural forms for a text that has them.
    QStringList Translations;
    // "unfinished", "vanished", "obsolete", or empty for a finished one.
    QString Type;
};

// The text of the <translation> element the reader stands on, or its plural
// forms (<numerusform>) one by one; leaves the reader on its end.
QStringList ReadTranslationForms(QXmlStreamReader& xml)
{
    QStringList forms;
    QString text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters())
            text += xml.text();
        else if (xml.isStartElement())
            forms << xml.readElementText();
        else if (xml.isEndElement())
            break;
    }
    return forms.isEmpty() ? QStringList { text } : forms;
}

std::vector<TMessage> ReadTranslations(const QString& path, QString* error)
{
    std::vector<TMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + path;
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            TMessage message { context, {}, {}, {} };
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("source")) {
                    message.Source = xml.readElementText();
                } else if (xml.name() == QLatin1String("translation")) {
                    message.Type = xml.attributes().value(QLatin1String("type")).toString();
                    message.Translations = ReadTranslationForms(xml);
                } else {
                    xml.skipCurrentElement();
                }
            }
            messages.push_back(message);
        }
    }
    if (xml.hasError())
        *error = path + QStringLiteral(": ") + xml.errorString();
    return messages;
}

QStringList TranslationFiles()
{
    return QDir(QStringLiteral(ZX_TRANSLATIONS_DIR))
        .entryList({ QStringLiteral("zephyrix_*.ts") }, QDir::Files);
}

// The parts of a text that a translation must carry over unchanged: the
// numbers and texts the program fills in ("%d", "%s", "%1"), the slider's
// tags ("<#Pos>").
QStringList Placeholders(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("%[ds]|%[1-9]|<#[A-Za-z]+[0-9]*>"));
    QStringList found;
    for (const QRegularExpressionMatch& match : pattern.globalMatch(text))
        found << match.captured();
    found.sort();
    return found;
}

// The access keys of a text ("&File" has one; "&&" is an ampersand).
int AccessKeys(const QString& text)
{
    int keys = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&'))
            ++i;
        else
            ++keys;
    }
    return keys;
}

bool IsCJK(char16_t u)
{
    return (u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF)
        || (u >= 0xFF00 && u <= 0xFFEF);
}

struct TLiteral {
    QString Text;
    int Line;
};

// The string literals of a C++ source, comments left out. Escapes stay as
// written except \" and \\, which no Chinese text of ours needs otherwise.
std::vector<TLiteral> StringLiterals(const QString& code)
{
    std::vector<TLiteral> literals;
    int line = 1;
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = code[i];
        if (c == QLatin1Char('\n')) {
            ++line;
        } else if (c == QLatin1Char('/') && i + 1 < n && code[i + 1] == QLatin1Char('/')) {
            while (i < n && code[i] != QLatin1Char('\n'))
                ++i;
            ++line;
        } else if (c == QLatin1Char('/') && i + 1 < n && code[i + 1] == QLatin1Char('*')) {
            for (i += 2;
                 i + 1 < n && !(code[i] == QLatin1Char('*') && code[i + 1] == QLatin1Char('/'));
                 ++i)
                line += code[i] == QLatin1Char('\n');
            ++i;
        } else if (c == QLatin1Char('\'')) {
            // A character literal ('"', '\''), not a digit separator.
            if (i > 0 && code[i - 1].isDigit())
                continue;
            for (++i; i < n && code[i] != QLatin1Char('\''); ++i)
                i += code[i] == QLatin1Char('\\');
        } else if (c == QLatin1Char('"')) {
            TLiteral literal { QString(), line };
            for (++i; i < n && code[i] != QLatin1Char('"'); ++i) {
                if (code[i] == QLatin1Char('\\') && i + 1 < n
                    && (code[i + 1] == QLatin1Char('"') || code[i + 1] == QLatin1Char('\\')))
                    ++i;
                literal.Text += code[i];
            }
            literals.push_back(literal);
        }
    }
    return literals;
}

} // namespace

class tst_Translations : public QObject {
    Q_OBJECT

private slots:
    void thereIsATranslation()
    {
        QVERIFY(TranslationFiles().contains(QStringLiteral("zephyrix_en.ts")));
    }

    void everySourceTextHasAFinishedTranslation_data()
    {
        QTest::addColumn<QString>("file");
        for (const QString& file : TranslationFiles())
            QTest::newRow(qPrintable(file)) << file;
    }
    void everySourceTextHasAFinishedTranslation()
    {
        QFETCH(QString, file);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString copy = dir.filePath(file);
        QVERIFY(QFile::copy(QDir(QStringLiteral(ZX_TRANSLATIONS_DIR)).filePath(file), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

        QStringList arguments
            = QString::fromUtf8(ZX_LUPDATE_OPTIONS).split(QLatin1Char('|'), Qt::SkipEmptyParts);
        arguments << QStringLiteral("-silent") << QStringLiteral(ZX_SOURCE_DIR)
                  << QStringLiteral("-ts") << copy;
        QProcess lupdate;
        lupdate.start(QStringLiteral(ZX_LUPDATE), arguments);
        QVERIFY2(lupdate.waitForFinished(120000), "lupdate did not finish");
        QCOMPARE(lupdate.exitStatus(), QProcess::NormalExit);
        QCOMPARE(lupdate.exitCode(), 0);
        // lupdate's warnings (a tr() it cannot read, a class without Q_OBJECT)
        // are faults of the sources.
        QCOMPARE(QString::fromUtf8(lupdate.readAllStandardError()), QString());

        QString error;
        const std::vector<TMessage> messages = ReadTranslations(copy, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(messages.size() > 100);
        QStringList untranslated;
        for (const TMessage& message : messages) {
            const bool empty = std::any_of(message.Translations.begin(), message.Translations.end(),
                [](const QString& t) { return t.trimmed().isEmpty(); });
            if (!message.Type.isEmpty() || empty)
                untranslated << message.Context + QStringLiteral(": ") + message.Source;
        }
        QVERIFY2(untranslated.isEmpty(),
            qPrintable(QStringLiteral("texts without a finished translation in ") + file
                + QStringLiteral(" (see README, Languages):\n  ")
                + untranslated.join(QStringLiteral("\n  "))));
    }

    void translationsKeepWhatTheProgramFillsIn()
    {
        for (const QString& file : TranslationFiles()) {
            QString error;
            const std::vector<TMessage> messages = ReadTranslations(
                QDir(QStringLiteral(ZX_TRANSLATIONS_DIR)).filePath(file), &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
            for (const TMessage& message : messages) {
                if (message.Type == QLatin1String("unfinished"))
                    continue;
                const QString where = file + QStringLiteral(": ") + message.Source;
                // Every plural form of a text carries all of it.
                for (const QString& text : message.Translations) {
                    QVERIFY2(Placeholders(message.Source) == Placeholders(text), qPrintable(where));
                    // A text with an access key keeps one; others may gain one.
                    const int keys = AccessKeys(text);
                    QVERIFY2(
                        AccessKeys(message.Source) == 1 ? keys == 1 : keys <= 1, qPrintable(where));
                    // A file dialog's filter: names and patterns alternating;
                    // the patterns stay as they are.
                    const QStringList source = message.Source.split(QLatin1Char('|'));
                    const QStringList translation = text.split(QLatin1Char('|'));
                    QVERIFY2(source.size() == translation.size(), qPrintable(where));
                    for (qsizetype i = 1; i < source.size(); i += 2)
                        QVERIFY2(source[i] == translation[i], qPrintable(where));
                }
            }
        }
    }

    void everyChineseTextOfTheSourcesIsTranslatable()
    {
        QSet<QString> sources;
        for (const QString& file : TranslationFiles()) {
            QString error;
            for (const TMessage& message :
                ReadTranslations(QDir(QStringLiteral(ZX_TRANSLATIONS_DIR)).filePath(file), &error))
                sources.insert(message.Source);
            QVERIFY2(error.isEmpty(), qPrintable(error));
        }
        // Font families asked for by name are no text anyone reads.
        const QSet<QString> fontNames { QStringLiteral("宋体") };

        QStringList unknown;
        int chinese = 0;
        QDirIterator files(QStringLiteral(ZX_SOURCE_DIR),
            { QStringLiteral("*.cpp"), QStringLiteral("*.h") }, QDir::Files,
            QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            for (const TLiteral& literal : StringLiterals(QString::fromUtf8(file.readAll()))) {
                if (!std::any_of(literal.Text.begin(), literal.Text.end(),
                        [](QChar c) { return IsCJK(c.unicode()); }))
                    continue;
                ++chinese;
                if (sources.contains(literal.Text) || fontNames.contains(literal.Text))
                    continue;
                // A piece of a text put together from several (a template's
                // head, one line of a long literal).
                const bool piece = std::any_of(sources.begin(), sources.end(),
                    [&](const QString& source) { return source.contains(literal.Text); });
                if (!piece)
                    unknown << QDir(QStringLiteral(ZX_SOURCE_DIR)).relativeFilePath(path)
                            + QLatin1Char(':') + QString::number(literal.Line)
                            + QStringLiteral(": ") + literal.Text;
            }
        }
        QVERIFY(chinese > 100);
        QVERIFY2(unknown.isEmpty(),
            qPrintable(QStringLiteral("Chinese texts not marked for translation:\n  ")
                + unknown.join(QStringLiteral("\n  "))));
    }

    // The scanner itself, on a source of every kind of literal and comment.
    void theScannerFindsLiteralsOutsideComments()
    {
        const QString code = QStringLiteral(
            "// \"注释\"\n"
            "const char* a = \"甲\"; /* \"乙\"\n\"丙\" */ char q = '\"';\n"
            "auto b = \"丁 \\\"引\\\"\" \"戊\"; int n = 1'000; auto c = \"己\";\n");
        const std::vector<TLiteral> literals = StringLiterals(code);
        QCOMPARE(literals.size(), std::size_t(4));
        QCOMPARE(literals[0].Text, QStringLiteral("甲"));
        QCOMPARE(literals[0].Line, 2);
        QCOMPARE(literals[1].Text, QStringLiteral("丁 \"引\""));
        QCOMPARE(literals[1].Line, 4);
        QCOMPARE(literals[2].Text, QStringLiteral("戊"));
        QCOMPARE(literals[3].Text, QStringLiteral("己"));
        QCOMPARE(Placeholders(QStringLiteral("帧 %d <#Pos>%s %1")),
            (QStringList { "%1", "%d", "%s", "<#Pos>" }));
        QCOMPARE(AccessKeys(QStringLiteral("文件(&F) && &")), 2);
    }
};

QTEST_GUILESS_MAIN(tst_Translations)

#include "tst_Translations.moc"
