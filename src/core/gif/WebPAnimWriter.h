#pragma once

// The animated WebP writer: the rendered frames, lossy (with lossless alpha)
// or lossless, in libwebp's container.
//
// Every frame is coded whole, on its own, by libwebp's encoder, and the
// frames are put together by libwebp's muxer: each covers the canvas, lasts
// delay x 10 ms, replaces what was there (no blending) and is left in place
// (dispose "none"). Coding every frame whole is what libwebp's own animation
// encoder ends up choosing for a waving flag, where every pixel of the flag
// changes from one frame to the next (its smaller-output search picks key
// frames, and its partial frames came out larger); done here, the frames are
// coded once each and side by side instead of twice and one after another.
//
// A single frame makes a still WebP picture, as libwebp's muxer (and its
// animation encoder) writes it: there is nothing to time or repeat.

#include "core/flag/FlagParameters.h"
#include "core/gif/AnimationFrames.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zx {

// The lossy quality, as libwebp counts it.
inline constexpr TFlagRange kWebPQualityRange { 0, 100, 90 };

// libwebp's largest frame width and height.
inline constexpr std::int32_t kWebPMaxSide = 16383;

struct TWebPOptions {
    // Lossless frames decode to exactly the rendered pixels, the colour under
    // a fully transparent pixel included. Lossy frames keep their alpha
    // losslessly.
    bool Lossless = false;
    // Lossy quality (0..100); not used for lossless frames.
    std::int32_t Quality = kWebPQualityRange.Default;
};

// The whole file. Throws as CheckAnimationFrames does for bad input and
// EInvalidGraphicOperation for a quality out of range; EInvalidGraphic or
// EOutOfResources when libwebp fails.
// frameCoded, when set, hears of every coded frame.
std::vector<std::uint8_t> EncodeWebPAnimation(const TAnimationFrames& frames,
    const TWebPOptions& options = {}, const TFrameCoded& frameCoded = {});

// Encodes, then writes the file atomically: a failure leaves an existing
// file as it was and no temporary file behind.
void SaveWebPAnimationFile(
    const std::string& path, const TAnimationFrames& frames, const TWebPOptions& options = {});

} // namespace zx
