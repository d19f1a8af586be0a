#include "cli/CliAnimFormat.h"

#include "cli/CliOptions.h"
#include "core/gif/GIFExport.h"

#include <algorithm>
#include <cctype>

namespace zx::cli {

namespace {

    const char* FormatName(TOutputFormat format)
    {
        return AnimationFormatName(format);
    }

    std::string Lower(std::string text)
    {
        std::transform(text.begin(), text.end(), text.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    // An option of the GIF section that the other formats have no use for:
    // all but the delay, the loop count and the size limit, which every
    // format obeys.
    bool IsGifOnlySetting(const TSetting& setting, const std::string& name)
    {
        if (setting.Cli.Section != TCliSection::Gif)
            return false;
        const std::string_view id = setting.Name;
        if (id == "GIFDelay" || id == "GIFLoops" || id == "MaxSizeBytes")
            return false;
        if (setting.Cli.Option && name == setting.Cli.Option)
            return true;
        for (const TCliSwitch& item : setting.Cli.Switches)
            if (item.Name && name == item.Name)
                return true;
        return false;
    }

} // namespace

std::size_t ParseFormatOption(
    std::span<const std::string> args, std::size_t index, TFormatOptions& options)
{
    const std::string& arg = args[index];
    const std::string name = arg.substr(0, arg.find('='));
    std::size_t used = 0;
    if (name == "--format") {
        const std::string value = OptionValue(args, index, name, used);
        if (value == "gif")
            options.Format = TOutputFormat::Gif;
        else if (value == "webp")
            options.Format = TOutputFormat::WebP;
        else if (value == "apng")
            options.Format = TOutputFormat::APNG;
        else
            throw EUsageError("--format must be gif, webp or apng, not \"" + value + "\"");
        return used;
    }
    if (name == "--webp-quality") {
        options.WebPQuality
            = ParseWholeNumber(name, OptionValue(args, index, name, used), kWebPQualityRange);
        return used;
    }
    if (name == "--lossless") {
        if (arg.find('=') != std::string::npos)
            throw EUsageError("--lossless takes no value");
        options.Lossless = true;
        return 1;
    }
    for (const TSetting& setting : SettingsTable())
        if (IsGifOnlySetting(setting, name)) {
            options.GifOnly.push_back(name);
            break;
        }
    return 0;
}

TOutputFormat ResolveOutputFormat(const std::string& path, const TFormatOptions& options)
{
    const std::optional<TOutputFormat> named = AnimationFormatOfName(path);
    if (options.Format && named && *named != *options.Format)
        throw EUsageError("-o " + path + " names a " + FormatName(*named) + " file, but --format "
            + Lower(FormatName(*options.Format)) + " was given");
    const TOutputFormat format = options.Format.value_or(named.value_or(TOutputFormat::Gif));
    if (format != TOutputFormat::Gif && !options.GifOnly.empty())
        throw EUsageError(
            options.GifOnly.front() + " applies to GIF only, not to " + FormatName(format));
    if (format != TOutputFormat::WebP && options.WebPQuality)
        throw EUsageError(
            std::string("--webp-quality applies to WebP only, not to ") + FormatName(format));
    if (format != TOutputFormat::WebP && options.Lossless)
        throw EUsageError(std::string("--lossless applies to WebP only, not to ")
            + FormatName(format)
            + (format == TOutputFormat::APNG ? " (which is always lossless)" : ""));
    if (options.Lossless && options.WebPQuality)
        throw EUsageError("--webp-quality applies to lossy WebP only, not with --lossless");
    return format;
}

TWebPOptions WebPOptionsOf(const TFormatOptions& options, const TWebPOptions& base)
{
    if (!options.Lossless && !options.WebPQuality)
        return base;
    TWebPOptions webp;
    webp.Lossless = options.Lossless;
    webp.Quality = options.WebPQuality.value_or(base.Quality);
    return webp;
}

std::string FormatOptionsHelp()
{
    return "Output format (from -o's extension: .gif, .webp, .png or .apng; GIF for any\n"
           "other name):\n"
        + HelpLine("--format gif|webp|apng",
            "the format, whatever the name; a .gif, .webp, .png or .apng name must agree")
        + HelpLine(
            "--webp-quality Q", "lossy WebP quality (0..100, default 90); the alpha stays lossless")
        + HelpLine("--lossless",
            "lossless WebP: every colour and alpha value as rendered (APNG always is)")
        + "  --delay, --loops and --max-size apply to every format, the other GIF options\n"
          "  to GIF only. --max-size lowers a lossy WebP's quality, then its frame size; a\n"
          "  lossless WebP's or an APNG's frame size alone.\n";
}

} // namespace zx::cli
