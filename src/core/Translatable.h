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
