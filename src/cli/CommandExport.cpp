// zephyrix-cli export: the main job without a window. Loads the picture (or the
// built-in one), renders every frame of the loop and writes the animated GIF.

#include "cli/CliCommand.h"
#include "cli/CliGifOptions.h"
#include "cli/CliOptions.h"
#include "cli/CliSettings.h"
#include "core/flag/FlagModel.h"
#include "core/gif/GIFExportSize.h"

#include <optional>
#include <string>

namespace zx::cli {

namespace {

    struct TExportArguments {
        TCliSettings Settings;
        TGifOutputOptions Output;
        std::optional<std::string> Picture;
    };

    // The command line over the given starting values.
    TExportArguments ParseExportArguments(
        std::span<const std::string> args, TExportArguments parsed)
    {
        for (std::size_t i = 0; i < args.size();) {
            if (const std::size_t used = ParseOutputOption(args, i, parsed.Output)) {
                i += used;
                continue;
            }
            if (const std::size_t used = ParseSettingOption(kCliExport, args, i, parsed.Settings)) {
                i += used;
                continue;
            }
            const std::string& arg = args[i];
            RefuseUnknownOption(arg);
            SetPictureArgument(parsed.Picture, arg);
            ++i;
        }
        return parsed;
    }

    int RunExport(std::span<const std::string> args)
    {
        TExportArguments parsed = ParseExportArguments(args, {});
        if (parsed.Settings.SavedSettings) {
            // The command line again, this time over the saved settings.
            TExportArguments saved;
            LoadSavedSettings(saved.Settings.Values);
            parsed = ParseExportArguments(args, saved);
        }
        RequireOutputPath(parsed.Output);
        const TExportOptions options = ExportOptionsOf(parsed.Settings.Values);
        CheckExportOptions(options);

        const TProgressReporter progress(parsed.Output.Quiet);
        const auto say = [&](const std::string& text) { progress.Say(text); };
        TFlagModel model;
        PrepareFlagModel(model, parsed.Settings, parsed.Picture);
        const auto render = [&](std::int32_t k, std::uint16_t phase) {
            model.RenderSlot(static_cast<std::uint16_t>(k), phase, say);
        };
        const TSizeOptions size = SizeOptionsOf(parsed.Settings.Values);
        CheckSizeOptions(size);
        WriteSizedGif(BuildSizedExportGif(model.FrameStore(), options, size, render, say),
            parsed.Output, progress);
        return 0;
    }

    const CliCommandRegistration kExport({
        "export",
        "export [picture] -o OUT.gif [flag and GIF options]",
        "Renders the waving flag made from the picture (a BMP, JPEG, GIF, PNG, WebP or\n"
        "SVG file; without one, the built-in picture) and writes it as an animated GIF\n"
        "with one shared palette, Stucki dithering, the delay and loop count asked for\n"
        "and, in transparent mode, a transparent background, also where the picture\n"
        "itself is transparent.\n\n"
            + FlagOptionsHelp() + "\n" + TextOptionsHelp() + "\n" + GifOptionsHelp(),
        RunExport,
    });

} // namespace

} // namespace zx::cli
