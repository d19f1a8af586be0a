#pragma once

// The settings on zephyrix-cli's command line: every option comes from the
// settings table (core/flag/FlagSettings.h), which also gives the help lines.
// Numbers out of range are errors, never silently clamped.

#include "core/flag/FlagModel.h"
#include "core/flag/FlagSettings.h"
#include "core/flag/FlagSettingsOptions.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace zx::cli {

using zx::EUsageError;
using zx::OptionValue;

struct TCliSettings {
    TSettings Values;
    // --font was given: a font that is not installed is an error. A font from
    // the saved settings that is gone falls back as the text dialog does.
    bool FontRequired = false;
    // --settings was given: the command starts again from the saved settings.
    bool SavedSettings = false;
};

// When args[index] is an option of a setting that command takes (or, for
// frames and export, --settings), applies it and returns how many arguments
// it took; 0 for any other argument. Throws EUsageError for a missing,
// malformed or out-of-range value.
std::size_t ParseSettingOption(
    unsigned command, std::span<const std::string> args, std::size_t index, TCliSettings& settings);

// A command's argument that is not one of its options: raises "unknown option
// ARG" when it starts with '-' (a lone "-" is not an option).
void RefuseUnknownOption(const std::string& arg);

// Takes the one picture argument of export and frames; a second one raises
// "more than one picture given: FIRST, SECOND".
void SetPictureArgument(std::optional<std::string>& picture, const std::string& arg);

// The help sections: the flag options (with --settings), the text options,
// the GIF options (with -o and --quiet).
std::string FlagOptionsHelp();
std::string TextOptionsHelp();
std::string GifOptionsHelp();

// The flag made from the picture (or the built-in one without a path) with the
// settings: the texture with the text drawn on it, the lighting table, the
// frame size. Throws when the picture cannot be loaded or the text not drawn.
void PrepareFlagModel(
    TFlagModel& model, const TCliSettings& settings, const std::optional<std::string>& picture);

} // namespace zx::cli
