#include "cli/CliFlagOptions.h"

#include "cli/CliPicture.h"
#include "cli/CliTextOptions.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace zx::cli {

namespace {

    struct TIntOption {
        const char* Name;
        TFlagRange Range;
        std::int32_t FlagParameters::*Field;
        const char* Meaning;
    };

    const TIntOption kIntOptions[] = {
        { "--frames", kFramesRange, &FlagParameters::Frames, "frames in the loop" },
        { "--distance", kDistanceRange, &FlagParameters::Distance,
            "viewing distance; positive makes the flag smaller" },
        { "--antialias", kAntialiasingRange, &FlagParameters::Antialiasing,
            "antialiasing: 0 none, 1 = 2x2, 2 = 4x4 samples per pixel" },
        { "--amplitude", kAmplitudeRange, &FlagParameters::Amplitude, "wave height in %" },
        { "--frequency", kFrequencyRange, &FlagParameters::Frequency,
            "waves across the flag; the sign sets the direction of travel" },
        { "--angle", kAngleRange, &FlagParameters::Angle,
            "direction of travel in degrees, anticlockwise (ignored with --radial)" },
        { "--bump-intensity", kBumpIntensityRange, &FlagParameters::BumpIntensity,
            "strength of the fixed shading jitter in %" },
        { "--bump-frequency", kBumpFrequencyRange, &FlagParameters::BumpFrequency,
            "fineness of the shading jitter" },
        { "--brightness", kBrightnessRange, &FlagParameters::Brightness, "brightness in %" },
        { "--contrast", kContrastRange, &FlagParameters::Contrast,
            "contrast of the wave's shading in %" },
    };

    struct TSwitchOption {
        const char* Name;
        const char* Meaning;
        bool FlagParameters::*Field;
        bool Value;
        const char* Default;
    };

    // The last two turn back what --settings may have brought.
    const TSwitchOption kSwitches[] = {
        { "--radial", "radial ripples around the pin point instead of straight waves",
            &FlagParameters::Radial, true, "default off" },
        { "--invert-light", "swap the light and dark sides of the waves",
            &FlagParameters::InvertLightMode, true, "default off" },
        { "--opaque",
            "fill the area outside the flag with the background colour instead of "
            "making it transparent",
            &FlagParameters::TransparentMode, false, "default off" },
        { "--transparent", "make the area outside the flag transparent",
            &FlagParameters::TransparentMode, true, "the default" },
        { "--no-invert-light", "light and dark sides as they come",
            &FlagParameters::InvertLightMode, false, "the default" },
    };

    std::string RangeText(TFlagRange range)
    {
        return std::to_string(range.Min) + ".." + std::to_string(range.Max);
    }

    bool SplitAssignment(const std::string& arg, std::string& name)
    {
        const auto equals = arg.find('=');
        name = arg.substr(0, equals);
        return equals != std::string::npos;
    }

    std::int32_t ParseIntText(const std::string& option, std::string_view text, TFlagRange range)
    {
        std::int64_t value = 0;
        const char* first = text.data();
        const char* last = text.data() + text.size();
        if (first != last && *first == '+')
            ++first;
        const auto [end, error] = std::from_chars(first, last, value);
        const bool tooLarge = error == std::errc::result_out_of_range && end == last;
        if (text.empty() || (error != std::errc() && !tooLarge) || end != last)
            throw EUsageError(option + ": \"" + std::string(text) + "\" is not a whole number");
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
            throw EUsageError(option + ": \"" + std::string(text)
                + "\" is not a colour RRGGBB (six hexadecimal digits)");
        // RRGGBB in web order becomes the colour value 0x00BBGGRR.
        const std::uint32_t red = (rgb >> 16) & 255;
        const std::uint32_t green = (rgb >> 8) & 255;
        const std::uint32_t blue = rgb & 255;
        return red | (green << 8) | (blue << 16);
    }

    // "A<sep>B" as two integers, each within its range.
    void ParsePair(const std::string& option, const std::string& text, char separator,
        TFlagRange firstRange, TFlagRange secondRange, std::int32_t& first, std::int32_t& second,
        const char* form)
    {
        const auto at = text.find(separator);
        if (at == std::string::npos)
            throw EUsageError(option + ": \"" + text + "\" is not of the form " + form);
        first = ParseIntText(option, std::string_view(text).substr(0, at), firstRange);
        second = ParseIntText(option, std::string_view(text).substr(at + 1), secondRange);
    }

} // namespace

std::uint32_t ParseColorValue(const std::string& option, const std::string& text)
{
    return ParseWebColor(option, text);
}

std::int32_t ParseIntValue(const std::string& option, const std::string& text, TFlagRange range)
{
    return ParseIntText(option, text, range);
}

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

