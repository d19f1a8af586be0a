#include "core/flag/FlagSettingsOptions.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

namespace zx {

namespace {

    std::string RangeText(TFlagRange range)
    {
        return std::to_string(range.Min) + ".." + std::to_string(range.Max);
    }

    std::string Quoted(std::string_view text)
    {
        std::string quoted;
        quoted.reserve(text.size() + 2);
        quoted += '"';
        quoted += text;
        quoted += '"';
        return quoted;
    }

    std::string NamesText(const TSetting& setting)
    {
        std::string names;
        for (const TCliName& name : setting.Cli.Names) {
            if (!names.empty())
                names += '|';
            names += name.Name;
        }
        return names;
    }

    void Replace(std::string& text, std::string_view token, const std::string& value)
    {
        for (auto at = text.find(token); at != std::string::npos;
             at = text.find(token, at + value.size()))
            text.replace(at, token.size(), value);
    }

    // The number with a syntax of the setting's own, or a decimal one; then
    // the checks against the range and the allowed values.
    std::int32_t ParseNumberOf(
        const TSetting& setting, const std::string& option, std::string_view text)
    {
        if (!setting.Cli.ParseNumber)
            return ParseWholeNumber(option, text, setting.Range);
        const std::int64_t value = setting.Cli.ParseNumber(option, text);
        if (value < setting.Range.Min || value > setting.Range.Max)
            throw EUsageError(
                option + ": " + std::string(text) + " is out of range " + RangeText(setting.Range));
        return static_cast<std::int32_t>(value);
    }

    std::int32_t CheckAllowed(const TSetting& setting, const std::string& option,
        std::string_view text, std::int32_t value)
    {
        if (setting.Accepts(value))
            return value;
        std::string allowed;
        for (const std::int32_t each : setting.Allowed) {
            if (!allowed.empty())
                allowed += ", ";
            allowed += std::to_string(each);
        }
        throw EUsageError(option + ": " + std::string(text) + " is not one of " + allowed);
    }

    std::int32_t ParseName(
        const TSetting& setting, const std::string& option, const std::string& value)
    {
        for (const TCliName& name : setting.Cli.Names) {
            if (value == name.Name)
                return name.Value;
        }
        std::string message = setting.Cli.BadName ? setting.Cli.BadName
                                                  : "<option>: \"<value>\" is not one of <names>";
        Replace(message, "<option>", option);
        Replace(message, "<value>", value);
        Replace(message, "<names>", NamesText(setting));
        throw EUsageError(message);
    }

    // "A<sep>B" into the setting and its partner.
    void ParsePair(std::span<const TSetting> table, const TSetting& setting,
        const std::string& option, const std::string& text, TSettings& settings)
    {
        const TSetting* partner = FindSetting(table, setting.Cli.Partner);
        const auto at = text.find(setting.Cli.Separator);
        if (!partner || at == std::string::npos)
            throw EUsageError(
                option + ": " + Quoted(text) + " is not of the form " + setting.Cli.Metavar);
        const std::string_view whole(text);
        const std::int32_t first = ParseNumberOf(setting, option, whole.substr(0, at));
        const std::int32_t second = ParseNumberOf(*partner, option, whole.substr(at + 1));
        setting.Value.Set(settings, CheckAllowed(setting, option, whole.substr(0, at), first));
        partner->Value.Set(settings, CheckAllowed(*partner, option, whole.substr(at + 1), second));
    }

    // What "<default>" stands for in a help text.
    std::string DefaultText(const TSetting& setting)
    {
        switch (setting.Type) {
        case TSettingType::Text:
            return setting.DefaultText ? setting.DefaultText : "";
        case TSettingType::Color: {
            // 0x00BBGGRR in web order.
            const auto color = static_cast<std::uint32_t>(setting.Range.Default);
            char text[8];
            std::snprintf(text, sizeof text, "%02x%02x%02x", color & 255, (color >> 8) & 255,
                (color >> 16) & 255);
            return text;
        }
        case TSettingType::Integer:
        case TSettingType::Boolean:
        case TSettingType::Choice:
            break;
        }
        for (const TCliName& name : setting.Cli.Names) {
            if (name.Value == setting.Range.Default)
                return name.Name;
        }
        return std::to_string(setting.Range.Default);
    }

