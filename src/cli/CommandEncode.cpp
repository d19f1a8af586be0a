// zephyrix-cli encode: builds the GIF from frames made elsewhere, with the same
// shared palette, dithering and file layout as the export (or an animated WebP
// or APNG of them, as the export writes them). It lets the export be compared
// with other encoders on identical input.

#include "cli/CliAnimFormat.h"
#include "cli/CliCommand.h"
#include "cli/CliGifOptions.h"
#include "cli/CliOptions.h"
#include "cli/CliPicture.h"
#include "core/Stream.h"
#include "core/WorkerPool.h"
#include "core/flag/FlagParameters.h"
#include "core/gif/AnimationSizeFit.h"
#include "core/gif/GIFExportSize.h"

#include <exception>
#include <string>
#include <vector>

namespace zx::cli {

namespace {

    int RunEncode(std::span<const std::string> args)
    {
        TGifOutputOptions gif;
        TCliSettings settings;
        TFormatOptions format;
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < args.size();) {
            if (const std::size_t used = ParseOutputOption(args, i, gif)) {
                i += used;
                continue;
            }
            if (const std::size_t used = ParseFormatOption(args, i, format)) {
                i += used;
                continue;
            }
            if (const std::size_t used = ParseSettingOption(kCliEncode, args, i, settings)) {
                i += used;
                continue;
            }
            const std::string& arg = args[i];
            RefuseUnknownOption(arg);
            paths.push_back(arg);
            ++i;
        }
        RequireOutputPath(gif);
        const TOutputFormat outputFormat = ResolveOutputFormat(gif.OutputPath, format);
        if (paths.empty())
            throw EUsageError("no frames given");
        if (paths.size() > static_cast<std::size_t>(kFrameSlots))
            throw EUsageError("at most " + std::to_string(kFrameSlots) + " frames, "
                + std::to_string(paths.size()) + " given");
        TExportOptions options = ExportOptionsOf(settings.Values);
        options.Frames = static_cast<std::int32_t>(paths.size());
        CheckExportOptions(options);
        const TSizeOptions size = SizeOptionsOf(settings.Values);
        CheckSizeOptions(size);
        // A place that cannot be written is refused before the frames are
        // read and coded.
        CheckWritable(gif.OutputPath);

        const TProgressReporter progress(gif.Quiet);
        // The frames are read side by side; a failure is reported as reading
        // them one by one would meet it, the first in the order given.
        std::vector<TDIB> frames(paths.size());
        std::vector<std::exception_ptr> failures(paths.size());
        ParallelFor(paths.size(), 0, [&](std::size_t i) {
            try {
                LoadSourcePicture(paths[i], frames[i]);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        });
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (failures[i])
                std::rethrow_exception(failures[i]);
            if (frames[i].Width() != frames[0].Width() || frames[i].Height() != frames[0].Height())
                throw EUsageError(paths[i] + " is " + std::to_string(frames[i].Width()) + " x "
                    + std::to_string(frames[i].Height()) + ", the first frame "
                    + std::to_string(frames[0].Width()) + " x "
                    + std::to_string(frames[0].Height()));
        }
        if (outputFormat != TOutputFormat::Gif) {
            TExportAnimation animation;
            animation.Frames = std::move(frames);
            const TAnimationFit fit { .Format = outputFormat,
                .Delay = options.GIFDelay,
                .Loops = options.GIFLoops,
                .WebP = WebPOptionsOf(format),
                .Limit = size.MaxSize };
            WriteSizedGif(EncodeSizedAnimation(animation, fit), gif, progress);
            return 0;
        }
        if (frames[0].Width() > 65535 || frames[0].Height() > 65535)
            throw EUsageError("frames larger than 65535 x 65535 do not fit a GIF");

        const auto say = [&](const std::string& text) { progress.Say(text); };
        WriteSizedGif(EncodeSizedGif(frames, {}, {}, options, size, say), gif, progress);
        return 0;
    }

    const CliCommandRegistration kEncode({
        "encode",
        "encode FRAME... -o OUT.gif|OUT.webp|OUT.png [GIF and format options]",
        "Builds an animated GIF from ready-made frames (1..40 pictures of one size, in\n"
        "the order given), with the export's shared palette and dithering and no\n"
        "transparency; or, with a .webp or .png name (or --format), an animated WebP\n"
        "or APNG of them.\n\n"
            + GifOptionsHelp() + "\n" + FormatOptionsHelp(),
        RunEncode,
    });

} // namespace

} // namespace zx::cli
