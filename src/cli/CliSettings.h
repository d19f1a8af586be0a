#pragma once

// --settings: the desktop program's saved settings as the starting point of a
// command. They are read from the same store, with the same fallbacks, as the
// desktop program reads them at its start: a missing store, group or value,
// or one that does not read as its type, keeps the default; numbers out of a
// control's range are clamped as the control clamps them. The store is never
// written.

#include "core/flag/FlagSettings.h"

namespace zx::cli {

// The saved flag, GIF and text settings over settings.
void LoadSavedSettings(TSettings& settings);

} // namespace zx::cli