    std::string ExpandHelp(
        std::span<const TSetting> table, const TSetting& setting, const char* help)
    {
        std::string text = help ? help : "";
        Replace(text, "<min>", std::to_string(setting.Range.Min));
        Replace(text, "<max>", std::to_string(setting.Range.Max));
        Replace(text, "<default>", DefaultText(setting));
        if (const TSetting* partner
            = setting.Cli.Partner ? FindSetting(table, setting.Cli.Partner) : nullptr) {
            Replace(text, "<min2>", std::to_string(partner->Range.Min));
            Replace(text, "<max2>", std::to_string(partner->Range.Max));
            Replace(text, "<default2>", DefaultText(*partner));
        }
        return text;
    }

} // namespace

std::string OptionValue(std::span<const std::string> args, std::size_t index,
    const std::string& name, std::size_t& used)
{
    const std::string& arg = args[index];
    const auto equals = arg.find('=');
    if (equals != std::string::npos) {
        used = 1;
        return arg.substr(equals + 1);
    }
    if (index + 1 >= args.size())
        throw EUsageError(name + " needs a value");
    used = 2;
    return args[index + 1];
}

std::int32_t ParseWholeNumber(const std::string& option, std::string_view text, TFlagRange range)
{
    std::int64_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    const bool tooLarge = error == std::errc::result_out_of_range && end == last;
    if (text.empty() || (error != std::errc() && !tooLarge) || end != last)
        throw EUsageError(option + ": " + Quoted(text) + " is not a whole number");
    if (tooLarge || value < range.Min || value > range.Max)
        throw EUsageError(
            option + ": " + std::string(text) + " is out of range " + RangeText(range));
    return static_cast<std::int32_t>(value);
}

std::uint32_t ParseWebColor(const std::string& option, std::string_view text)
{
    if (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    std::uint32_t rgb = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rgb, 16);
    if (text.size() != 6 || error != std::errc() || end != text.data() + text.size())
        throw EUsageError(
            option + ": " + Quoted(text) + " is not a colour RRGGBB (six hexadecimal digits)");
    const std::uint32_t red = (rgb >> 16) & 255;
    const std::uint32_t green = (rgb >> 8) & 255;
    const std::uint32_t blue = rgb & 255;
    return red | (green << 8) | (blue << 16);
}

std::size_t ParseSettingOption(std::span<const TSetting> table, unsigned command,
    std::span<const std::string> args, std::size_t index, TSettings& settings,
    const TSetting** matched)
{
    const std::string& arg = args[index];
    const auto equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    for (const TSetting& setting : table) {
        if ((setting.Commands() & command) == 0)
            continue;
        const TSettingCli& cli = setting.Cli;
        if (cli.Form == TCliForm::Switches) {
            for (const TCliSwitch& option : cli.Switches) {
                if (name != option.Name)
                    continue;
                if (equals != std::string::npos)
                    throw EUsageError(name + " takes no value");
                setting.Value.Set(settings, option.Value);
                if (matched)
                    *matched = &setting;
                return 1;
            }
            continue;
        }
        if (!cli.Option || name != cli.Option)
            continue;
        std::size_t used = 0;
        const std::string value = OptionValue(args, index, name, used);
        switch (cli.Form) {
        case TCliForm::Number:
            setting.Value.Set(
                settings, CheckAllowed(setting, name, value, ParseNumberOf(setting, name, value)));
            break;
        case TCliForm::Color:
            setting.Value.Set(settings, static_cast<std::int32_t>(ParseWebColor(name, value)));
            break;
        case TCliForm::Names:
            setting.Value.Set(settings, ParseName(setting, name, value));
            break;
        case TCliForm::Text:
            if (cli.EmptyMessage && value.empty())
                throw EUsageError(cli.EmptyMessage);
            setting.Text.Set(settings, value);
            break;
        case TCliForm::Pair:
            ParsePair(table, setting, name, value, settings);
            break;
        case TCliForm::Switches:
            break;
        }
        if (cli.Implies)
            cli.Implies(settings);
        if (matched)
            *matched = &setting;
        return used;
    }
    return 0;
}

std::string HelpLine(const std::string& option, const std::string& text)
{
    constexpr std::size_t kMargin = 28;
    constexpr std::size_t kWidth = 79;
    std::string lines;
    std::string current = "  " + option;
    current.resize(std::max(current.size() + 2, kMargin), ' ');
    bool first = true;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t lineEnd = std::min(text.find('\n', start), text.size());
        for (std::size_t at = start; at < lineEnd;) {
            const std::size_t end = std::min(text.find(' ', at), lineEnd);
            const std::string word = text.substr(at, end - at);
            if (!first && current.size() + 1 + word.size() > kWidth) {
                lines += current + "\n";
                current = std::string(kMargin, ' ') + word;
            } else {
                current += (first ? "" : " ") + word;
            }
            first = false;
            at = end + 1;
        }
        if (lineEnd == text.size())
            break;
        lines += current + "\n";
        current = std::string(kMargin, ' ');
        first = true;
        start = lineEnd + 1;
    }
    return lines + current + "\n";
}

std::string SettingsHelp(std::span<const TSetting> table, TCliSection section)
{
    struct TEntry {
        std::int32_t Rank;
        std::string Option;
        std::string Text;
    };
    std::vector<TEntry> entries;
    for (const TSetting& setting : table) {
        const TSettingCli& cli = setting.Cli;
        if (cli.Section != section)
            continue;
        if (cli.Form == TCliForm::Switches) {
            for (const TCliSwitch& option : cli.Switches)
                entries.push_back(
                    { option.HelpRank, option.Name, ExpandHelp(table, setting, option.Help) });
            continue;
        }
        if (!cli.Option)
            continue;
        const std::string value = cli.Metavar ? cli.Metavar : NamesText(setting);
        entries.push_back(
            { cli.HelpRank, std::string(cli.Option) + (value.empty() ? "" : " ") + value,
                ExpandHelp(table, setting, cli.Help) });
    }
    std::stable_sort(entries.begin(), entries.end(),
        [](const TEntry& a, const TEntry& b) { return a.Rank < b.Rank; });
    std::string help;
    for (const TEntry& entry : entries)
        help += HelpLine(entry.Option, entry.Text);
    return help;
}

} // namespace zx
