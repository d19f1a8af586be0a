#pragma once

// --settings: the desktop program's saved settings as the starting point of a
// command. They are read from the same store, with the same fallbacks, as the
// desktop program reads them at its start: a missing store, group or value,
// or one that does not read as its type, keeps the default; numbers out of a
// control's range are clamped as the control clamps them. The store is never
// written.

#include "cli/CliTextOptions.h"
#include "core/flag/FlagParameters.h"

namespace zx::cli {

// Puts the saved flag and GIF settings into params, the quality level into
// highQuality and the text dialog's (font, size, colour, angle, shadow,
// alignments) into text.
void LoadSavedSettings(FlagParameters& params, TCliText& text, bool& highQuality);

} // namespace zx::cli
