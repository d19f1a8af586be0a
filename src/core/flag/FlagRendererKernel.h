#pragma once

// The renderer's per-sample arithmetic, shared by the frame loops and by
// TraceSample so that both follow the same steps. Internal to the renderer.
//
// A sample coordinate counts 1 / M of a frame pixel, M = ExportScale x 2^D
// samples per frame pixel along each axis. M is a power of two (the shift
// below) times 3 for the export scales 3 and 6 (Third). The wave phase and
// the texel position are the unscaled frame's formulas with their shift by D
// replaced by a floor division by M, so the unscaled frame (M = 2^D) keeps its
// exact arithmetic, wrapping products included, and a scaled frame samples
// the same flag at a finer grid.

#include "core/IntMath.h"
#include "core/flag/FlagRenderer.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zx::render_kernel {

// Floor division by 3 (the division truncates; negative values step down).
constexpr std::int64_t FloorDiv3(std::int64_t n)
{
    const std::int64_t q = n / 3;
    return n - q * 3 < 0 ? q - 1 : q;
}

// How a hoist divides the frame: not at all, by sample columns (a left or
// right hoist: the damping depends on X alone) or by sample rows (top and
// bottom: on Y alone).
enum class THoistAxis { None, Columns, Rows };

// What the hoist makes of the samples at one position across it (one sample
// column of a left or right hoist, one sub-row of a top or bottom hoist).
// Positions are in rest units (see TSampler).
struct THoistStep {
    // WaveAmp x Weight: the wave's amplitude there, in 4096ths.
    std::int64_t Amp = 0;
    // The share of the wave's displacement and light level, 0..4096.
    std::int32_t Weight = 0;
    // The light level across the pole's shaft there, or kOffShaft.
    std::int32_t ShaftLevel = 0;
    // The position across the hoist, counted into the flag from its hoist
    // edge: negative exactly where the rest texel lies beyond that edge.
    std::int64_t Across = 0;
    // The texel across the hoist is held within Lo..Hi: a sample whose rest
    // texel is on the flag never falls off it past the hoist edge.
    std::int64_t Lo = 0;
    std::int64_t Hi = 0;
};
inline constexpr std::int32_t kOffShaft = 127;

// Everything one sample needs, gathered once per frame so that the loops
// touch only locals and tables.
struct TSampler {
    const std::int32_t* Sin = nullptr;
    const std::int32_t* Cos = nullptr;
    std::int32_t Phi = 0;
    std::int64_t TexW = 0;
    std::int64_t TexH = 0;
    // The pin point in sample coordinates.
    std::int64_t SpotX = 0;
    std::int64_t SpotY = 0;
    std::int64_t TexAnchorX = 0;
    std::int64_t TexAnchorY = 0;
    std::int64_t Scale = 0;
    std::int64_t WaveAmp = 0;
    std::int32_t RadialStep = 0;
    std::int32_t StepX = 0;
    std::int32_t StepY = 0;
    std::int32_t BumpAmp = 0;
    std::int32_t B1 = 0, B2 = 0, B3 = 0, B4 = 0;
    // The ring centre in sample coordinates.
    double Cx = 0;
    double Cy = 0;
    // M = 2^Shift, or 3 x 2^Shift when Third.
    std::int32_t Shift = 0;
    bool Third = false;

    // The hoist. Its positions are those of the flag at rest (every local
    // scale equal to Scale), in rest units, Unit = 1024 x M of them per
    // texel: sample coordinate c lands at (c - spot) x Scale + anchor x Unit,
    // and its rest texel is that divided by Unit, rounded down. A position
    // is the same number of units at every export scale once divided by M,
    // so the scaled frames damp the same flag.
    THoistAxis HoistAxis = THoistAxis::None;
    // A right or bottom hoist counts its positions from the far edge.
    bool HoistMirrored = false;
    std::int32_t HoistWidth = 0;
    std::int64_t Unit = 1024;
    // The flag's texels across and along the hoist.
    std::int64_t HoistAcross = 0;
    std::int64_t HoistAlong = 0;
    // The pole, and its diameter in rest units.
    bool Pole = false;
    std::int64_t PoleDiameter = 0;

    TSampler(const TFrameGeometry& g, std::int32_t texW, std::int32_t texH, std::uint16_t phi);

