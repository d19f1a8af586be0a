// zephyrix-cli frames: renders the flag's frames and masks as BMP files, for
// looking at them and for checking the renderer from scripts.

#include "cli/CliCommand.h"
#include "cli/CliOptions.h"
#include "cli/CliSettings.h"
#include "core/Stream.h"
#include "core/flag/FlagModel.h"
#include "core/flag/FlagParameters.h"
#include "core/gif/ExportJob.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zx::cli {

namespace {

    std::string SlotName(const char* prefix, std::int32_t k)
    {
        char name[32];
        std::snprintf(name, sizeof name, "%s-%02d.bmp", prefix, k);
        return name;
    }

    std::vector<std::uint8_t> BmpBytes(const TDIB& picture)
    {
        TMemoryStream stream;
        picture.SaveToStream(stream);
        return std::move(stream.Data());
    }

    struct TFramesArguments {
        TCliSettings Options;
        std::optional<std::string> Picture;
        std::optional<std::string> Directory;
    };

    // The command line over the given starting values.
    TFramesArguments ParseFramesArguments(
        std::span<const std::string> args, TFramesArguments parsed)
    {
        for (std::size_t i = 0; i < args.size();) {
            const std::string& arg = args[i];
            if (arg == "-d" || arg == "--dir" || arg.starts_with("--dir=")) {
                std::size_t used = 0;
                parsed.Directory = OptionValue(args, i, "-d", used);
                i += used;
                continue;
            }
            if (const std::size_t used = ParseSettingOption(kCliFrames, args, i, parsed.Options)) {
                i += used;
                continue;
            }
            RefuseUnknownOption(arg);
            SetPictureArgument(parsed.Picture, arg);
            ++i;
        }
        return parsed;
    }

    int RunFrames(std::span<const std::string> args)
    {
        TFramesArguments parsed = ParseFramesArguments(args, {});
        if (parsed.Options.SavedSettings) {
            // The command line again, this time over the saved settings.
            TFramesArguments saved;
            LoadSavedSettings(saved.Options.Values);
            parsed = ParseFramesArguments(args, saved);
        }
        const TCliSettings& options = parsed.Options;
        const std::optional<std::string>& picture = parsed.Picture;
        const std::optional<std::string>& directory = parsed.Directory;
        if (!directory || directory->empty())
            throw EUsageError("missing -d DIR (the folder for the frames)");
        const std::filesystem::path folder(*directory);
        if (std::filesystem::exists(folder) && !std::filesystem::is_directory(folder))
            throw EUsageError(*directory + " is not a folder");

        RequireExportSize(options.Values);

        TFlagModel model;
        PrepareFlagModel(model, options, picture);
        const FlagParameters& params = options.Values.Flag;

        // Every frame is rendered (side by side, as an export renders them)
        // before the first file is written, so that a failure leaves the
        // folder as it was; each file is encoded just before it is written.
        TExportJob job(
            TakeExportSnapshot(model, ExportOptionsOf(options.Values), options.Values.ExportScale));
        job.KeepFrames = true;
        const TExportFrames& frames = job.Render();

        std::filesystem::create_directories(folder);
        for (std::int32_t k = 0; k < params.Frames; ++k) {
            const auto slot = static_cast<std::size_t>(k);
            WriteFileAtomic(
                (folder / SlotName("frame", k)).string(), BmpBytes(frames.Bitmaps()[slot]));
            WriteFileAtomic(
                (folder / SlotName("mask", k)).string(), BmpBytes(frames.Masks()[slot]));
        }
        std::cout << "Wrote " << params.Frames << " frames of " << frames.Bitmaps()[0].Width()
                  << " x " << frames.Bitmaps()[0].Height() << " to " << *directory << "\n";
        return 0;
    }

    std::string FramesHelp()
    {
        return "Renders the waving flag's frames as BMP files in DIR: frame-NN.bmp (24 bits per\n"
               "pixel) and mask-NN.bmp (8 bits; 255 where the flag does not cover the frame)\n"
               "for NN = 00 .. frames - 1, frame k with the wave phase k x 4096 div frames.\n"
               "\n"
               "  picture                   a BMP, JPEG, GIF, PNG, WebP or SVG file; without\n"
               "                            one, the built-in picture\n"
               "  -d DIR, --dir DIR         folder for the files (created when missing)\n"
               "\n"
            + FlagOptionsHelp() + "\n" + TextOptionsHelp()
            + "\nOn any error nothing is written, one line goes to stderr and the exit status\n"
              "is non-zero.\n";
    }

    const CliCommandRegistration kRegistration(CliCommand {
        "frames",
        "frames [picture] -d DIR [flag options]",
        FramesHelp(),
        &RunFrames,
    });

} // namespace

} // namespace zx::cli
