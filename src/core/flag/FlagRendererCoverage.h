#pragma once

// The frames with coverage alpha, for the formats that keep partial
// transparency (WebP and APNG; the GIF takes the frames of RenderFrame).
//
// The samples are those of the ordinary frame: the same positions, wave,
// hoist, pole and lighting. In transparent mode a pixel's alpha is the share
// of its 1, 4 or 16 samples that land on the flag, where a sample on a texel
// of a picture with alpha counts by that texel's alpha (0 is off the flag)
// and the pole counts as opaque; a partly clear texel over the pole is laid
// over it. The colour is the average of the samples on the flag only,
// weighted by what each counts, and straight (not premultiplied); a pixel
// the flag does not touch is black with alpha 0. So the edges carry no
// fringe of the checkerboard, and a picture's own soft edges survive.
//
// A pixel wholly on opaque texels (or the pole) has alpha 255 and exactly
// the colour of the ordinary transparent-mode frame: both take the rounded
// down mean of the same lit samples. With a background colour the frame is
// the ordinary one, opaque everywhere.

#include "core/flag/FlagRenderer.h"

#include <cstdint>
#include <span>
#include <vector>

namespace zx {

// Renders the frame of phase phi at exportScale (one of kExportScales) times
// the frame size in derived into colour (24-bit) and alpha (8-bit, 255 =
// opaque), shaping both to the rendered size. Throws as RenderScaledFrame
// does for inputs outside the renderer's ranges.
void RenderCoverageFrame(TDIB& colour, TDIB& alpha, std::uint16_t phi, const FlagParameters& params,
    const TFlagDerived& derived, const TDIB& texture, const TDIB& textureAlpha,
    const TLightTable& lightTable, std::int32_t exportScale);

struct TCoverageFrames {
    std::vector<TDIB> Colours;
    std::vector<TDIB> Alpha;
};

// The frames of the phases, in their order, each exactly as
// RenderCoverageFrame renders it, side by side on up to workers threads (see
// ParallelFor; 0 = one per processor). A cancel token on the calling thread
// stops it within a row of a frame with ECancelled.
TCoverageFrames RenderCoverageFrames(std::span<const std::uint16_t> phases,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TDIB& textureAlpha, const TLightTable& lightTable, std::int32_t exportScale,
    unsigned workers);

} // namespace zx
