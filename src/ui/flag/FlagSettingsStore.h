#pragma once

// Where the desktop program keeps its settings, and how the settings of the
// table (core/flag/FlagSettings.h) are read from the store and written to it.
// The control panel reads them at its start and writes them when it closes;
// zephyrix-cli --settings reads the same values, with the same fallbacks.
// QtCore only, like XRegistryUnit.

#include "core/flag/FlagSettings.h"

#include <QString>

namespace zx {

class TNewRegistry;

// "\Software\Tarnwick\Zephyrix": the program's key, holding "CurrentDirectory"
// and the run counter.
QString ProgramKey();
// One of its groups: "Settings" (the flag and GIF settings), "Text" (the text
// dialog), "Forms" (the window bounds).
QString ProgramSubKey(const char* group);
QString ProgramSubKey(TSettingGroup group);

inline constexpr const char* kFormsGroup = "Forms";

// One setting from the open key over its value in settings, taken as its
// control takes it (TakeStoredValue); a missing value, or one that does not
// read as its type, keeps what settings holds. A text setting that is
// missing becomes its default.
void ReadSetting(const TNewRegistry& registry, const TSetting& setting, TSettings& settings);
// Booleans as the integers 0 and 1, text as a string, everything else as an
// integer.
void WriteSetting(TNewRegistry& registry, const TSetting& setting, const TSettings& settings);

// Every setting of the group, in the table's order, from or to the open key.
void ReadSettingsGroup(const TNewRegistry& registry, TSettingGroup group, TSettings& settings);
void WriteSettingsGroup(TNewRegistry& registry, TSettingGroup group, const TSettings& settings);

// The saved "Settings" and "Text" groups over settings, for zephyrix-cli; a
// missing group keeps what settings holds. The store is never written.
void ReadSavedSettings(TSettings& settings);

} // namespace zx
