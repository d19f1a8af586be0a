#pragma once

// The program's language. Its own texts are Chinese, and the Chinese texts are
// what a Chinese locale, the C or POSIX locale and an unset locale show. Every
// other language gets its translation where the program has one (the
// translations are compiled into it, ":/i18n/zephyrix_<language>.qm"), and
// English otherwise. Qt's own dialogs follow: their Chinese or other
// translation is loaded from Qt's translations folder; in English they need
// none.
//
// The core writes its errors, status texts and a few composed captions in
// Chinese (or, from the lower layers, German and English); TranslateCoreText
// looks such a text up as the template it was made from and fills the
// template's translation with the same numbers and texts.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <string>

namespace zx {

// The languages the program is translated into, as ISO 639 codes ("en").
QStringList ProgramTranslations();

// The translation a locale gets: one of translations, or an empty string for
// the program's own Chinese texts. The C locale, and a locale whose first
// language that the program knows is Chinese, get Chinese; otherwise the first
// of its languages with a translation, and English when none has one.
QString ChooseProgramLanguage(const QLocale& locale, const QStringList& translations);

// Loads the program's translation for the locale and Qt's own translation for
// that language, replacing any loaded before. Returns the language chosen (""
// for Chinese).
QString InstallProgramLanguage(const QLocale& locale = QLocale::system());
// The language InstallProgramLanguage chose last; "" before it ran.
QString ProgramLanguage();

// A text the core wrote, in the program's language. The context is the one
// the core marked its texts with: "Messages" for errors and status texts,
// "Settings" for the captions. A text is looked up whole, then as one of the
// templates that carry a text ("PNG 文件无效: %s", whose text is itself looked
// up), then with its numbers taken out as "%d". A text of no template stays as
// it is.
QString TranslateCoreText(const char* context, const std::string& text);
// The same for an error or a status text.
inline QString CoreMessage(const std::string& text)
{
    return TranslateCoreText("Messages", text);
}

} // namespace zx