std::size_t ParseFlagOption(
    std::span<const std::string> args, std::size_t index, TFlagOptions& options)
{
    std::string name;
    const bool assigned = SplitAssignment(args[index], name);
    std::size_t used = 0;

    for (const auto& option : kIntOptions) {
        if (name != option.Name)
            continue;
        const std::string value = OptionValue(args, index, name, used);
        options.Params.*option.Field = ParseIntText(name, value, option.Range);
        return used;
    }
    for (const auto& option : kSwitches) {
        if (name != option.Name)
            continue;
        if (assigned)
            throw EUsageError(name + " takes no value");
        options.Params.*option.Field = option.Value;
        return 1;
    }
    if (name == "--settings") {
        if (assigned)
            throw EUsageError(name + " takes no value");
        options.SavedSettings = true;
        return 1;
    }
    if (name == "--background") {
        const std::string value = OptionValue(args, index, name, used);
        options.Params.BackgroundColor = ParseWebColor(name, value);
        options.Params.TransparentMode = false;
        return used;
    }
    if (name == "--spot") {
        const std::string value = OptionValue(args, index, name, used);
        ParsePair(name, value, ',', kSpotRange, kSpotRange, options.Params.SpotX,
            options.Params.SpotY, "X,Y");
        return used;
    }
    if (name == "--size") {
        const std::string value = OptionValue(args, index, name, used);
        ParsePair(name, value, 'x', { kMinFrameWidth, kMaxFrameWidth, kDefaultFrameWidth },
            { kMinFrameHeight, kMaxFrameHeight, kDefaultFrameHeight }, options.FrameWidth,
            options.FrameHeight, "WxH");
        return used;
    }
    return ParseTextOption(args, index, options.Text);
}

void RefuseUnknownOption(const std::string& arg)
{
    if (arg.size() > 1 && arg.front() == '-')
        throw EUsageError("unknown option " + arg);
}

void SetPictureArgument(std::optional<std::string>& picture, const std::string& arg)
{
    if (picture)
        throw EUsageError("more than one picture given: " + *picture + ", " + arg);
    picture = arg;
}

std::string FlagOptionsHelp()
{
    std::string text = "Flag options (numbers out of range are errors):\n";
    // The option in a 28-column margin, its description word-wrapped to 79
    // columns beside it.
    auto line = [&text](const std::string& left, const std::string& right) {
        constexpr std::size_t kMargin = 28;
        constexpr std::size_t kWidth = 79;
        std::string current = "  " + left;
        current.resize(std::max(current.size() + 2, kMargin), ' ');
        std::size_t start = 0;
        bool first = true;
        while (start < right.size()) {
            std::size_t end = right.find(' ', start);
            if (end == std::string::npos)
                end = right.size();
            const std::string word = right.substr(start, end - start);
            if (!first && current.size() + 1 + word.size() > kWidth) {
                text += current + "\n";
                current = std::string(kMargin, ' ') + word;
            } else {
                current += (first ? "" : " ") + word;
            }
            first = false;
            start = end + 1;
        }
        text += current + "\n";
    };
    for (const auto& option : kIntOptions) {
        line(std::string(option.Name) + " N",
            std::string(option.Meaning) + " (" + RangeText(option.Range) + ", default "
                + std::to_string(option.Range.Default) + ")");
    }
    for (const auto& option : kSwitches)
        line(option.Name, std::string(option.Meaning) + " (" + option.Default + ")");
    line("--background RRGGBB",
        "colour outside the flag in web order, e.g. ff8000; implies --opaque (default 000000)");
    line("--spot X,Y",
        "pin point in 1024ths of the frame size from its centre (" + RangeText(kSpotRange)
            + " each, default 0,0)");
    line("--size WxH",
        "frame size (" + std::to_string(kMinFrameWidth) + ".." + std::to_string(kMaxFrameWidth)
            + " x " + std::to_string(kMinFrameHeight) + ".." + std::to_string(kMaxFrameHeight)
            + ", default " + std::to_string(kDefaultFrameWidth) + "x"
            + std::to_string(kDefaultFrameHeight) + ")");
    line("--settings",
        "start from the desktop program's saved flag settings (and, for export, its GIF "
        "settings) instead of the defaults; the other options override them. The frame "
        "size still comes from --size alone. The saved settings are only read, never written");
    text += "  Options take their value as \"--name VALUE\" or \"--name=VALUE\".\n";
    return text;
}

TFlagScene PrepareFlagScene(const TFlagOptions& options, const std::optional<std::string>& picture)
{
    TFlagScene scene;
    TPicture source;
    LoadSourcePicture(picture, source);
    scene.Texture = source.Color;
    scene.Alpha = source.Alpha;
    // The text goes on the colours; the alpha plane keeps the picture's shape.
    ApplyTextOverlay(scene.Texture, options.Text);
    const FlagParameters& params = options.Params;
    scene.LightTable = BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
    scene.Derived = DeriveFlagValues(params, options.FrameWidth, options.FrameHeight);
    return scene;
}

} // namespace zx::cli
