#pragma once

// The renderer's frame loops: every pixel of a frame from its 1, 4 or 16
// samples. One loop is compiled per combination of wave kind, alpha plane,
// export-scale kind, antialiasing level and hoist axis, so that the sample
// code carries no test that the frame decides once. The loops without a hoist
// are compiled in FlagRendererPixels.cpp, those with one in
// FlagRendererHoist.cpp. Internal to the renderer.

#include "core/Cancel.h"
#include "core/flag/FlagRendererKernel.h"
#include "core/flag/XSinusUnit.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zx::render_kernel {

// The colour a texel goes through the lighting table with, and whether it
// is on the flag (null when not). A texel that lets some background through
// is, against a background colour, blended over it first, as if the picture
// had been flattened onto that colour before it was loaded; in transparent
// mode its colour is used as stored, since the GIF has no partial
// transparency to give it.
template <bool kAlpha>
inline const std::uint8_t* FlagTexel(const TTexels& texels, const TRenderTarget& target,
    std::int64_t u, std::int64_t v, std::uint8_t* blended)
{
    const std::uint8_t* texel = texels.At(u, v);
    if constexpr (kAlpha) {
        const std::uint32_t a = texels.AlphaAt(u, v);
        if (a < kAlphaThreshold)
            return nullptr;
        if (a != 255 && !target.TransparentMode) {
            for (int c = 0; c < 3; ++c)
                blended[c] = static_cast<std::uint8_t>(
                    (texel[c] * a + target.Background[c] * (255 - a) + 127) / 255);
            return blended;
        }
    }
    return texel;
}

// The lighting table row of a directional sample, 16 - FixedCos(a, 16),
// and the slope FixedCos(a, 16) of a ring sample as magnitude and sign
// (-1 when negative, else 0), for every phase a.
struct TSlopeTables {
    std::uint8_t Row[kSinusTableSize];
    std::uint8_t Magnitude[kSinusTableSize];
    std::int8_t Sign[kSinusTableSize];

    TSlopeTables();
};
const TSlopeTables& SlopeTables();

// What the samples of one sub-row Y share.
struct TSubRow {
    // Y x StepY, the sub-row's part of the directional phase.
    std::int64_t RowTerm = 0;
    // Y minus the pin point's Y.
    std::int64_t Dy = 0;
    // Cy - Y, -1 where it is negative (else 0), and the ring distances of
    // the sub-row's samples.
    double RingDy = 0;
    std::int32_t RingSign = 0;
    // The ring phase of each sample (from RadialPhase).
    const std::int32_t* RingPhase = nullptr;
    const std::int32_t* Ratio30 = nullptr;
    // A top or bottom hoist's step for the sub-row; a left or right hoist's
    // position along the hoist.
    const THoistStep* Hoist = nullptr;
    std::int64_t Along = 0;
};

// The tables and pictures one frame's samples read. Copied into the frame
// loop as a local: the frame's bytes are written through uint8_t
// pointers, which may alias anything read through a reference, so without
// the copy every field would be loaded again after every store.
struct TFrameInputs {
    TSampler Sampler;
    TTexels Texels;
    TRenderTarget Target;
    const std::int64_t* LocalScales = nullptr;
    const TTexelEntry* Entries = nullptr;
    const TSlopeTables* Slopes = nullptr;
    const TLightTable* Light = nullptr;
    // The hoist's steps across it and positions along it (TShading).
    const THoistStep* HoistSteps = nullptr;
    const std::int64_t* Along = nullptr;
};

// What a sample off the flag shows: the pole where it lies there (its colour,
// with lightRow set), otherwise nothing (null).
template <THoistAxis kHoist>
inline const std::uint8_t* OffFlag(const TFrameInputs& in, const THoistStep* hoist,
    const TSubRow& row, std::int32_t X, const std::uint8_t*& lightRow)
{
    if constexpr (kHoist == THoistAxis::None) {
        return nullptr;
    } else {
        if (!in.Sampler.Pole)
            return nullptr;
        std::int32_t level = 0;
        const std::uint8_t* color = in.Sampler.PoleSample(
            *hoist, kHoist == THoistAxis::Columns ? row.Along : in.Along[X], level);
        if (color)
            lightRow = (*in.Light)[16 - level].data();
        return color;
    }
}

// One sample at (X, row): the texel bytes that go through the lighting
// table, with lightRow set to the table row of its light level; null when
// the sample is off the flag and not on the pole. blended holds the texel
// when it had to be blended over the background.
//
// kCoverage is the coverage frames' reading of a texture with alpha: every
// texel whose alpha is not 0 is on the flag, its colour as stored, and
// *coverage is set to its alpha (255 for an opaque texture and the pole).
template <bool kRadial, bool kAlpha, bool kThird, std::int32_t kShift, bool kEntries,
    THoistAxis kHoist, bool kCoverage = false>
