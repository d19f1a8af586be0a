#pragma once

// The size limit for the formats beside the GIF. The search is the GIF's
// (FitToSize); the knobs are the format's own:
//
// - lossy WebP: its quality, from the one asked for down to 0, then the frame
//   size in steps of about 10 % that keep the proportions;
// - lossless WebP: the frame size alone, in steps of about 5 %. Lossless
//   WebP's effort setting takes only a few per cent off (and costs several
//   times the time), and a lossless file is never made lossy behind the
//   user's back: who wants it smaller than the smallest frame gives asks for
//   lossy WebP;
// - APNG: the frame size alone, in steps of about 5 %.
//
// The frame count and the delay are never touched. Smaller frames are the
// rendered frames and their alpha planes scaled down together
// (ScaleAnimation).

#include "core/gif/AnimationExport.h"
#include "core/gif/GIFExportSize.h"
#include "core/gif/GIFSizeFit.h"
#include "core/gif/WebPAnimWriter.h"

#include <cstdint>
#include <memory>

namespace zx {

// The frames scaled down to width x height with a box filter: an output
// pixel covers the input pixels whose centres fall inside it; its alpha is
// their mean alpha, its colour their colours weighted by their alpha (so no
// colour of the pixels off the flag bleeds into its edge), or their plain
// mean where all of them are fully transparent. A frame without an alpha
// plane stays without one. Throws EInvalidGraphicOperation for a size that
// is not smaller or equal in both sides, or frames that are not 24-bit.
TExportAnimation ScaleAnimation(
    const TExportAnimation& animation, std::int32_t width, std::int32_t height);

// What a fit of a WebP or APNG is given.
struct TAnimationFit {
    TAnimationFormat Format = TAnimationFormat::WebP;
    std::int32_t Delay = 0;
    std::int32_t Loops = 0;
    TWebPOptions WebP;
    std::uint64_t Limit = 0;
};

// The frame sizes the fit of a format steps through (FitFrameSizes at the
// format's ratio).
std::vector<std::array<std::int32_t, 2>> AnimationFitSizes(
    const TAnimationFit& fit, std::int32_t width, std::int32_t height);

// The largest file of the animation in fit.Format within fit.Limit bytes
// (> 0). Knobs.Quality is the WebP quality chosen (the lossless or APNG file
// has none), Knobs.Step the frame-size step. Throws ESizeLimit as FitToSize
// does, and what the writers throw for bad frames.
TFitResult FitAnimationToSize(const TExportAnimation& animation, const TAnimationFit& fit,
    unsigned threads = 0, const TFitTrying& trying = {});

// The file of the animation: exactly the writer's without a limit, the fit's
// with one (then Fitted, Knobs, Report and the frame size say what it chose).
TSizedGif EncodeSizedAnimation(
    const TExportAnimation& animation, const TAnimationFit& fit, const TFitTrying& trying = {});

// The export job's writer of a WebP or APNG with a size limit: with none,
// AnimationWriter's; with one, EncodeSizedAnimation's file. What was made
// (File left empty) goes to *result when it is given; the fit's tries are
// counted in the progress's FitTry.
TFrameWriter SizedAnimationWriter(const TAnimationFit& fit, std::shared_ptr<TSizedGif> result = {});

} // namespace zx