    // The functions below take the grid as template arguments: kThird for
    // the factor 3, and kShift, the power of two, when the frame loop knows it
    // (it does for unscaled frames, where it is D); -1 reads Shift.
    template <int kShift> std::int32_t GridShift() const { return kShift >= 0 ? kShift : Shift; }

    // floor(n / M) for the phase of a sample. Without the factor 3 this is a
    // shift, which needs only the low bits of n and so lets the products
    // before it wrap; the factor 3 needs the whole value, which the callers
    // compute in 64 bits.
    template <bool kThird, int kShift = -1> std::int32_t PhaseDown(std::int64_t n) const
    {
        if constexpr (kThird)
            return static_cast<std::int32_t>(FloorDiv3(n >> GridShift<kShift>()));
        else
            return Sar(static_cast<std::int32_t>(n), GridShift<kShift>());
    }

    // The directional phase from its numerator X x StepX - Y x StepY, whose
    // sub-row part Y x StepY (RowTerm) is computed once per sub-row. The
    // unscaled frame wraps in 32 bits; scaled ones are exact.
    template <bool kThird> std::int64_t RowTerm(std::int32_t Y) const
    {
        if constexpr (kThird)
            return std::int64_t(Y) * StepY;
        else
            return MulWrap(Y, StepY);
    }
    template <bool kThird, int kShift = -1>
    std::int32_t DirectionalPhase(std::int64_t rowTerm, std::int32_t X) const
    {
        if constexpr (kThird)
            return static_cast<std::int32_t>(
                PhaseDown<true, kShift>(std::int64_t(X) * StepX - rowTerm) - std::int64_t(Phi));
        else
            return SubWrap(PhaseDown<false, kShift>(
                               SubWrap(MulWrap(X, StepX), static_cast<std::int32_t>(rowTerm))),
                Phi);
    }

    // The ring phase for a sample Trunc(r) sample units from the ring centre.
    template <bool kThird, int kShift = -1> std::int32_t RadialPhase(std::int32_t truncatedR) const
    {
        if constexpr (kThird)
            return static_cast<std::int32_t>(
                PhaseDown<true, kShift>(std::int64_t(truncatedR) * RadialStep) - std::int64_t(Phi));
        else
            return SubWrap(PhaseDown<false, kShift>(MulWrap(truncatedR, RadialStep)), Phi);
    }

    // Near a crest fewer texels are taken per pixel, so that part of the flag
    // looks nearer. The sine term is FixedSin(phase, WaveAmp); it is computed
    // in 64 bits because WaveAmp grows with the texture, and gives the 32-bit
    // result whenever that does not wrap.
    std::int64_t LocalScale(std::int32_t phase) const
    {
        return Scale - ((std::int64_t(Sin[Mask12(phase)]) * WaveAmp) >> 12);
    }

    // floor(offset x localScale / (1024 x M)): texels from the anchor texel for
    // a sample offset (in sample units) from the pin point.
    template <bool kThird, int kShift = -1>
    std::int64_t TexelOffset(std::int64_t offset, std::int64_t s) const
    {
        const std::int64_t shifted = (offset * s) >> (10 + GridShift<kShift>());
        if constexpr (kThird)
            return FloorDiv3(shifted);
        else
            return shifted;
    }

    // The bump pattern is fixed to the texture: it disturbs the shading but
    // does not travel with the wave.
    std::int32_t Bump(std::int32_t u, std::int32_t v) const
    {
        return FSin(AddWrap(MulWrap(u, B1), MulWrap(v, B2)), BumpAmp)
            + FSin(AddWrap(MulWrap(u, B4), MulWrap(v, B3)), BumpAmp)
            + FCos(AddWrap(MulWrap(u, B3), MulWrap(v, B2)), BumpAmp)
            + FCos(AddWrap(MulWrap(u, B1), MulWrap(v, B4)), BumpAmp);
    }

    // The light level of a directional wave, FixedCos(phase + bump, 16); in
    // radial mode the slope that RadialLight weights.
    std::int32_t Slope(std::int32_t phase, std::int32_t bump) const
    {
        return FCos(AddWrap(phase, bump), 16);
    }

    // Only the vertical component of the ring's slope lights it, so the rings
    // are lit from above and below their centre; |light| <= 15. rowDy is
    // Cy - Y, denominator 0.001 + r.
    static std::int32_t RadialLight(std::int32_t slope, double rowDy, double denominator)
    {
        return static_cast<std::int32_t>(Trunc(slope * rowDy / denominator));
    }

