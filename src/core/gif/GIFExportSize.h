#pragma once

// The export with its size options, as zephyrix-cli and the panel run it: the
// frames' GIF at a lossy level, or the largest one within a byte limit, as
// the bytes of the file to write. Without loss and without a limit the bytes
// are exactly those of BuildExportGif.

#include "core/flag/FlagRenderer.h"
#include "core/gif/ExportJob.h"
#include "core/gif/GIFExport.h"
#include "core/gif/GIFSizeFit.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zx {

struct TSizedGif {
    std::vector<std::uint8_t> File;
    // A limit was asked for; then Knobs are the settings it chose (Quality the
    // lossy level, Colours the bits, Step the frame-size step), Report the
    // line that says so ("256K: --lossy 60 --bits 7, 251 904 bytes, 5
    // encodes") and Width x Height the size of the frames written.
    bool Fitted = false;
    TFitKnobs Knobs;
    std::string Report;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// The GIF of ready-made frames (24 bits, one size; masks and transparent as
// for BuildGifFrames). Throws ESizeLimit when nothing fits the limit, and
// what CheckExportOptions and CheckSizeOptions throw for options out of range.
TSizedGif EncodeSizedGif(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TSizeOptions& size,
    const TExportStatus& status = {}, const TFitTrying& trying = {});

// The same from the frame store, rendering the missing slots first, as
// BuildExportPalette does.
TSizedGif BuildSizedExportGif(TFrameStore& store, const TExportOptions& options,
    const TSizeOptions& size, const TRenderMissingFrame& renderFrame,
    const TExportStatus& status = {});

// The export job's writer of the GIF with the size options: GifWriter's
// file when they ask for neither loss nor a limit, EncodeSizedGif's
// otherwise; the fit's tries are counted in the progress's FitTry. What was made (the fit's choice,
// the frame size; File left empty) goes to *result when it is given.
TFrameWriter SizedGifWriter(const TExportOptions& options, const TSizeOptions& size,
    std::shared_ptr<TSizedGif> result = {});

// The end of a sized writer: the file's size into the progress, the bytes
// returned and what was made (File left empty) put in *result when given.
std::vector<std::uint8_t> HandOverSizedFile(
    TSizedGif sized, TExportProgress& progress, const std::shared_ptr<TSizedGif>& result);

} // namespace zx
