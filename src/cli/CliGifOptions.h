#pragma once

// The output of the commands that write a GIF (export, encode): the file to
// write, the progress shown on the way, and the atomic write.

#include "core/gif/GIFExportSize.h"
#include "core/gif/XGIFUnit.h"

#include <cstddef>
#include <span>
#include <string>

namespace zx::cli {

struct TGifOutputOptions {
    std::string OutputPath;
    bool Quiet = false;
    bool Verbose = false;
};

// When args[index] is an output option (-o, --output, --quiet, -q, --verbose,
// -v), applies
// it and returns how many arguments it took; 0 otherwise. Throws EUsageError
// for a missing or empty file name.
std::size_t ParseOutputOption(
    std::span<const std::string> args, std::size_t index, TGifOutputOptions& options);

// Raises "missing -o OUT.gif (the file to write)" when no -o was given.
void RequireOutputPath(const TGifOutputOptions& options);

// Progress on stderr: shown when stderr is a terminal and --quiet is not given.
class TProgressReporter {
public:
    explicit TProgressReporter(bool quiet);
    void Say(const std::string& text) const;
    bool Enabled() const { return m_enabled; }

private:
    bool m_enabled;
};

// Encodes the GIF and writes it atomically to path (a temporary file renamed
// over it, so a failure never harms an existing file).
void WriteGif(const TGIFImage& gif, const std::string& path, const TProgressReporter& progress);

// Writes the file of an export with size options the same way. Where a limit
// was asked for, stderr tells what the fit chose; with verbose, how many
// bytes were written.
void WriteSizedGif(
    const TSizedGif& gif, const TGifOutputOptions& output, const TProgressReporter& progress);
// What WriteSizedGif tells on stderr, for a file of written bytes that was
// written elsewhere (by the export job).
void ReportSizedGif(const TSizedGif& gif, std::uint64_t written, const TGifOutputOptions& output);

} // namespace zx::cli
