#pragma once

// Marks a text of the core that the desktop program shows in the user's
// language. The macro leaves the text exactly as it is, so the core, the CLI
// and every message stay byte for byte what they were; the program's
// translation tools (lupdate, told that this macro spells QT_TRANSLATE_NOOP)
// find the text and its context here, and the desktop program translates it
// where it shows it.
//
// Two contexts: "Settings" for the panel's captions (translated exactly as
// they stand) and "Messages" for the errors and status texts, which the
// program looks up as templates: a "%d" stands for a number, a "%s" for a
// text, both filled in by the core.
#define ZX_TR_NOOP(context, text) text

// The same for a text that means something else elsewhere in its context ("左"
// is a text's alignment and a side of the flag): the disambiguation tells the
// two apart for the translation (lupdate reads it as QT_TRANSLATE_NOOP3).
#define ZX_TR_NOOP3(context, text, disambiguation) text
