#pragma once

// The output format of export and encode: GIF, animated WebP or APNG, chosen
// by -o's extension (.gif, .webp, .png, .apng) or by --format, with the WebP
// options. An option of one format given for another is refused, each with
// one line that names it.

#include "cli/CliGifOptions.h"
#include "core/gif/AnimationExport.h"
#include "core/gif/WebPAnimWriter.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zx::cli {

using TOutputFormat = TAnimationFormat;

struct TFormatOptions {
    // --format, when given.
    std::optional<TOutputFormat> Format;
    // --webp-quality, when given.
    std::optional<std::int32_t> WebPQuality;
    bool Lossless = false;
    // The GIF-only options found on the command line (--bits, --quality ...),
    // in their order, as they were spelt.
    std::vector<std::string> GifOnly;
};

// When args[index] is --format, --webp-quality or --lossless, applies it and
// returns how many arguments it took. Otherwise returns 0, after noting a
// GIF-only option (every option of the GIF section but --delay and --loops)
// for ResolveOutputFormat; the settings parser then reads its value. Throws
// EUsageError for a missing or bad value.
std::size_t ParseFormatOption(
    std::span<const std::string> args, std::size_t index, TFormatOptions& options);

// The format to write path in: --format's when given, otherwise the one its
// extension names (case ignored), GIF for any other name. Throws EUsageError
// when --format and a known extension disagree, or an option given does not
// apply to the format.
TOutputFormat ResolveOutputFormat(const std::string& path, const TFormatOptions& options);

// The WebP options: base (the settings' WebP, or the defaults) unless
// --lossless or --webp-quality was given, which then decide alone.
TWebPOptions WebPOptionsOf(const TFormatOptions& options, const TWebPOptions& base = {});

// The help section of the format options.
std::string FormatOptionsHelp();

} // namespace zx::cli
