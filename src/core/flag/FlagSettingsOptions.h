#pragma once

// The command line's side of the settings table: parsing an option of any
// setting a command takes, and the help lines of a section. Numbers out of
// range are errors, never silently clamped; every message is one line that
// names the option.

#include "core/flag/FlagSettings.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zx {

// A malformed command line: the message is one line for stderr.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The value of the option at args[index]: the text after '=' in
// "--name=VALUE", otherwise args[index + 1]. used becomes the number of
// arguments taken. Throws EUsageError ("NAME needs a value") when there is
// none.
std::string OptionValue(std::span<const std::string> args, std::size_t index,
    const std::string& name, std::size_t& used);

// A decimal number (a leading '+' allowed) within range.
std::int32_t ParseWholeNumber(const std::string& option, std::string_view text, TFlagRange range);
// A colour RRGGBB in web order (a leading '#' allowed) as 0x00BBGGRR.
std::uint32_t ParseWebColor(const std::string& option, std::string_view text);

// When args[index] is an option of a setting in table that command takes,
// applies it to settings and returns how many arguments it took (1, or 2 for
// "--name VALUE"); matched then points to the setting. Returns 0 for any other
// argument. Throws EUsageError for a missing, malformed or out-of-range value.
std::size_t ParseSettingOption(std::span<const TSetting> table, unsigned command,
    std::span<const std::string> args, std::size_t index, TSettings& settings,
    const TSetting** matched = nullptr);

// One help line: the option in a 28-column margin, the text word-wrapped
// beside it to 79 columns ('\n' in the text starts a new line).
std::string HelpLine(const std::string& option, const std::string& text);

// The help lines of every option of a section, in their order.
std::string SettingsHelp(std::span<const TSetting> table, TCliSection section);

} // namespace zx
