#pragma once

// The frame renderer: turns the prepared texture into one frame of the waving
// flag. Every frame pixel is found by inverse mapping: its position is pushed
// towards or away from the pin point by a sine wave travelling across the frame
// (or outwards in rings), the texture is sampled there, and the texel is shaded
// through the lighting table by the slope of the wave plus a fixed bump pattern.
// Pixels that fall off the texture get the background colour or, in transparent
// mode, a grey checkerboard, and are marked in the frame's mask.
//
// All wave arithmetic is integer fixed point on the sine tables; only the ring
// distance and the ring shading of radial mode use floating point.

#include "core/flag/FlagParameters.h"
#include "core/flag/LightTable.h"
#include "core/imaging/XDIBUnit.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zx {

// The 40 frame slots and the working image a frame is rendered into.
struct TFrameStore {
    // The finished frames, 24 bits per pixel.
    std::array<TDIB, kFrameSlots> FrameBitmaps;
    // One byte per pixel: 255 = no texture here (a transparent candidate),
    // 0 = texture pixel.
    std::array<TDIB, kFrameSlots> FrameMasks;
    // Slot k holds a frame rendered with the current parameters.
    std::array<bool, kFrameSlots> FrameRendered {};
    // Frame k has at least one transparent pixel and transparent mode was on.
    std::array<bool, kFrameSlots> FrameTransparent {};
    TDIB WorkImage;

    // Marks every slot stale; the pixels stay until they are rendered again.
    void InvalidateAll() { FrameRendered.fill(false); }
};

// The pin point may lie off the frame (a saved setting need not come from a
// click), but no further than this many 1024ths of the frame size from its
// centre: 64 frame sizes, far beyond anything useful, and small enough that the
// geometry cannot overflow.
inline constexpr std::int32_t kRenderSpotLimit = 65536;

// The export may render its frames at a multiple of the flag window's frame
// size: K x K pixels of the scaled frame cover one pixel of the frame, with the
// same waves, pin point, bump pattern and lighting, only sharper.
inline constexpr std::array<std::int32_t, 5> kExportScales { 1, 2, 3, 4, 6 };
inline constexpr bool IsExportScale(std::int32_t scale)
{
    for (const std::int32_t k : kExportScales)
        if (k == scale)
            return true;
    return false;
}

// The largest frame the renderer writes, at any export scale. A frame size
// beyond the flag window's 320 x 200 is accepted up to this size by the
// scaled entry points.
inline constexpr std::int32_t kMaxRenderWidth = 1920;
inline constexpr std::int32_t kMaxRenderHeight = 1200;

// The per-frame quantities that do not depend on the pixel. Widths are 64-bit
// where a very large texture could push a 32-bit product past its range; for
// any texture up to tens of thousands of pixels they hold the same values a
// 32-bit computation gives.
struct TFrameGeometry {
    // Antialiasing shift D: 0, 1 (2x2 samples) or 2 (4x4 samples).
    std::int32_t D = 0;
    // The axis along which the texture fits the frame: texture and frame length.
    std::int32_t FitTex = 0;
    std::int32_t FitOut = 0;
    // 1024 + Amplitude + 10 x Distance.
    std::int32_t Zoom = 0;
    // Texture pixels per frame pixel in 1024ths.
    std::int64_t Scale = 0;
    // The pin point in frame pixels: the frame pixel that always shows the same
    // texel, the texture anchor.
    std::int64_t SpotPxX = 0;
    std::int64_t SpotPxY = 0;
    std::int64_t TexAnchorX = 0;
    std::int64_t TexAnchorY = 0;
    // Wave phase steps per frame pixel (4096 units per period).
    std::int32_t RadialStep = 0;
    std::int32_t StepX = 0;
    std::int32_t StepY = 0;
    // The wave's amplitude in the units of Scale.
    std::int64_t WaveAmp = 0;
    // The bump pattern: its strength and its phase steps per texel.
    std::int32_t BumpAmp = 0;
    std::int32_t B1 = 0;
    std::int32_t B2 = 0;
    std::int32_t B3 = 0;
    std::int32_t B4 = 0;
    // The ring centre in sample coordinates (half-way between the frame centre
    // and the pin point).
    std::int64_t Cx = 0;
    std::int64_t Cy = 0;
    // The export scale K: the rendered frame is K times the frame size, and a
    // sample coordinate counts 1 / (K x 2^D) of a frame pixel. Everything
    // above stays in the units of the unscaled frame, so the scaled frame
    // shows exactly the same flag.
    std::int32_t ExportScale = 1;
    // The size of the rendered frame: the frame size times ExportScale.
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    // The hoist (hoNone .. hoBottom), the width over which the wave grows
    // from nothing to full strength (% of the flag's extent across the
    // hoist), and whether the pole is drawn (never without a hoist).
    std::int32_t Hoist = hoNone;
    std::int32_t HoistWidth = 0;
    bool ShowPole = false;
};

