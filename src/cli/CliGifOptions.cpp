#include "cli/CliGifOptions.h"

#include "cli/CliFlagOptions.h"
#include "core/Stream.h"
#include "core/flag/FlagParameters.h"

#include <iostream>
#include <unistd.h>

namespace zx::cli {

std::size_t ParseGifOption(
    std::span<const std::string> args, std::size_t index, TGifOutputOptions& options)
{
    const std::string& arg = args[index];
    const std::string name = arg.substr(0, arg.find('='));
    std::size_t used = 0;
    if (name == "-o" || name == "--output") {
        options.OutputPath = OptionValue(args, index, name, used);
        if (options.OutputPath.empty())
            throw EUsageError("-o needs a file name");
        return used;
    }
    if (name == "--quiet" || name == "-q") {
        options.Quiet = true;
        return 1;
    }
    if (name == "--delay") {
        options.Export.GIFDelay
            = ParseIntValue(name, OptionValue(args, index, name, used), kGIFDelayRange);
        return used;
    }
    if (name == "--loops") {
        options.Export.GIFLoops
            = ParseIntValue(name, OptionValue(args, index, name, used), kGIFLoopsRange);
        return used;
    }
    if (name == "--quality") {
        const std::string value = OptionValue(args, index, name, used);
        if (value == "standard")
            options.Export.Quality = TExportQuality::Standard;
        else if (value == "high")
            options.Export.Quality = TExportQuality::High;
        else
            throw EUsageError("--quality must be standard or high, not \"" + value + "\"");
        return used;
    }
    if (name == "--bits") {
        options.Export.GIFBits
            = ParseIntValue(name, OptionValue(args, index, name, used), kGIFBitsRange);
        return used;
    }
    return 0;
}

void RequireOutputPath(const TGifOutputOptions& options)
{
    if (options.OutputPath.empty())
        throw EUsageError("missing -o OUT.gif (the file to write)");
}

std::string GifOptionsHelp()
{
    auto range = [](const TFlagRange& r) {
        return std::to_string(r.Min) + ".." + std::to_string(r.Max) + ", default "
            + std::to_string(r.Default);
    };
    return "GIF options:\n"
           "  -o, --output FILE         the GIF to write (required)\n"
           "  --delay D                 frame delay in 1/100 s ("
        + range(kGIFDelayRange)
        + ")\n"
          "  --loops P                 loop-count slider position ("
        + range(kGIFLoopsRange)
        + "):\n"
          "                            0 and 101 loop for ever, 1..50 loop P times,\n"
          "                            51..95 10 x P - 450 times, 96..100 100 x P - 9000\n"
          "  --bits B                  colour depth: 2^B colours, one fewer with\n"
          "                            transparency ("
        + range(kGIFBitsRange)
        + ")\n"
          "  --quality standard|high   how the colours are reduced (default standard):\n"
          "                            standard is the program's own octree palette\n"
          "                            and Stucki dithering; high fits the palette to\n"
          "                            all frames and tunes it to the dithering, and\n"
          "                            keeps still parts of the animation still\n"
          "  -q, --quiet               no progress on stderr (it is shown only when\n"
          "                            stderr is a terminal)\n";
}

TProgressReporter::TProgressReporter(bool quiet)
    : m_enabled(!quiet && ::isatty(STDERR_FILENO) == 1)
{
}

void TProgressReporter::Say(const std::string& text) const
{
    if (m_enabled && !text.empty())
        std::cerr << text << "\n";
}

void WriteGif(const TGIFImage& gif, const std::string& path, const TProgressReporter& progress)
{
    progress.Say(sStatusSaving);
    const std::vector<std::uint8_t> bytes = gif.SaveToBytes();
    WriteFileAtomic(path, bytes);
}

} // namespace zx::cli
