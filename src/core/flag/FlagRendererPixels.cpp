// The renderer's frame loops: every pixel of a frame from its 1, 4 or 16
// samples. One loop is compiled per combination of wave kind, alpha plane,
// export-scale kind and antialiasing level, so that the sample code carries
// no test that the frame decides once.

#include "core/flag/FlagRendererKernel.h"
#include "core/flag/XSinusUnit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zx::render_kernel {

TSampler::TSampler(const TFrameGeometry& g, std::int32_t texW, std::int32_t texH, std::uint16_t phi)
    : Sin(SinTable().data())
    , Cos(CosTable().data())
    , Phi(phi)
    , TexW(texW)
    , TexH(texH)
    , TexAnchorX(g.TexAnchorX)
    , TexAnchorY(g.TexAnchorY)
    , Scale(g.Scale)
    , WaveAmp(g.WaveAmp)
    , RadialStep(g.RadialStep)
    , StepX(g.StepX)
    , StepY(g.StepY)
    , BumpAmp(g.BumpAmp)
    , B1(g.B1)
    , B2(g.B2)
    , B3(g.B3)
    , B4(g.B4)
    , Cx(static_cast<double>(g.Cx))
    , Cy(static_cast<double>(g.Cy))
{
    // The export scales are 2^a or 3 x 2^a.
    std::int32_t k = g.ExportScale;
    Third = k % 3 == 0;
    if (Third)
        k /= 3;
    Shift = g.D;
    for (; k > 1; k /= 2)
        ++Shift;
    const std::int64_t m = (std::int64_t(1) << Shift) * (Third ? 3 : 1);
    SpotX = g.SpotPxX * m;
    SpotY = g.SpotPxY * m;
}

namespace {

    // RingDistances on samples that are all computed, four at a time where
    // the processor has vectors. The square roots, divisions, sums, products
    // and conversions are the IEEE operations of the scalar code, so the
    // results are the same bit for bit.
    void RingDistancesDirect(double cx, double dy, std::int32_t firstX, std::int32_t count,
        std::int32_t* truncated, std::int32_t* ratio30)
    {
        const double dy2 = dy * dy;
        // 2^30 x |dy| is exact in single precision for any |dy| below 2^24.
        const auto scaledDy = static_cast<float>(std::fabs(dy) * 1073741824.0);
        std::int32_t i = 0;
#if defined(__SSE2__)
        const __m128d vcx = _mm_set1_pd(cx);
        const __m128d vdy2 = _mm_set1_pd(dy2);
        const __m128d epsilon = _mm_set1_pd(0.001);
        const __m128d two = _mm_set1_pd(2.0);
        const __m128 numerator = _mm_set1_ps(scaledDy);
        __m128d xs = _mm_set_pd(firstX + 1.0, firstX);
        for (; i + 4 <= count; i += 4) {
            const __m128d dx0 = _mm_sub_pd(vcx, xs);
            xs = _mm_add_pd(xs, two);
            const __m128d dx1 = _mm_sub_pd(vcx, xs);
            xs = _mm_add_pd(xs, two);
            const __m128d r0 = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx0, dx0), vdy2));
            const __m128d r1 = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx1, dx1), vdy2));
            // Truncation towards zero, as Trunc; r is far below 2^31.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(truncated + i),
                _mm_unpacklo_epi64(_mm_cvttpd_epi32(r0), _mm_cvttpd_epi32(r1)));
            const __m128 den = _mm_movelh_ps(
                _mm_cvtpd_ps(_mm_add_pd(epsilon, r0)), _mm_cvtpd_ps(_mm_add_pd(epsilon, r1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(ratio30 + i),
                _mm_cvttps_epi32(_mm_div_ps(numerator, den)));
        }
#endif
        for (; i < count; ++i) {
            const double dx = cx - (firstX + i);
            const double r = std::sqrt(dx * dx + dy2);
            truncated[i] = static_cast<std::int32_t>(Trunc(r));
            const auto den = static_cast<float>(0.001 + r);
            ratio30[i] = static_cast<std::int32_t>(scaledDy / den);
        }
    }

} // namespace

