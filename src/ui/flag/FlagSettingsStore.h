#pragma once

// Where the desktop program keeps its settings, and how one flag setting is
// read from the store and written to it. The control panel reads them into its
// controls; zephyrix-cli --settings reads the same values, with the same
// fallbacks, into a FlagParameters. QtCore only, like XRegistryUnit.

#include "core/flag/FlagParameters.h"
#include "core/imaging/XTextOverlay.h"

#include <QString>
#include <cstdint>

namespace zx {

class TNewRegistry;

// "\Software\Tarnwick\Zephyrix": the program's key, holding "CurrentDirectory"
// and the run counter.
QString ProgramKey();
// One of its groups: "Settings" (the flag settings), "Text" (the text
// dialog), "Forms" (the window bounds).
QString ProgramSubKey(const char* group);

inline constexpr const char* kSettingsGroup = "Settings";
inline constexpr const char* kTextGroup = "Text";
inline constexpr const char* kFormsGroup = "Forms";
// In "Settings": the export's quality level ("高质量"), a boolean.
inline constexpr const char* kHighQualityValue = "HighQuality";

// The field's stored value, current when it is missing or unreadable. A
// boolean reads as 0 or 1 (any non-zero number is true).
std::int32_t ReadFlagField(
    const TNewRegistry& registry, const TFlagField& field, std::int32_t current);
// Booleans as the integers 0 and 1, everything else as an integer.
void WriteFlagField(TNewRegistry& registry, const TFlagField& field, std::int32_t value);

// The saved flag settings over params, each value taken as the panel's
// control takes it: numbers clamped to the control's range, a colour outside
// 0x000000..0xFFFFFF ignored. Fields that are not stored (Radial) and values
// that are missing or unreadable keep params' value. Returns false when the
// store holds no flag settings; it is never written.
bool ReadSavedFlagParameters(FlagParameters& params);
// The saved quality level, current when there is none.
bool ReadSavedHighQuality(bool current);

// The text dialog's settings from the open "Text" group over text: "FontName",
// "FontSize", "FontColor", "FontAngle", "FontShaddow", "AlignHorizontal" and
// "AlignVertical", each as the dialog's control takes it (numbers clamped, a
// colour out of range ignored). The lines themselves are never stored.
void ReadTextSettings(const TNewRegistry& registry, TTextOverlaySettings& text);
void WriteTextSettings(TNewRegistry& registry, const TTextOverlaySettings& text);
// The same from the store, for zephyrix-cli: false when it holds no "Text"
// group. The store is never written.
bool ReadSavedTextSettings(TTextOverlaySettings& text);

} // namespace zx