inline const std::uint8_t* ShadeSample(const TFrameInputs& in, const TSubRow& row, std::int32_t X,
    std::uint8_t* blended, const std::uint8_t*& lightRow, std::uint32_t* coverage = nullptr)
{
    if constexpr (kCoverage)
        *coverage = 255;
    const TSampler& sampler = in.Sampler;
    std::int32_t phase;
    if constexpr (kRadial)
        phase = row.RingPhase[X];
    else
        phase = sampler.DirectionalPhase<kThird, kShift>(row.RowTerm, X);
    const THoistStep* hoist = nullptr;
    std::int64_t s;
    if constexpr (kHoist == THoistAxis::None) {
        s = in.LocalScales[Mask12(phase)];
    } else {
        hoist = kHoist == THoistAxis::Columns ? in.HoistSteps + X : row.Hoist;
        s = sampler.DampedScale(phase, hoist->Amp);
    }
    std::int64_t u = sampler.TexelOffset<kThird, kShift>(X - sampler.SpotX, s) + sampler.TexAnchorX;
    std::int64_t v = sampler.TexelOffset<kThird, kShift>(row.Dy, s) + sampler.TexAnchorY;
    if constexpr (kHoist == THoistAxis::Columns)
        u = std::clamp(u, hoist->Lo, hoist->Hi);
    else if constexpr (kHoist == THoistAxis::Rows)
        v = std::clamp(v, hoist->Lo, hoist->Hi);
    // One unsigned comparison per axis also catches the negative values.
    if (static_cast<std::uint64_t>(u) >= static_cast<std::uint64_t>(sampler.TexW)
        || static_cast<std::uint64_t>(v) >= static_cast<std::uint64_t>(sampler.TexH))
        return OffFlag<kHoist>(in, hoist, row, X, lightRow);
    const std::uint8_t* texel;
    std::int32_t bump;
    if constexpr (kEntries) {
        const TTexelEntry& entry = in.Entries[v * sampler.TexW + u];
        if constexpr (kAlpha && kCoverage) {
            if (entry.Alpha == 0)
                return OffFlag<kHoist>(in, hoist, row, X, lightRow);
            *coverage = entry.Alpha;
        } else if constexpr (kAlpha) {
            if (!entry.OnFlag)
                return OffFlag<kHoist>(in, hoist, row, X, lightRow);
        }
        texel = entry.Color;
        bump = entry.Bump;
    } else {
        if constexpr (kCoverage) {
            if constexpr (kAlpha) {
                const std::uint32_t a = in.Texels.AlphaAt(u, v);
                if (a == 0)
                    return OffFlag<kHoist>(in, hoist, row, X, lightRow);
                *coverage = a;
            }
            texel = in.Texels.At(u, v);
        } else {
            texel = FlagTexel<kAlpha>(in.Texels, in.Target, u, v, blended);
            if constexpr (kAlpha) {
                if (!texel)
                    return OffFlag<kHoist>(in, hoist, row, X, lightRow);
            }
        }
        bump = sampler.Bump(static_cast<std::int32_t>(u), static_cast<std::int32_t>(v));
    }
    const std::int32_t a = Mask12(AddWrap(phase, bump));
    if constexpr (kHoist == THoistAxis::None) {
        if constexpr (kRadial) {
            const std::int32_t level = sampler.RingLight(in.Slopes->Magnitude[a],
                in.Slopes->Sign[a], row.Ratio30[X], row.RingSign, row.RingDy, X);
            lightRow = (*in.Light)[16 - level].data();
        } else {
            lightRow = (*in.Light)[in.Slopes->Row[a]].data();
        }
    } else {
        std::int32_t level;
        if constexpr (kRadial)
            level = sampler.RingLight(in.Slopes->Magnitude[a], in.Slopes->Sign[a], row.Ratio30[X],
                row.RingSign, row.RingDy, X);
        else
            level = 16 - in.Slopes->Row[a];
        lightRow = (*in.Light)[16 - TSampler::DampedLight(level, hoist->Weight)].data();
    }
    return texel;
}

// How the samples divide a frame pixel: unscaled (2^D samples, the shift
// known when compiled), scaled by a power of two, or by 3 x a power of two.
enum class TGrid { Unscaled, PowerOfTwo, Third };