    // The ring light without RadialLight's division, for the slope as its
    // magnitude and sign (-1 when negative, else 0). ratio30 is 2^30 x
    // |rowDy| / (0.001 + r), worked out once per sample position in single
    // precision and truncated (RingDistances), so within 2^-21 of that value,
    // at most 512 units; rowSign is -1 where rowDy < 0, else 0. Then
    // |slope| x ratio30 lies within 16 x 512 + 16 units of 2^30 x |slope x
    // rowDy / (0.001 + r)|, the exact quotient, and RadialLight's rounded
    // quotient lies far closer to it; so whenever the product's low 30 bits
    // are at least 16384 from a multiple of 2^30 both truncate to the same
    // magnitude, and the sign is that of slope x rowDy. Nearer a multiple
    // RadialLight decides, with r computed again from X exactly as before; a
    // slope of 0 gives 0 (its quotient is a signed zero).
    std::int32_t RingLight(std::uint32_t slopeMagnitude, std::int32_t slopeSign,
        std::int32_t ratio30, std::int32_t rowSign, double rowDy, std::int32_t X) const
    {
        const std::uint64_t product
            = std::uint64_t(slopeMagnitude) * static_cast<std::uint32_t>(ratio30);
        const std::uint32_t low = static_cast<std::uint32_t>(product) & 0x3FFFFFFFu;
        if (low - 16384u > 0x3FFFFFFFu - 32768u) [[unlikely]] {
            if (slopeMagnitude == 0)
                return 0;
            const double dx = Cx - X;
            const auto magnitude = static_cast<std::int32_t>(slopeMagnitude);
            const std::int32_t slope = slopeSign < 0 ? -magnitude : magnitude;
            return RadialLight(slope, rowDy, 0.001 + std::sqrt(dx * dx + rowDy * rowDy));
        }
        const std::int32_t sign = slopeSign ^ rowSign;
        const auto level = static_cast<std::int32_t>(product >> 30);
        return (level ^ sign) - sign;
    }

    // The rest position of sample coordinate c along X (columns) or Y.
    std::int64_t RestAt(bool columns, std::int32_t c) const
    {
        return columns ? (c - SpotX) * Scale + TexAnchorX * Unit
                       : (c - SpotY) * Scale + TexAnchorY * Unit;
    }
    // The hoist's effect on the samples at coordinate c across it.
    THoistStep HoistStepAt(std::int32_t c) const;
    // The position along the hoist of sample coordinate c on the other axis.
    std::int64_t AlongAt(std::int32_t c) const { return RestAt(HoistAxis == THoistAxis::Rows, c); }
    // The share of the wave (0..4096) d rest units further into the flag than
    // the far side of the hoist edge's texels: a smoothstep up to HoistWidth
    // % of the flag's extent across the hoist, monotonic, 0 for d <= 0.
    std::int32_t HoistWeight(std::int64_t d) const;

    // The local scale with the wave's amplitude damped to amp (WaveAmp x
    // weight); with the full weight exactly LocalScale.
    std::int64_t DampedScale(std::int32_t phase, std::int64_t amp) const
    {
        return Scale - ((std::int64_t(Sin[Mask12(phase)]) * amp) >> 24);
    }
    // A light level scaled by the hoist's weight, cut towards zero.
    static std::int32_t DampedLight(std::int32_t level, std::int32_t weight)
    {
        return level * weight / 4096;
    }
    // The pole at a sample with the hoist step of its position across the
    // hoist and the position along it: the pole's unlit colour with level
    // set to its light level, or null where the pole is not.
    const std::uint8_t* PoleSample(
        const THoistStep& step, std::int64_t along, std::int32_t& level) const;

    // FixedSin and FixedCos on the cached table pointers.
    std::int32_t FSin(std::int32_t a, std::int32_t b) const
    {
        return Sar(MulWrap(Sin[Mask12(a)], b), 12);
    }
    std::int32_t FCos(std::int32_t a, std::int32_t b) const
    {
        return Sar(MulWrap(Cos[Mask12(a)], b), 12);
    }
};

// For a sub-row of samples at Y, the distance r from the ring centre of the
// samples X = firstX .. firstX + count - 1: Trunc(r) computed exactly as from
// sqrt((Cx - X)^2 + (Cy - Y)^2) in double precision, and the ratio30 of
// RingLight.
void RingDistances(const TSampler& sampler, std::int32_t Y, std::int32_t firstX, std::int32_t count,
    std::int32_t* truncated, std::int32_t* ratio30);

