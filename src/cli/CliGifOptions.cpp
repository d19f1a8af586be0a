#include "cli/CliGifOptions.h"

#include "cli/CliOptions.h"
#include "core/Stream.h"
#include "core/gif/GIFExport.h"

#include <iostream>
#include <unistd.h>

namespace zx::cli {

std::size_t ParseOutputOption(
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
    if (name == "--verbose" || name == "-v") {
        options.Verbose = true;
        return 1;
    }
    return 0;
}

void RequireOutputPath(const TGifOutputOptions& options)
{
    if (options.OutputPath.empty())
        throw EUsageError("missing -o OUT.gif (the file to write)");
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

namespace zx::cli {

void WriteSizedGif(
    const TSizedGif& gif, const TGifOutputOptions& output, const TProgressReporter& progress)
{
    progress.Say(sStatusSaving);
    WriteFileAtomic(output.OutputPath, gif.File);
    ReportSizedGif(gif, gif.File.size(), output);
}

void ReportSizedGif(const TSizedGif& gif, std::uint64_t written, const TGifOutputOptions& output)
{
    if (gif.Fitted)
        std::cerr << gif.Report << "\n";
    if (output.Verbose)
        std::cerr << output.OutputPath << ": " << GroupDigits(written) << " bytes written\n";
}

} // namespace zx::cli