// The sub-rows of frame row y, 2^kD of them, with the ring distances and
// phases of their samples in the tables (radial mode; kN x the frame's
// sample width each, made by the constructor).
template <bool kRadial, TGrid kGrid, std::int32_t kD, THoistAxis kHoist> class TSubRows {
public:
    static constexpr bool kThird = kGrid == TGrid::Third;
    static constexpr std::int32_t kShift = kGrid == TGrid::Unscaled ? kD : -1;
    static constexpr std::int32_t kN = 1 << kD;

    explicit TSubRows(const TFrameInputs& in)
        : m_sampleWidth(in.Target.W * kN)
    {
        if constexpr (kRadial) {
            m_ringPhases.resize(static_cast<std::size_t>(m_sampleWidth) * kN);
            m_ratios.resize(m_ringPhases.size());
        }
    }

    // Fills Rows for frame row y.
    void Prepare(const TFrameInputs& in, std::int32_t y)
    {
        for (std::int32_t j = 0; j < kN; ++j) {
            const std::int32_t Y = y * kN + j;
            TSubRow& row = Rows[j];
            row.RowTerm = in.Sampler.RowTerm<kThird>(Y);
            row.Dy = Y - in.Sampler.SpotY;
            if constexpr (kHoist == THoistAxis::Columns)
                row.Along = in.Along[Y];
            else if constexpr (kHoist == THoistAxis::Rows)
                row.Hoist = in.HoistSteps + Y;
            if constexpr (kRadial) {
                const std::size_t at = static_cast<std::size_t>(j) * m_sampleWidth;
                // Trunc(r) first, then turned into the phase in a loop of
                // its own, so that it is done in vectors.
                std::int32_t* ringPhase = m_ringPhases.data() + at;
                RingDistances(in.Sampler, Y, 0, m_sampleWidth, ringPhase, m_ratios.data() + at);
                for (std::int32_t i = 0; i < m_sampleWidth; ++i)
                    ringPhase[i] = in.Sampler.RadialPhase<kThird, kShift>(ringPhase[i]);
                row.RingDy = in.Sampler.Cy - Y;
                row.RingSign = row.RingDy < 0 ? -1 : 0;
                row.RingPhase = m_ringPhases.data() + at;
                row.Ratio30 = m_ratios.data() + at;
            }
        }
    }

    TSubRow Rows[kN];

private:
    std::int32_t m_sampleWidth;
    std::vector<std::int32_t> m_ringPhases, m_ratios;
};

template <bool kRadial, bool kAlpha, TGrid kGrid, bool kEntries, std::int32_t kD, THoistAxis kHoist>
bool RenderRows(const TFrameInputs& inputs)
{
    constexpr bool kThird = kGrid == TGrid::Third;
    constexpr std::int32_t kShift = kGrid == TGrid::Unscaled ? kD : -1;
    const TFrameInputs in = inputs;
    const TRenderTarget& target = in.Target;
    constexpr std::int32_t kN = 1 << kD;
    TSubRows<kRadial, kGrid, kD, kHoist> subRows(in);
    const TSubRow* rows = subRows.Rows;
    // The checkerboard's squares are 8 pixels of the unscaled frame.
    std::vector<std::uint8_t> columnGrey(static_cast<std::size_t>(target.W));
    for (std::int32_t x = 0; x < target.W; ++x)
        columnGrey[static_cast<std::size_t>(x)]
            = static_cast<std::uint8_t>(((x / target.ExportScale) >> 3) & 1);

    bool anyOutside = false;
    std::uint8_t blended[3];
    for (std::int32_t y = 0; y < target.H; ++y) {
        // A large frame takes long enough that a cancel must not wait for
        // its end.
        ThrowIfCancelled();
        subRows.Prepare(in, y);
        std::uint8_t* out = target.Out + y * target.OutStride;
        std::uint8_t* mask = target.Mask + y * target.MaskStride;
        const std::uint8_t rowParity = ((y / target.ExportScale) >> 3) & 1;
        for (std::int32_t x = 0; x < target.W; ++x, out += 3, ++mask) {
            const std::uint8_t* lightRow = nullptr;
            if constexpr (kD == 0) {
                const std::uint8_t* texel
                    = ShadeSample<kRadial, kAlpha, kThird, kShift, kEntries, kHoist>(
                        in, rows[0], x, blended, lightRow);
                if (texel) {
                    out[0] = lightRow[texel[0]];
                    out[1] = lightRow[texel[1]];
                    out[2] = lightRow[texel[2]];
                    *mask = 0;
                    continue;
                }
                anyOutside = true;
                *mask = 255;
                if (target.TransparentMode) {
                    out[0] = out[1] = out[2]
                        = (rowParity ^ columnGrey[static_cast<std::size_t>(x)]) == 0 ? 128 : 192;
                } else {
                    out[0] = target.Background[0];
                    out[1] = target.Background[1];
                    out[2] = target.Background[2];
                }
            } else {
                std::uint32_t sum0 = 0, sum1 = 0, sum2 = 0;
                bool hit = false;
                for (std::int32_t j = 0; j < kN && !hit; ++j) {
                    for (std::int32_t i = 0; i < kN; ++i) {
                        const std::uint8_t* texel
                            = ShadeSample<kRadial, kAlpha, kThird, kShift, kEntries, kHoist>(
                                in, rows[j], x * kN + i, blended, lightRow);
                        if (texel) {
                            sum0 += lightRow[texel[0]];
                            sum1 += lightRow[texel[1]];
                            sum2 += lightRow[texel[2]];
                        } else if (target.TransparentMode) {
                            // One sample off the flag makes the whole pixel
                            // transparent, so the others cannot change it.
                            hit = true;
                            break;
                        } else {
                            sum0 += target.Background[0];
                            sum1 += target.Background[1];
                            sum2 += target.Background[2];
                        }
                    }
                }
                if (!hit) {
                    out[0] = static_cast<std::uint8_t>(sum0 >> (2 * kD));
                    out[1] = static_cast<std::uint8_t>(sum1 >> (2 * kD));
                    out[2] = static_cast<std::uint8_t>(sum2 >> (2 * kD));
                    *mask = 0;
                } else {
                    anyOutside = true;
                    out[0] = out[1] = out[2]
                        = (rowParity ^ columnGrey[static_cast<std::size_t>(x)]) == 0 ? 128 : 192;
                    *mask = 255;
                }
            }
        }
    }
    return anyOutside;
}