// Throws EInvalidGraphicOperation when the inputs are outside what the renderer
// handles: an empty texture, a frame size outside 16..320 x 16..200, or a
// Distance, Amplitude, Antialiasing, bump setting, pin point, hoist or hoist
// width out of range.
//
// With a hoist, every sample is damped by where it lies in the flag at rest
// (every local scale equal to Scale): its rest texel, a function of its frame
// position alone. A sample whose rest texel is the hoist edge's column (or row)
// of texels, or lies beyond it, keeps Scale and flat light in every frame, so
// the edge lands on the same pixels with the same colours whatever the phase.
// Further in, the wave's amplitude and its light level are scaled by a
// smoothstep of the distance from that edge, reaching full strength at
// HoistWidth % of the flag's extent across the hoist; and a sample whose rest
// texel is on the flag never falls off it past the hoist edge (its texel is
// held at the edge), so the edge stays straight. The pole, when shown, lies
// just beyond the hoist edge in the flag at rest and is the same in every
// frame; it is drawn where the flag is not.
TFrameGeometry ComputeFrameGeometry(const FlagParameters& params, const TFlagDerived& derived,
    std::int32_t textureWidth, std::int32_t textureHeight);

// The same for a frame rendered at exportScale (one of kExportScales) times
// the frame size in derived, which may here be anything from 16 x 16 up to
// kMaxRenderWidth x kMaxRenderHeight as long as the rendered frame stays
// within that size too. With exportScale 1 and a frame of at most 320 x 200
// the result equals ComputeFrameGeometry's. Frames wider than 524 pixels
// along the fitting axis could give a Scale below 1 for a texture only a few
// pixels long; Scale is held at 1 there. Throws EInvalidGraphicOperation as
// ComputeFrameGeometry does, and for a scale or size beyond these limits.
TFrameGeometry ComputeScaledFrameGeometry(const FlagParameters& params, const TFlagDerived& derived,
    std::int32_t textureWidth, std::int32_t textureHeight, std::int32_t exportScale);

// What happens to one sample: its wave phase (before the low 12 bits are taken),
// local scale, texel position and, for a texel inside the texture, the bump sum
// and the light level (-16..16; the lighting table row is 16 - Light).
// Damping is the hoist's share of the wave at the sample (0..4096; 4096
// without a hoist). Pole says whether the pole lies at the sample: where the
// sample is off the flag (outside the texture, or on a texel below the alpha
// threshold) it shows PoleColor through the lighting table row 16 - PoleLight.
struct TSampleTrace {
    std::int32_t Phase = 0;
    std::int64_t LocalScale = 0;
    std::int64_t U = 0;
    std::int64_t V = 0;
    bool Inside = false;
    std::int32_t Bump = 0;
    std::int32_t Light = 0;
    std::int32_t Damping = 4096;
    bool Pole = false;
    std::uint8_t PoleColor[3] = { 0, 0, 0 };
    std::int32_t PoleLight = 0;
};

// Follows one sample at sample coordinates (X, Y) (the pixel coordinates when
// geometry.D is 0 and geometry.ExportScale 1; in general 1 / (ExportScale x
// 2^D) of a frame pixel) through the same arithmetic the renderer uses.
TSampleTrace TraceSample(const TFrameGeometry& geometry, bool radial, std::int32_t textureWidth,
    std::int32_t textureHeight, std::int32_t X, std::int32_t Y, std::uint16_t phi);

// The grey of the 8 x 8 checkerboard that stands for transparency: 128 or 192.
inline std::uint8_t CheckerGrey(std::int32_t x, std::int32_t y)
{
    return (((x >> 3) ^ (y >> 3)) & 1) == 0 ? 128 : 192;
}

// Receives the status text "正在渲染 帧 #" + (k + 1) before a frame is rendered.
using TRenderStatus = std::function<void(const std::string&)>;

// Renders frame k (0..39) with phase phi (only its low 12 bits matter) into slot
// k of the store: WorkImage and FrameMasks[k] become W x H at 24 and 8 bits,
// FrameBitmaps[k] an exact copy of WorkImage, and FrameTransparent[k] and
// FrameRendered[k] are set. texture must be a non-empty 24-bit picture. Throws
// EInvalidGraphicOperation for inputs outside the renderer's ranges (see
// ComputeFrameGeometry, and k >= 40); the store is untouched then.
void RenderFrame(TFrameStore& store, std::uint16_t k, std::uint16_t phi,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TLightTable& lightTable, const TRenderStatus& status = {});