void RingDistances(const TSampler& sampler, std::int32_t Y, std::int32_t firstX, std::int32_t count,
    std::int32_t* truncated, std::int32_t* ratio30)
{
    const double dy = sampler.Cy - Y;
    // Samples at the same distance left and right of the ring centre (an
    // integer) have the same results, so those left of it that mirror one at
    // or right of it are copied.
    const std::int64_t cx = static_cast<std::int64_t>(sampler.Cx);
    const std::int64_t last = std::int64_t(firstX) + count - 1;
    if (cx <= firstX || cx > last) {
        RingDistancesDirect(sampler.Cx, dy, firstX, count, truncated, ratio30);
        return;
    }
    // Right part: X = cx .. last, directly.
    const auto right = static_cast<std::int32_t>(cx - firstX);
    RingDistancesDirect(sampler.Cx, dy, static_cast<std::int32_t>(cx), count - right,
        truncated + right, ratio30 + right);
    // Left part: X = cx - d mirrors cx + d while that is within the row.
    const std::int64_t mirrored = std::min<std::int64_t>(cx - firstX, last - cx);
    for (std::int64_t d = 1; d <= mirrored; ++d) {
        truncated[right - d] = truncated[right + d];
        ratio30[right - d] = ratio30[right + d];
    }
    // What is left of the mirrored part, directly.
    const auto rest = static_cast<std::int32_t>(cx - firstX - mirrored);
    RingDistancesDirect(sampler.Cx, dy, firstX, rest, truncated, ratio30);
}

namespace {

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

    // The entries of texture row v: colour, whether on the flag, bump.
    // wave[i] is FixedSin(i, BumpAmp); FixedCos(a, b) is FixedSin(a + 1024, b).
    // The colour follows FlagTexel, written out here so that a row costs a few
    // operations per texel (everything the loop reads is a local: the
    // entries' stores could otherwise alias it).
    template <bool kAlpha>
    void FillEntryRow(const TSampler& sampler, const TTexels& texels, const TRenderTarget& target,
        const std::int16_t* wave, std::int32_t v, TTexelEntry* out)
    {
        const std::int32_t b1 = sampler.B1, b3 = sampler.B3, b4 = sampler.B4;
        const auto width = static_cast<std::int32_t>(sampler.TexW);
        // The four phases of Bump(u, v), advanced along the row; only their
        // low 12 bits are used, so wrapping sums give the same entries.
        std::int32_t a1 = MulWrap(v, sampler.B2);
        std::int32_t a2 = MulWrap(v, sampler.B3);
        std::int32_t a3 = AddWrap(MulWrap(v, sampler.B2), 1024);
        std::int32_t a4 = AddWrap(MulWrap(v, sampler.B4), 1024);
        const std::uint8_t* texel = texels.At(0, v);
        const std::uint8_t* alpha = kAlpha ? texels.AlphaTop + v * texels.AlphaStride : nullptr;
        const bool blend = !target.TransparentMode;
        const std::uint32_t back0 = target.Background[0], back1 = target.Background[1],
                            back2 = target.Background[2];
        for (std::int32_t u = 0; u < width; ++u, texel += 3) {
            const auto bump = static_cast<std::int16_t>(
                wave[Mask12(a1)] + wave[Mask12(a2)] + wave[Mask12(a3)] + wave[Mask12(a4)]);
            a1 = AddWrap(a1, b1);
            a2 = AddWrap(a2, b4);
            a3 = AddWrap(a3, b3);
            a4 = AddWrap(a4, b1);
            std::uint32_t c0 = texel[0], c1 = texel[1], c2 = texel[2];
            std::uint8_t onFlag = 1;
            if constexpr (kAlpha) {
                const std::uint32_t a = alpha[u];
                onFlag = a >= kAlphaThreshold;
                if (blend && onFlag && a != 255) {
                    c0 = (c0 * a + back0 * (255 - a) + 127) / 255;
                    c1 = (c1 * a + back1 * (255 - a) + 127) / 255;
                    c2 = (c2 * a + back2 * (255 - a) + 127) / 255;
                }
            }
            TTexelEntry& entry = out[u];
            entry.Color[0] = static_cast<std::uint8_t>(c0);
            entry.Color[1] = static_cast<std::uint8_t>(c1);
            entry.Color[2] = static_cast<std::uint8_t>(c2);
            entry.OnFlag = onFlag;
            entry.Bump = bump;
            entry.Unused = 0;
        }
    }

} // namespace

