#include "ui/controls/XLanguageUnit.h"

#include "core/Translatable.h"
#include "core/gif/GIFExport.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/imaging/XImageFileUnitMessages.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace zx {

namespace {

    constexpr const char* kTranslationFolder = ":/i18n";
    constexpr const char* kTranslationPrefix = "zephyrix_";
    constexpr const char* kEnglish = "en";

    // The texts of the GIF unit and the export keep their own files; they are
    // marked for translation here, each beside the constant it must equal.
    struct TSameText {
        const char* Core;
        const char* Marked;
    };
    using namespace GIFMessages;
    constexpr TSameText kGIFTexts[] = {
        { sOutOfColors, ZX_TR_NOOP("Messages", "颜色表溢出") },
        { sBadColorIndex, ZX_TR_NOOP("Messages", "颜色不在颜色表中") },
        { sInvalidColorIndex, ZX_TR_NOOP("Messages", "无效的颜色指数") },
        { sUnsupportedClass, ZX_TR_NOOP("Messages", "此操作不支持此对象类型") },
        { sEmptyImage, ZX_TR_NOOP("Messages", "未被支持 GIF 样式") },
        { sBadDimension, ZX_TR_NOOP("Messages", "图像超出了合理的屏幕大小") },
        { sBadSignature, ZX_TR_NOOP("Messages", "无效的 GIF 标识信号") },
        { sPrematureEOF, ZX_TR_NOOP("Messages", "过早的数据末端") },
        { sUnknownExtension, ZX_TR_NOOP("Messages", "未知扩展类型") },
        { sBadExtensionLabel, ZX_TR_NOOP("Messages", "无效的扩展引入") },
        { sInvalidAppBlockSize, ZX_TR_NOOP("Messages", "不被支持的应用程序扩展数据快尺寸") },
        { sInvalidData, ZX_TR_NOOP("Messages", "无效 GIF 数据") },
        { sUnknownBlockType, ZX_TR_NOOP("Messages", "未知 GIF 数据块类型") },
        { sBadTrailer, ZX_TR_NOOP("Messages", "无效的图像尾部") },
        { sNoColorTable, ZX_TR_NOOP("Messages", "未定义整体或局部颜色表") },
        { sScreenEmpty, ZX_TR_NOOP("Messages", "GIF 逻辑屏幕的宽度或高度为 0") },
        { sNoFrames, ZX_TR_NOOP("Messages", "GIF 文件中没有图像") },
        { sFrameTooLarge, ZX_TR_NOOP("Messages", "GIF 图像的宽度或高度超过 65535") },
        { sBadMinCodeSize, ZX_TR_NOOP("Messages", "无效的 LZW 最小代码长度 (%d)") },
        { sInvalidBitmapList, ZX_TR_NOOP("Messages", "无效的位图列表") },
        { sInvalidImageSize, ZX_TR_NOOP("Messages", "无效的图像维数尺寸") },
        { sOutOfMemoryForDIB, ZX_TR_NOOP("Messages", "用于 GIF DIB 分配内存失败") },
        { sMaskDoesNotFit, ZX_TR_NOOP("Messages", "透明遮罩与帧的尺寸不符") },
        { sFrameSizesDiffer, ZX_TR_NOOP("Messages", "动画的帧尺寸不一致") },
        { sTooManyFrames, ZX_TR_NOOP("Messages", "动画的帧数过多 (%d)") },
        { sStatusCreatingPalette, ZX_TR_NOOP("Messages", "正在创建调色板") },
        { sStatusRecolouring, ZX_TR_NOOP("Messages", "正在重新着色图像 ") },
        { sStatusSaving, ZX_TR_NOOP("Messages", "保存文件...") },
    };
    static_assert(
        std::ranges::all_of(kGIFTexts,
            [](const TSameText& text) { return std::string_view(text.Core) == text.Marked; }),
        "a marked GIF text differs from the GIF unit's own");

    // Texts the renderer and the export's option check compose in place: the
    // status of each rendered frame, and an option out of its range.
    [[maybe_unused]] constexpr const char* kComposedTexts[] = {
        ZX_TR_NOOP("Messages", "正在渲染 帧 #%d"),
        ZX_TR_NOOP("Messages", "Frames %d 超出范围 %d..%d"),
        ZX_TR_NOOP("Messages", "GIFBits %d 超出范围 %d..%d"),
        ZX_TR_NOOP("Messages", "GIFDelay %d 超出范围 %d..%d"),
        ZX_TR_NOOP("Messages", "GIFLoops %d 超出范围 %d..%d"),
    };

    // The templates whose "%s" carries a text of its own (a decoder's reason).
    constexpr const char* kTextTemplates[] = {
        ImageFileMessages::sInvalidPNG,
        ImageFileMessages::sInvalidWebP,
        ImageFileMessages::sInvalidSVG,
    };

    QString& ChosenLanguage()
    {
        static QString language;
        return language;
    }

    bool IsDigit(char c)
    {
        return c >= '0' && c <= '9';
    }
    bool IsLatinLetter(char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    }

    // The translation of source, or nothing when there is none.
    std::optional<QString> Lookup(const char* context, const std::string& source)
    {
        const QString translated = QCoreApplication::translate(context, source.c_str());
        if (translated == QString::fromStdString(source))
            return std::nullopt;
        return translated;
    }