// A texel whose alpha is below this is not part of the flag.
inline constexpr std::uint32_t kAlphaThreshold = 128;

// The same for a texture with an alpha plane (an 8-bit TDIB of the texture's
// size; empty for an opaque texture, which renders exactly as above). A texel
// whose alpha is below kAlphaThreshold counts as a sample off the texture:
// background colour or checkerboard, mask 255, FrameTransparent. Any other
// texel is on the flag; against a background colour it is blended over that
// colour by its alpha before it is lit, in transparent mode its colour is
// used as stored.
void RenderFrame(TFrameStore& store, std::uint16_t k, std::uint16_t phi,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TDIB& alpha, const TLightTable& lightTable, const TRenderStatus& status = {});

// RenderFrame at exportScale (one of kExportScales) times the frame size in
// derived, with the limits of ComputeScaledFrameGeometry: WorkImage,
// FrameBitmaps[k] and FrameMasks[k] become the scaled size. Each pixel is
// rendered by the rules of an unscaled one (the mean of its 1, 4 or 16
// samples; in transparent mode wholly transparent when one of them is off the
// flag); the checkerboard's squares are 8 x exportScale pixels, so that the
// frame is the unscaled one's picture at the finer grid. With exportScale 1
// and a frame of at most 320 x 200 this is exactly RenderFrame.
void RenderScaledFrame(TFrameStore& store, std::uint16_t k, std::uint16_t phi,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TDIB& alpha, const TLightTable& lightTable, std::int32_t exportScale,
    const TRenderStatus& status = {});

// One frame for RenderFrames: the slot and the phase to render it with.
struct TFrameJob {
    std::uint16_t Slot = 0;
    std::uint16_t Phase = 0;

    friend bool operator==(const TFrameJob&, const TFrameJob&) = default;
};

// The slots 0 .. frames - 1 that are not rendered, in order, each with the
// phase FramePhase(slot, frames): what an export renders before it builds its
// palette. frames is clamped to 0..40.
std::vector<TFrameJob> MissingFrameJobs(const TFrameStore& store, std::int32_t frames);

// Watches and steers RenderFrames. Both hooks run on the worker threads, but
// never two at a time (one lock serialises them), so they need no locking of
// their own as long as they touch nothing else the caller's thread uses.
struct TRenderHooks {
    // Asked before each frame is started; true stops the render there. Frames
    // already under way are finished.
    std::function<bool()> Cancel;
    // Told after each finished frame how many frames are finished so far
    // (1, 2, ... in that order).
    std::function<void(std::int32_t done)> Progress;
    // When set, the store keeps no masks: each frame's mask is rendered into
    // a plane of the worker's own and handed over here as soon as the frame
    // is done (on that worker, not under the lock, with the frame's
    // FrameTransparent value), and the slot's mask is left empty. A caller
    // that needs few of the masks so holds one plane per worker at a time.
    std::function<void(std::uint16_t slot, const TDIB& mask, bool transparent)> Mask;
    // Told on the worker, outside the lock, once the frame of slot is done
    // with its picture and FrameTransparent (after Mask, before Progress).
    std::function<void(std::uint16_t slot)> Done;
};

// Renders the jobs' frames side by side on up to workers threads (see
// ParallelFor; 0 = one per processor) at exportScale times the frame size,
// each exactly as RenderScaledFrame would: the frames, masks and the
// FrameTransparent and FrameRendered flags of the rendered slots come out the
// same for any number of threads. Each frame is rendered straight into its
// slot, so no working image is needed. Afterwards WorkImage holds the frame of
// the last job in the list that was rendered (the one a plain loop over those
// jobs would have left there), sharing its pixels with that slot until either
// is written; when no job was rendered it is left as it was. The status text
// is not given.
//
// Returns true when every job was rendered, false when Cancel stopped the
// render: then FrameRendered is set exactly for the jobs that were rendered,
// any subset of the list; the other listed slots are marked stale. A cancel
// token on the calling thread (core/Cancel.h) stops the render too, within a
// row of a frame: it ends with ECancelled, and the slots are as after a
// Cancel. Throws
// EInvalidGraphicOperation, before anything is rendered, for inputs outside
// the renderer's ranges and for a slot that occurs twice or is not below 40.
bool RenderFrames(TFrameStore& store, std::span<const TFrameJob> jobs, const FlagParameters& params,
    const TFlagDerived& derived, const TDIB& texture, const TDIB& alpha,
    const TLightTable& lightTable, std::int32_t exportScale, unsigned workers,
    const TRenderHooks& hooks = {});

} // namespace zx
