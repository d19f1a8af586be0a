// zephyrix-cli export: the main job without a window. Loads the picture (or the
// built-in one) and runs the export job the desktop program runs: every frame
// of the loop rendered side by side, then the GIF built, coded and written (or
// an animated WebP or APNG of the same frames).

#include "cli/CliAnimFormat.h"
#include "cli/CliCommand.h"
#include "cli/CliGifOptions.h"
#include "cli/CliOptions.h"
#include "cli/CliSettings.h"
#include "core/flag/FlagModel.h"
#include "core/gif/AnimationExport.h"
#include "core/gif/AnimationSizeFit.h"
#include "core/gif/ExportJob.h"
#include "core/gif/GIFExportSize.h"

#include <memory>
#include <optional>
#include <string>

namespace zx::cli {

namespace {

    struct TExportArguments {
        TCliSettings Settings;
        TGifOutputOptions Output;
        TFormatOptions Format;
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
            if (const std::size_t used = ParseFormatOption(args, i, parsed.Format)) {
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
        const TOutputFormat format = ResolveOutputFormat(parsed.Output.OutputPath, parsed.Format);
        RequireExportSize(parsed.Settings.Values);
        const TSizeOptions size = SizeOptionsOf(parsed.Settings.Values);
        CheckSizeOptions(size);
        const TExportOptions options = ExportOptionsOf(parsed.Settings.Values);
        CheckExportOptions(options);

        const TProgressReporter progress(parsed.Output.Quiet);
        TFlagModel model;
        PrepareFlagModel(model, parsed.Settings, parsed.Picture);
        TExportJob job(TakeExportSnapshot(model, options, parsed.Settings.Values.ExportScale));
        if (progress.Enabled())
            job.Progress().Status = [&](const std::string& text) { progress.Say(text); };
        const auto sized = std::make_shared<TSizedGif>();
        if (format != TOutputFormat::Gif) {
            const TAnimationFit fit { .Format = format,
                .Delay = options.GIFDelay,
                .Loops = options.GIFLoops,
                .WebP = WebPOptionsOf(parsed.Format, WebPOptionsOf(parsed.Settings.Values)),
                .Limit = size.MaxSize };
            job.Save(parsed.Output.OutputPath, SizedAnimationWriter(fit, sized));
        } else {
            job.GifPaletteAhead = size.Lossy == 0 && size.MaxSize == 0;
            job.Save(parsed.Output.OutputPath, SizedGifWriter(options, size, sized));
        }
        ReportSizedGif(*sized, job.Progress().FileBytes.load(), parsed.Output);
        return 0;
    }

    const CliCommandRegistration kExport({
        "export",
        "export [picture] -o OUT.gif|OUT.webp|OUT.png [flag, GIF and format options]",
        "Renders the waving flag made from the picture (a BMP, JPEG, GIF, PNG, WebP or\n"
        "SVG file; without one, the built-in picture) and writes it as an animated GIF\n"
        "with one shared palette, Stucki dithering, the delay and loop count asked for\n"
        "and, in transparent mode, a transparent background, also where the picture\n"
        "itself is transparent. With a .webp or .png name (or --format) it writes an\n"
        "animated WebP or APNG of the same frames instead, with an alpha channel in\n"
        "transparent mode.\n\n"
            + FlagOptionsHelp() + "\n" + TextOptionsHelp() + "\n" + GifOptionsHelp() + "\n"
            + FormatOptionsHelp(),
        RunExport,
    });

} // namespace

} // namespace zx::cli