    // text as one of the templates with a "%s".
    std::optional<QString> AsTextTemplate(const char* context, const std::string& text)
    {
        for (const std::string_view form : kTextTemplates) {
            const std::size_t at = form.find("%s");
            const std::string_view head = form.substr(0, at);
            const std::string_view tail = form.substr(at + 2);
            if (text.size() < head.size() + tail.size() || !text.starts_with(head)
                || !text.ends_with(tail))
                continue;
            const std::optional<QString> translated = Lookup("Messages", std::string(form));
            if (!translated)
                return std::nullopt;
            const std::string inner
                = text.substr(head.size(), text.size() - head.size() - tail.size());
            return QString(*translated)
                .replace(QLatin1String("%s"), TranslateCoreText(context, inner));
        }
        return std::nullopt;
    }

    // text with its numbers taken out as "%d". A number is a run of digits,
    // with a minus sign in front where there is one, that is not part of a
    // word ("GIF89a" and "4x4" hold none).
    std::optional<QString> AsNumberTemplate(const char* context, const std::string& text)
    {
        std::string form;
        std::vector<std::string> numbers;
        for (std::size_t i = 0; i < text.size();) {
            const bool sign = text[i] == '-' && i + 1 < text.size() && IsDigit(text[i + 1]);
            const bool afterWord = i > 0 && (IsLatinLetter(text[i - 1]) || IsDigit(text[i - 1]));
            if ((!IsDigit(text[i]) && !sign) || afterWord) {
                form += text[i++];
                continue;
            }
            std::size_t end = i + 1;
            while (end < text.size() && IsDigit(text[end]))
                ++end;
            if (end < text.size() && IsLatinLetter(text[end])) {
                form.append(text, i, end - i);
            } else {
                numbers.push_back(text.substr(i, end - i));
                form += "%d";
            }
            i = end;
        }
        if (numbers.empty())
            return std::nullopt;
        const std::optional<QString> translated = Lookup(context, form);
        if (!translated)
            return std::nullopt;
        QString result;
        std::size_t used = 0;
        qsizetype from = 0;
        for (qsizetype at; (at = translated->indexOf(QLatin1String("%d"), from)) >= 0;
             from = at + 2) {
            if (used == numbers.size())
                return std::nullopt;
            result += translated->mid(from, at - from) + QString::fromStdString(numbers[used++]);
        }
        // A translation that lost or gained a number would show the wrong one.
        if (used != numbers.size())
            return std::nullopt;
        return result + translated->mid(from);
    }

} // namespace

QStringList ProgramTranslations()
{
    QStringList languages;
    const QString prefix = QString::fromLatin1(kTranslationPrefix);
    const QStringList files = QDir(QString::fromLatin1(kTranslationFolder))
                                  .entryList({ prefix + QStringLiteral("*.qm") }, QDir::Files);
    for (const QString& file : files)
        languages << file.mid(prefix.size()).chopped(3);
    return languages;
}

QString ChooseProgramLanguage(const QLocale& locale, const QStringList& translations)
{
    if (locale.language() == QLocale::C)
        return QString();
    for (const QString& name : locale.uiLanguages()) {
        const QLocale::Language language = QLocale(name).language();
        if (language == QLocale::Chinese)
            return QString();
        if (language == QLocale::C || language == QLocale::AnyLanguage)
            continue;
        const QString code = QLocale::languageToCode(language);
        if (translations.contains(code))
            return code;
    }
    return QString::fromLatin1(kEnglish);
}

QString InstallProgramLanguage(const QLocale& locale)
{
    static QPointer<QTranslator> programTexts;
    static QPointer<QTranslator> qtTexts;
    for (QPointer<QTranslator>* loaded : { &programTexts, &qtTexts }) {
        if (*loaded) {
            QCoreApplication::removeTranslator(*loaded);
            delete loaded->data();
        }
    }

    const QString language = ChooseProgramLanguage(locale, ProgramTranslations());
    if (!language.isEmpty()) {
        programTexts = new QTranslator(QCoreApplication::instance());
        if (programTexts->load(QString::fromLatin1(kTranslationFolder) + QLatin1Char('/')
                + QString::fromLatin1(kTranslationPrefix) + language + QStringLiteral(".qm")))
            QCoreApplication::installTranslator(programTexts);
    }
    // Qt's texts are English already.
    if (language != QLatin1String(kEnglish)) {
        const QString qtFile
            = QStringLiteral("qtbase_") + (language.isEmpty() ? QStringLiteral("zh_CN") : language);
        qtTexts = new QTranslator(QCoreApplication::instance());
        if (qtTexts->load(qtFile, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qtTexts);
    }
    ChosenLanguage() = language;
    return language;
}

QString ProgramLanguage()
{
    return ChosenLanguage();
}

QString TranslateCoreText(const char* context, const std::string& text)
{
    if (std::optional<QString> whole = Lookup(context, text))
        return *whole;
    if (std::optional<QString> filled = AsTextTemplate(context, text))
        return *filled;
    if (std::optional<QString> filled = AsNumberTemplate(context, text))
        return *filled;
    return QString::fromStdString(text);
}

} // namespace zx