// Where the texture's rows are: row v starts at Top + v x Stride. The rows of
// a TDIB are evenly spaced (BMP layout), so two scan-line look-ups replace a
// table of row pointers, which for a tall texture would cost more memory than
// its pixels.
struct TTexels {
    const std::uint8_t* Top = nullptr;
    std::ptrdiff_t Stride = 0;
    // The alpha plane's rows, when the texture has one.
    const std::uint8_t* AlphaTop = nullptr;
    std::ptrdiff_t AlphaStride = 0;

    const std::uint8_t* At(std::int64_t u, std::int64_t v) const
    {
        return Top + static_cast<std::ptrdiff_t>(v) * Stride + static_cast<std::ptrdiff_t>(u) * 3;
    }
    std::uint8_t AlphaAt(std::int64_t u, std::int64_t v) const
    {
        return AlphaTop[static_cast<std::ptrdiff_t>(v) * AlphaStride
            + static_cast<std::ptrdiff_t>(u)];
    }
};

// The frame and mask a frame is rendered into, as raw rows (taken once, on
// the thread that owns the pictures, so that a worker never touches a TDIB).
struct TRenderTarget {
    std::uint8_t* Out = nullptr;
    std::ptrdiff_t OutStride = 0;
    std::uint8_t* Mask = nullptr;
    std::ptrdiff_t MaskStride = 0;
    // The rendered frame's size and its export scale.
    std::int32_t W = 0;
    std::int32_t H = 0;
    std::int32_t ExportScale = 1;
    bool TransparentMode = false;
    std::uint8_t Background[3] = { 0, 0, 0 };
};

// Throws EInvalidGraphicOperation unless texture is a non-empty 24-bit
// picture and alpha empty or an 8-bit plane of its size.
void RequireTexture(const TDIB& texture, const TDIB& alpha);

// The texture and its alpha plane as raw rows.
TTexels TexelsOf(const TDIB& texture, const TDIB& alpha);

// Shapes frame (24 bits) and mask (8 bits) to the geometry's rendered size,
// keeping their storage when they have that shape already, and takes their
// rows for writing.
TRenderTarget TargetOf(
    TDIB& frame, TDIB& mask, const TFrameGeometry& geometry, const FlagParameters& params);
// The same for the frame alone; the mask's rows are still to be given.
TRenderTarget TargetOf(TDIB& frame, const TFrameGeometry& geometry, const FlagParameters& params);
// Shapes mask to the target's size and gives its rows to the target.
void AttachMask(TRenderTarget& target, TDIB& mask);

// One texel as the samples that fall on it use it: its colour as it goes
// through the lighting table (blended over the background where the alpha
// plane asks for it), whether it is on the flag, its bump term, and its
// alpha as stored (255 without an alpha plane) for the coverage frames.
// (No member initialisers: the table is allocated without being cleared, as
// every entry is written once.)
struct TTexelEntry {
    std::uint8_t Color[3];
    std::uint8_t OnFlag;
    std::int16_t Bump;
    std::uint8_t Alpha;
    std::uint8_t Unused;
};

// What the frames of one geometry share beyond the sampler, whatever their
// phase: the local scale for every phase, and the entry of every texel when
// the texture has no more texels than a frame has samples (a larger texture
// shows each texel in at most a few samples, so there the entry is worked out
// per sample instead).
struct TShading {
    std::vector<std::int64_t> LocalScales;
    // Null when the entries are worked out per sample.
    std::unique_ptr<TTexelEntry[]> Entries;
    // With a hoist: its step at every sample coordinate across it, and the
    // position along it of every sample coordinate on the other axis.
    std::vector<THoistStep> HoistSteps;
    std::vector<std::int64_t> Along;
};
TShading PrepareShading(const TFrameGeometry& geometry, const TSampler& sampler,
    const TTexels& texels, const TRenderTarget& target);

// The hoist's tables of a frame target (nothing without a hoist).
void PrepareHoist(
    const TSampler& sampler, const TRenderTarget& target, std::int32_t d, TShading& shading);

// Renders every pixel of the target; returns whether any pixel is off the
// flag (AnyOutside).
bool RenderPixels(const TFrameGeometry& geometry, bool radial, const TSampler& sampler,
    const TShading& shading, const TTexels& texels, const TLightTable& light,
    const TRenderTarget& target);

} // namespace zx::render_kernel
