// zephyrix-cli export: the main job without a window. Loads the picture (or the
// built-in one), renders every frame of the loop and writes the animated GIF.

#include "cli/CliCommand.h"
#include "cli/CliFlagOptions.h"
#include "cli/CliGifOptions.h"
#include "cli/CliPicture.h"
#include "cli/CliSettings.h"
#include "cli/CliTextOptions.h"
#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/GIFExport.h"

#include <optional>
#include <string>

namespace zx::cli {

namespace {

    struct TExportArguments {
        TFlagOptions Flag;
        TGifOutputOptions Gif;
        std::optional<std::string> Picture;
    };

    // The command line over the given starting values.
    TExportArguments ParseExportArguments(
        std::span<const std::string> args, TExportArguments parsed)
    {
        for (std::size_t i = 0; i < args.size();) {
            if (const std::size_t used = ParseGifOption(args, i, parsed.Gif)) {
                i += used;
                continue;
            }
            if (const std::size_t used = ParseFlagOption(args, i, parsed.Flag)) {
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
        if (parsed.Flag.SavedSettings) {
            // The command line again, this time over the saved settings.
            TExportArguments saved;
            bool highQuality = false;
            LoadSavedSettings(saved.Flag.Params, saved.Flag.Text, highQuality);
            saved.Gif.Export.Quality
                = highQuality ? TExportQuality::High : TExportQuality::Standard;
            saved.Gif.Export.GIFDelay = saved.Flag.Params.GIFDelay;
            saved.Gif.Export.GIFLoops = saved.Flag.Params.GIFLoops;
            saved.Gif.Export.GIFBits = saved.Flag.Params.GIFBits;
            parsed = ParseExportArguments(args, saved);
        }
        TFlagOptions& flag = parsed.Flag;
        TGifOutputOptions& gif = parsed.Gif;
        const std::optional<std::string>& picture = parsed.Picture;
        RequireOutputPath(gif);
        gif.Export.Frames = flag.Params.Frames;
        CheckExportOptions(gif.Export);

        const TProgressReporter progress(gif.Quiet);
        const TFlagScene scene = PrepareFlagScene(flag, picture);
        TFrameStore store;
        const auto render = [&](std::int32_t k, std::uint16_t phase) {
            RenderFrame(store, static_cast<std::uint16_t>(k), phase, flag.Params, scene.Derived,
                scene.Texture, scene.Alpha, scene.LightTable,
                [&](const std::string& text) { progress.Say(text); });
        };
        const auto gifImage = BuildExportGif(
            store, gif.Export, render, [&](const std::string& text) { progress.Say(text); });
        WriteGif(*gifImage, gif.OutputPath, progress);
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
