#pragma once

// The animated PNG writer: the rendered frames, losslessly, as an APNG (PNG's
// animation extension). A viewer without animation shows
// the first frame, which is the file's ordinary image data.
//
// File layout: signature, IHDR (8-bit RGB, or RGBA when some pixel of some
// frame is not opaque), acTL, then frame 0's fcTL and IDAT, then for every
// further frame its fcTL and fdAT, and IEND. fcTL and fdAT chunks share one
// sequence, counted from 0. Each frame after the first covers the rectangle
// where it differs from the frame before (the whole frame where it differs
// everywhere); it replaces that rectangle (blend "source") and stays as it is
// until the next frame is drawn over it (dispose "none"), so every frame
// decodes to exactly its pixels.

#include "core/gif/AnimationFrames.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zx {

// How the PNG row filters are chosen.
enum class TPNGFilterChoice {
    // One filter type for every row.
    None,
    Sub,
    Up,
    Average,
    Paeth,
    // Per row, the type whose filtered bytes, read as signed, have the
    // smallest sum of magnitudes.
    SmallestSum,
    // Per row, the type whose filtered bytes have the smallest entropy.
    SmallestEntropy,
    // Per frame, whichever of SmallestSum, SmallestEntropy and Up compresses
    // smallest in a quick trial: the entropy estimate suits photographs, the
    // sum a dark picture, Up flat colours.
    Trial,
};

// Level 0: libdeflate level 10 (near-optimal parsing) where the trial
// compression leaves more than a third of a frame's bytes, level 7 (lazy
// matching) where it leaves less. Such frames are mostly flat colour or
// smooth gradient, where level 10 takes about three times as long.
inline constexpr std::int32_t kAPNGAutomaticLevel = 0;

struct TAPNGOptions {
    TPNGFilterChoice Filter = TPNGFilterChoice::Trial;
    // libdeflate's compression level, 1 (fastest) .. 12 (smallest), or
    // kAPNGAutomaticLevel.
    std::int32_t Level = kAPNGAutomaticLevel;
    // Frames after the first store only the rectangle that changed.
    bool ChangedArea = true;
};

// PNG's largest width and height (2^31 - 1); the pixel memory bound of the
// readers limits what is written long before.
inline constexpr std::int32_t kAPNGMaxSide = 0x7FFFFFFF;

// The whole file. Throws as CheckAnimationFrames does for bad input.
// frameCoded, when set, hears of every coded frame.
std::vector<std::uint8_t> EncodeAPNG(const TAnimationFrames& frames,
    const TAPNGOptions& options = {}, const TFrameCoded& frameCoded = {});

// Encodes, then writes the file atomically: a failure leaves an existing
// file as it was and no temporary file behind.
void SaveAPNGFile(
    const std::string& path, const TAnimationFrames& frames, const TAPNGOptions& options = {});

} // namespace zx