// The frame loop RenderRows, as the dispatch below takes a loop.
template <bool kRadial, bool kAlpha, TGrid kGrid, bool kEntries, std::int32_t kD, THoistAxis kHoist>
struct TFrameRows {
    static bool Run(const TFrameInputs& in)
    {
        return RenderRows<kRadial, kAlpha, kGrid, kEntries, kD, kHoist>(in);
    }
};

// One loop per combination; the template arguments are chosen here, once
// per frame, from what the frame decides at run time. kLoop is the loop's
// class template (TFrameRows, or the coverage frames' loop).
template <template <bool, bool, TGrid, bool, std::int32_t, THoistAxis> class kLoop, bool kRadial,
    bool kAlpha, TGrid kGrid, bool kEntries, THoistAxis kHoist>
bool RenderLevel(std::int32_t d, const TFrameInputs& in)
{
    switch (d) {
    case 1:
        return kLoop<kRadial, kAlpha, kGrid, kEntries, 1, kHoist>::Run(in);
    case 2:
        return kLoop<kRadial, kAlpha, kGrid, kEntries, 2, kHoist>::Run(in);
    default:
        return kLoop<kRadial, kAlpha, kGrid, kEntries, 0, kHoist>::Run(in);
    }
}

template <template <bool, bool, TGrid, bool, std::int32_t, THoistAxis> class kLoop, bool kRadial,
    bool kAlpha, TGrid kGrid, THoistAxis kHoist>
bool RenderEntryKind(std::int32_t d, const TFrameInputs& in)
{
    return in.Entries ? RenderLevel<kLoop, kRadial, kAlpha, kGrid, true, kHoist>(d, in)
                      : RenderLevel<kLoop, kRadial, kAlpha, kGrid, false, kHoist>(d, in);
}

template <template <bool, bool, TGrid, bool, std::int32_t, THoistAxis> class kLoop, bool kRadial,
    bool kAlpha, THoistAxis kHoist>
bool RenderGridKind(std::int32_t d, std::int32_t exportScale, const TFrameInputs& in)
{
    if (exportScale == 1)
        return RenderEntryKind<kLoop, kRadial, kAlpha, TGrid::Unscaled, kHoist>(d, in);
    return in.Sampler.Third
        ? RenderEntryKind<kLoop, kRadial, kAlpha, TGrid::Third, kHoist>(d, in)
        : RenderEntryKind<kLoop, kRadial, kAlpha, TGrid::PowerOfTwo, kHoist>(d, in);
}

// A texture without alpha takes the code without the alpha test at all.
template <template <bool, bool, TGrid, bool, std::int32_t, THoistAxis> class kLoop, bool kRadial,
    THoistAxis kHoist>
bool RenderAlphaKind(std::int32_t d, std::int32_t exportScale, const TFrameInputs& in)
{
    return in.Texels.AlphaTop ? RenderGridKind<kLoop, kRadial, true, kHoist>(d, exportScale, in)
                              : RenderGridKind<kLoop, kRadial, false, kHoist>(d, exportScale, in);
}

template <template <bool, bool, TGrid, bool, std::int32_t, THoistAxis> class kLoop,
    THoistAxis kHoist>
bool RenderWaveKind(bool radial, std::int32_t d, std::int32_t exportScale, const TFrameInputs& in)
{
    return radial ? RenderAlphaKind<kLoop, true, kHoist>(d, exportScale, in)
                  : RenderAlphaKind<kLoop, false, kHoist>(d, exportScale, in);
}

// The loops of a frame with a hoist (FlagRendererHoist.cpp).
bool RenderHoistPixels(
    bool radial, std::int32_t d, std::int32_t exportScale, const TFrameInputs& in);

} // namespace zx::render_kernel
