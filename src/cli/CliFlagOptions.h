#pragma once

// The flag options shared by the commands that render the flag (frames, export):
// one option per flag setting, with the control's range and default. Numbers
// out of range are errors, never silently clamped.

#include "cli/CliTextOptions.h"
#include "core/flag/FlagParameters.h"
#include "core/flag/LightTable.h"
#include "core/imaging/XDIBUnit.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace zx::cli {

// A malformed command line: the message is one line for stderr.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TFlagOptions {
    FlagParameters Params;
    std::int32_t FrameWidth = kDefaultFrameWidth;
    std::int32_t FrameHeight = kDefaultFrameHeight;
    // The text drawn on the picture first (none by default).
    TCliText Text;
    // --settings was given: the command starts again from the saved settings.
    bool SavedSettings = false;
};

// When args[index] is a flag or text option (or --settings, which only sets
// SavedSettings), applies it and returns how many arguments
// it took (1, or 2 for "--name VALUE"; "--name=VALUE" is accepted too). Returns
// 0 when args[index] is not a flag option. Throws EUsageError for a missing,
// malformed or out-of-range value.
std::size_t ParseFlagOption(
    std::span<const std::string> args, std::size_t index, TFlagOptions& options);

// A colour RRGGBB in web order (a leading '#' allowed) as 0x00BBGGRR.
std::uint32_t ParseColorValue(const std::string& option, const std::string& text);

// A decimal integer within range; option names the option in the message.
std::int32_t ParseIntValue(const std::string& option, const std::string& text, TFlagRange range);

// Reads a value for the option at args[index]: the text after '=' in
// "--name=VALUE", otherwise args[index + 1]. used becomes the number of
// arguments taken. Throws EUsageError when there is none.
std::string OptionValue(std::span<const std::string> args, std::size_t index,
    const std::string& name, std::size_t& used);

// A command's argument that is not one of its options: raises "unknown option
// ARG" when it starts with '-' (a lone "-" is not an option).
void RefuseUnknownOption(const std::string& arg);

// Takes the one picture argument of export and frames; a second one raises
// "more than one picture given: FIRST, SECOND".
void SetPictureArgument(std::optional<std::string>& picture, const std::string& arg);

// The help lines of every flag option, with ranges and defaults.
std::string FlagOptionsHelp();

// What the renderer needs besides the frame store: the texture (the picture,
// or the built-in one without a path, with the text drawn on it) and its alpha
// plane as loaded (empty for an opaque picture), the lighting table and the
// values derived at invalidation.
struct TFlagScene {
    TDIB Texture;
    TDIB Alpha;
    TLightTable LightTable;
    TFlagDerived Derived;
};

TFlagScene PrepareFlagScene(const TFlagOptions& options, const std::optional<std::string>& picture);

} // namespace zx::cli