TShading PrepareShading(const TFrameGeometry& geometry, const TSampler& sampler,
    const TTexels& texels, const TRenderTarget& target)
{
    TShading shading;
    shading.LocalScales.resize(kSinusTableSize);
    for (std::int32_t i = 0; i < kSinusTableSize; ++i)
        shading.LocalScales[static_cast<std::size_t>(i)] = sampler.LocalScale(i);

    const std::int64_t texelCount = sampler.TexW * sampler.TexH;
    const std::int64_t samplesPerPixel = std::int64_t(1) << (2 * geometry.D);
    // The table is kept to 2 Mi texels (16 MiB); a texture that large gains
    // little from it against the memory it takes.
    if (texelCount > std::int64_t(geometry.Width) * geometry.Height * samplesPerPixel
        || texelCount > (std::int64_t(1) << 21))
        return shading;
    shading.Entries
        = std::make_unique_for_overwrite<TTexelEntry[]>(static_cast<std::size_t>(texelCount));
    std::int16_t wave[kSinusTableSize];
    for (std::int32_t i = 0; i < kSinusTableSize; ++i)
        wave[i] = static_cast<std::int16_t>(sampler.FSin(i, sampler.BumpAmp));
    for (std::int32_t v = 0; v < sampler.TexH; ++v) {
        TTexelEntry* row = shading.Entries.get() + std::int64_t(v) * sampler.TexW;
        if (texels.AlphaTop)
            FillEntryRow<true>(sampler, texels, target, wave, v, row);
        else
            FillEntryRow<false>(sampler, texels, target, wave, v, row);
    }
    return shading;
}

namespace {

    // The lighting table row of a directional sample, 16 - FixedCos(a, 16),
    // and the slope FixedCos(a, 16) of a ring sample as magnitude and sign
    // (-1 when negative, else 0), for every phase a.
    struct TSlopeTables {
        std::uint8_t Row[kSinusTableSize];
        std::uint8_t Magnitude[kSinusTableSize];
        std::int8_t Sign[kSinusTableSize];

        TSlopeTables()
        {
            for (std::int32_t i = 0; i < kSinusTableSize; ++i) {
                const std::int32_t slope = FixedCos(i, 16);
                Row[i] = static_cast<std::uint8_t>(16 - slope);
                Magnitude[i] = static_cast<std::uint8_t>(slope < 0 ? -slope : slope);
                Sign[i] = static_cast<std::int8_t>(slope < 0 ? -1 : 0);
            }
        }
    };

