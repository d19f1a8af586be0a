#include "cli/CliOptions.h"

#include "cli/CliPicture.h"
#include "cli/CliTextOptions.h"

namespace zx::cli {

std::size_t ParseSettingOption(
    unsigned command, std::span<const std::string> args, std::size_t index, TCliSettings& settings)
{
    const std::string& arg = args[index];
    if ((command & (kCliFrames | kCliExport)) != 0
        && arg.substr(0, arg.find('=')) == "--settings") {
        if (arg.find('=') != std::string::npos)
            throw EUsageError("--settings takes no value");
        settings.SavedSettings = true;
        return 1;
    }
    const TSetting* matched = nullptr;
    const std::size_t used
        = zx::ParseSettingOption(SettingsTable(), command, args, index, settings.Values, &matched);
    if (matched && std::string_view(matched->Name) == "FontName")
        settings.FontRequired = true;
    return used;
}

void RequireExportSize(const TSettings& settings)
{
    if (ExportSizeFits(settings))
        return;
    const auto size = [](std::int64_t w, std::int64_t h) {
        return std::to_string(w) + "x" + std::to_string(h);
    };
    throw EUsageError("--size " + size(settings.FrameWidth, settings.FrameHeight) + " at --scale "
        + std::to_string(settings.ExportScale) + " makes frames of "
        + size(std::int64_t(settings.FrameWidth) * settings.ExportScale,
            std::int64_t(settings.FrameHeight) * settings.ExportScale)
        + "; they may be at most " + size(kMaxRenderWidth, kMaxRenderHeight));
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
    return "Flag options (numbers out of range are errors):\n"
        + SettingsHelp(SettingsTable(), TCliSection::Flag)
        + HelpLine("--settings",
            "start from the desktop program's saved flag and text settings (and, for export, "
            "its GIF settings) instead of the defaults; the other options override them. The "
            "frame size still comes from --size alone, times the saved export size unless --scale "
            "is given. The saved settings are only read, never written")
        + "  Options take their value as \"--name VALUE\" or \"--name=VALUE\".\n";
}

std::string TextOptionsHelp()
{
    return "Text options (the text is drawn on the picture before the flag is made):\n"
        + SettingsHelp(SettingsTable(), TCliSection::Text);
}

std::string GifOptionsHelp()
{
    return "GIF options:\n" + HelpLine("-o, --output FILE", "the GIF to write (required)")
        + SettingsHelp(SettingsTable(), TCliSection::Gif)
        + HelpLine("-q, --quiet",
            "no progress on stderr (it is shown only when\nstderr is a "
            "terminal)")
        + HelpLine("-v, --verbose", "print the number of bytes written on stderr");
}

void PrepareFlagModel(
    TFlagModel& model, const TCliSettings& settings, const std::optional<std::string>& picture)
{
    TPicture source;
    LoadSourcePicture(picture, source);
    model.SetTexture(source.Color, source.Alpha);
    // The text goes on the colours; the alpha plane keeps the picture's shape.
    model.PrepareTexture([&](TDIB& prepared) {
        ApplyTextOverlay(prepared, settings.Values.Text, settings.FontRequired);
    });
    model.SetFrameSize(settings.Values.FrameWidth, settings.Values.FrameHeight);
    model.SetParameters(settings.Values.Flag);
}

} // namespace zx::cli
