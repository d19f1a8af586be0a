// The renderer's per-frame preparation (the sampler, the ring distances, the
// tables of a geometry) and the frame loops without a hoist.

#include "core/flag/FlagRendererKernel.h"
#include "core/flag/FlagRendererLoops.h"
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

    Unit = 1024 * m;
    if (g.Hoist == hoLeft || g.Hoist == hoRight)
        HoistAxis = THoistAxis::Columns;
    else if (g.Hoist == hoTop || g.Hoist == hoBottom)
        HoistAxis = THoistAxis::Rows;
    HoistMirrored = g.Hoist == hoRight || g.Hoist == hoBottom;
    HoistWidth = g.HoistWidth;
    const bool columns = HoistAxis == THoistAxis::Columns;
    HoistAcross = columns ? texW : texH;
    HoistAlong = columns ? texH : texW;
    Pole = g.ShowPole && HoistAxis != THoistAxis::None;
    // A sixteenth of the flag's shorter side, and never thinner than 3 pixels
    // of the unscaled frame (Scale x M rest units each).
    PoleDiameter = std::max(3 * Scale * m, std::min<std::int64_t>(texW, texH) * Unit / 16);
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
            std::uint8_t stored = 255;
            if constexpr (kAlpha) {
                const std::uint32_t a = alpha[u];
                stored = static_cast<std::uint8_t>(a);
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
            entry.Alpha = stored;
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
    PrepareHoist(sampler, target, geometry.D, shading);

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

TSlopeTables::TSlopeTables()
{
    for (std::int32_t i = 0; i < kSinusTableSize; ++i) {
        const std::int32_t slope = FixedCos(i, 16);
        Row[i] = static_cast<std::uint8_t>(16 - slope);
        Magnitude[i] = static_cast<std::uint8_t>(slope < 0 ? -slope : slope);
        Sign[i] = static_cast<std::int8_t>(slope < 0 ? -1 : 0);
    }
}

const TSlopeTables& SlopeTables()
{
    static const TSlopeTables tables;
    return tables;
}

bool RenderPixels(const TFrameGeometry& geometry, bool radial, const TSampler& sampler,
    const TShading& shading, const TTexels& texels, const TLightTable& light,
    const TRenderTarget& target)
{
    const TFrameInputs in { sampler, texels, target, shading.LocalScales.data(),
        shading.Entries.get(), &SlopeTables(), &light, shading.HoistSteps.data(),
        shading.Along.data() };
    if (sampler.HoistAxis != THoistAxis::None)
        return RenderHoistPixels(radial, geometry.D, geometry.ExportScale, in);
    return RenderWaveKind<TFrameRows, THoistAxis::None>(
        radial, geometry.D, geometry.ExportScale, in);
}

} // namespace zx::render_kernel