    const TSlopeTables& SlopeTables()
    {
        static const TSlopeTables tables;
        return tables;
    }

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
    };

    // One sample at (X, row): the texel bytes that go through the lighting
    // table, with lightRow set to the table row of its light level; null when
    // the sample is off the flag. blended holds the texel when it had to be
    // blended over the background.
    template <bool kRadial, bool kAlpha, bool kThird, std::int32_t kShift, bool kEntries>
    inline const std::uint8_t* ShadeSample(const TFrameInputs& in, const TSubRow& row,
        std::int32_t X, std::uint8_t* blended, const std::uint8_t*& lightRow)
    {
        const TSampler& sampler = in.Sampler;
        std::int32_t phase;
        if constexpr (kRadial)
            phase = row.RingPhase[X];
        else
            phase = sampler.DirectionalPhase<kThird, kShift>(row.RowTerm, X);
        const std::int64_t s = in.LocalScales[Mask12(phase)];
        const std::int64_t u
            = sampler.TexelOffset<kThird, kShift>(X - sampler.SpotX, s) + sampler.TexAnchorX;
        const std::int64_t v = sampler.TexelOffset<kThird, kShift>(row.Dy, s) + sampler.TexAnchorY;
        // One unsigned comparison per axis also catches the negative values.
        if (static_cast<std::uint64_t>(u) >= static_cast<std::uint64_t>(sampler.TexW)
            || static_cast<std::uint64_t>(v) >= static_cast<std::uint64_t>(sampler.TexH))
            return nullptr;
        const std::uint8_t* texel;
        std::int32_t bump;
        if constexpr (kEntries) {
            const TTexelEntry& entry = in.Entries[v * sampler.TexW + u];
            if constexpr (kAlpha) {
                if (!entry.OnFlag)
                    return nullptr;
            }
            texel = entry.Color;
            bump = entry.Bump;
        } else {
            texel = FlagTexel<kAlpha>(in.Texels, in.Target, u, v, blended);
            if constexpr (kAlpha) {
                if (!texel)
                    return nullptr;
            }
            bump = sampler.Bump(static_cast<std::int32_t>(u), static_cast<std::int32_t>(v));
        }
        const std::int32_t a = Mask12(AddWrap(phase, bump));
        if constexpr (kRadial) {
            const std::int32_t level = sampler.RingLight(in.Slopes->Magnitude[a],
                in.Slopes->Sign[a], row.Ratio30[X], row.RingSign, row.RingDy, X);
            lightRow = (*in.Light)[16 - level].data();
        } else {
            lightRow = (*in.Light)[in.Slopes->Row[a]].data();
        }
        return texel;
    }

    // How the samples divide a frame pixel: unscaled (2^D samples, the shift
    // known when compiled), scaled by a power of two, or by 3 x a power of two.
    enum class TGrid { Unscaled, PowerOfTwo, Third };

    template <bool kRadial, bool kAlpha, TGrid kGrid, bool kEntries, std::int32_t kD>
    bool RenderRows(const TFrameInputs& inputs)
    {
        constexpr bool kThird = kGrid == TGrid::Third;
        constexpr std::int32_t kShift = kGrid == TGrid::Unscaled ? kD : -1;
        const TFrameInputs in = inputs;
        const TRenderTarget& target = in.Target;
        constexpr std::int32_t kN = 1 << kD;
        const std::int32_t sampleWidth = target.W * kN;
        std::vector<std::int32_t> ringPhases, ratios;
        if constexpr (kRadial) {
            ringPhases.resize(static_cast<std::size_t>(sampleWidth) * kN);
            ratios.resize(ringPhases.size());
        }
        // The checkerboard's squares are 8 pixels of the unscaled frame.
        std::vector<std::uint8_t> columnGrey(static_cast<std::size_t>(target.W));
        for (std::int32_t x = 0; x < target.W; ++x)
            columnGrey[static_cast<std::size_t>(x)]
                = static_cast<std::uint8_t>(((x / target.ExportScale) >> 3) & 1);

        bool anyOutside = false;
        TSubRow rows[kN];
        std::uint8_t blended[3];
        for (std::int32_t y = 0; y < target.H; ++y) {
            for (std::int32_t j = 0; j < kN; ++j) {
                const std::int32_t Y = y * kN + j;
                TSubRow& row = rows[j];
                row.RowTerm = in.Sampler.RowTerm<kThird>(Y);
                row.Dy = Y - in.Sampler.SpotY;
                if constexpr (kRadial) {
                    const std::size_t at = static_cast<std::size_t>(j) * sampleWidth;
                    // Trunc(r) first, then turned into the phase in a loop of
                    // its own, so that it is done in vectors.
                    std::int32_t* ringPhase = ringPhases.data() + at;
                    RingDistances(in.Sampler, Y, 0, sampleWidth, ringPhase, ratios.data() + at);
                    for (std::int32_t i = 0; i < sampleWidth; ++i)
                        ringPhase[i] = in.Sampler.RadialPhase<kThird, kShift>(ringPhase[i]);
                    row.RingDy = in.Sampler.Cy - Y;
                    row.RingSign = row.RingDy < 0 ? -1 : 0;
                    row.RingPhase = ringPhases.data() + at;
                    row.Ratio30 = ratios.data() + at;
                }
            }
            std::uint8_t* out = target.Out + y * target.OutStride;
            std::uint8_t* mask = target.Mask + y * target.MaskStride;
            const std::uint8_t rowParity = ((y / target.ExportScale) >> 3) & 1;
            for (std::int32_t x = 0; x < target.W; ++x, out += 3, ++mask) {
                const std::uint8_t* lightRow = nullptr;
                if constexpr (kD == 0) {
                    const std::uint8_t* texel
                        = ShadeSample<kRadial, kAlpha, kThird, kShift, kEntries>(
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
                            = (rowParity ^ columnGrey[static_cast<std::size_t>(x)]) == 0 ? 128
                                                                                         : 192;
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
                                = ShadeSample<kRadial, kAlpha, kThird, kShift, kEntries>(
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
                            = (rowParity ^ columnGrey[static_cast<std::size_t>(x)]) == 0 ? 128
                                                                                         : 192;
                        *mask = 255;
                    }
                }
            }
        }
        return anyOutside;
    }

    // One loop per combination; the template arguments are chosen here, once
    // per frame, from what the frame decides at run time.
    template <bool kRadial, bool kAlpha, TGrid kGrid, bool kEntries>
    bool RenderLevel(std::int32_t d, const TFrameInputs& in)
    {
        switch (d) {
        case 1:
            return RenderRows<kRadial, kAlpha, kGrid, kEntries, 1>(in);
        case 2:
            return RenderRows<kRadial, kAlpha, kGrid, kEntries, 2>(in);
        default:
            return RenderRows<kRadial, kAlpha, kGrid, kEntries, 0>(in);
        }
    }

    template <bool kRadial, bool kAlpha, TGrid kGrid>
    bool RenderEntryKind(std::int32_t d, const TFrameInputs& in)
    {
        return in.Entries ? RenderLevel<kRadial, kAlpha, kGrid, true>(d, in)
                          : RenderLevel<kRadial, kAlpha, kGrid, false>(d, in);
    }

    template <bool kRadial, bool kAlpha>
    bool RenderGridKind(std::int32_t d, std::int32_t exportScale, const TFrameInputs& in)
    {
        if (exportScale == 1)
            return RenderEntryKind<kRadial, kAlpha, TGrid::Unscaled>(d, in);
        return in.Sampler.Third ? RenderEntryKind<kRadial, kAlpha, TGrid::Third>(d, in)
                                : RenderEntryKind<kRadial, kAlpha, TGrid::PowerOfTwo>(d, in);
    }

    // A texture without alpha takes the code without the alpha test at all.
    template <bool kRadial>
    bool RenderAlphaKind(std::int32_t d, std::int32_t exportScale, const TFrameInputs& in)
    {
        return in.Texels.AlphaTop ? RenderGridKind<kRadial, true>(d, exportScale, in)
                                  : RenderGridKind<kRadial, false>(d, exportScale, in);
    }

} // namespace

bool RenderPixels(const TFrameGeometry& geometry, bool radial, const TSampler& sampler,
    const TShading& shading, const TTexels& texels, const TLightTable& light,
    const TRenderTarget& target)
{
    const TFrameInputs in { sampler, texels, target, shading.LocalScales.data(),
        shading.Entries.get(), &SlopeTables(), &light };
    return radial ? RenderAlphaKind<true>(geometry.D, geometry.ExportScale, in)
                  : RenderAlphaKind<false>(geometry.D, geometry.ExportScale, in);
}

} // namespace zx::render_kernel
