#pragma once

// The GIF options and the output handling shared by the commands that write a
// GIF (export, encode).

#include "core/gif/GIFExport.h"

#include <cstddef>
#include <span>
#include <string>

namespace zx::cli {

struct TGifOutputOptions {
    TExportOptions Export;
    std::string OutputPath;
    bool Quiet = false;
};

// When args[index] is a GIF or output option (--delay, --loops, --bits,
// --quality, -o, --quiet), applies it and returns how many arguments it took; 0 otherwise.
// Throws EUsageError for a missing, malformed or out-of-range value.
std::size_t ParseGifOption(
    std::span<const std::string> args, std::size_t index, TGifOutputOptions& options);

// Raises "missing -o OUT.gif (the file to write)" when no -o was given.
void RequireOutputPath(const TGifOutputOptions& options);

// The help lines of the GIF and output options.
std::string GifOptionsHelp();

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

} // namespace zx::cli
