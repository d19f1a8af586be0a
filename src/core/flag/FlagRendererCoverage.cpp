// The coverage frames' loop: the ordinary frame's samples, summed by what
// each covers.

#include "core/flag/FlagRendererCoverage.h"

#include "core/WorkerPool.h"
#include "core/flag/FlagRendererKernel.h"
#include "core/flag/FlagRendererLoops.h"

#include <cstring>

namespace zx {

namespace render_kernel {

    namespace {

        // A lit colour c laid over the lit colour under it by alpha a.
        inline std::uint32_t Over(std::uint32_t c, std::uint32_t under, std::uint32_t a)
        {
            return (c * a + under * (255 - a) + 127) / 255;
        }

        template <bool kRadial, bool kAlpha, TGrid kGrid, bool kEntries, std::int32_t kD,
            THoistAxis kHoist>
        struct TCoverageRows {
            static bool Run(const TFrameInputs& inputs)
            {
                constexpr bool kThird = kGrid == TGrid::Third;
                constexpr std::int32_t kShift = kGrid == TGrid::Unscaled ? kD : -1;
                constexpr std::int32_t kN = 1 << kD;
                constexpr std::uint32_t kSamples = kN * kN;
                const TFrameInputs in = inputs;
                const TRenderTarget& target = in.Target;
                TSubRows<kRadial, kGrid, kD, kHoist> subRows(in);
                bool anyClear = false;
                std::uint8_t blended[3];
                for (std::int32_t y = 0; y < target.H; ++y) {
                    ThrowIfCancelled();
                    subRows.Prepare(in, y);
                    std::uint8_t* out = target.Out + y * target.OutStride;
                    std::uint8_t* alpha = target.Mask + y * target.MaskStride;
                    for (std::int32_t x = 0; x < target.W; ++x, out += 3, ++alpha) {
                        // Each sample's lit colour times what it covers.
                        std::uint32_t sum0 = 0, sum1 = 0, sum2 = 0, covered = 0;
                        for (std::int32_t j = 0; j < kN; ++j) {
                            const TSubRow& row = subRows.Rows[j];
                            for (std::int32_t i = 0; i < kN; ++i) {
                                const std::int32_t X = x * kN + i;
                                const std::uint8_t* lightRow = nullptr;
                                std::uint32_t a = 0;
                                const std::uint8_t* texel
                                    = ShadeSample<kRadial, kAlpha, kThird, kShift, kEntries, kHoist,
                                        true>(in, row, X, blended, lightRow, &a);
                                if (!texel)
                                    continue;
                                std::uint32_t c0 = lightRow[texel[0]];
                                std::uint32_t c1 = lightRow[texel[1]];
                                std::uint32_t c2 = lightRow[texel[2]];
                                if constexpr (kAlpha && kHoist != THoistAxis::None) {
                                    if (a != 255) {
                                        const THoistStep* hoist = kHoist == THoistAxis::Columns
                                            ? in.HoistSteps + X
                                            : row.Hoist;
                                        const std::uint8_t* poleRow = nullptr;
                                        const std::uint8_t* pole
                                            = OffFlag<kHoist>(in, hoist, row, X, poleRow);
                                        if (pole) {
                                            c0 = Over(c0, poleRow[pole[0]], a);
                                            c1 = Over(c1, poleRow[pole[1]], a);
                                            c2 = Over(c2, poleRow[pole[2]], a);
                                            a = 255;
                                        }
                                    }
                                }
                                sum0 += c0 * a;
                                sum1 += c1 * a;
                                sum2 += c2 * a;
                                covered += a;
                            }
                        }
                        if (covered == 0) {
                            out[0] = out[1] = out[2] = 0;
                            *alpha = 0;
                            anyClear = true;
                            continue;
                        }
                        // Rounded down like the ordinary frame's mean, which
                        // this is wherever every sample covers fully.
                        out[0] = static_cast<std::uint8_t>(sum0 / covered);
                        out[1] = static_cast<std::uint8_t>(sum1 / covered);
                        out[2] = static_cast<std::uint8_t>(sum2 / covered);
                        const std::uint32_t share = (covered + kSamples / 2) / kSamples;
                        *alpha = static_cast<std::uint8_t>(share);
                        anyClear |= share != 255;
                    }
                }
                return anyClear;
            }
        };

        void RenderCoveragePixels(const TFrameGeometry& geometry, bool radial,
            const TSampler& sampler, const TShading& shading, const TTexels& texels,
            const TLightTable& light, const TRenderTarget& target)
        {
            const TFrameInputs in { sampler, texels, target, shading.LocalScales.data(),
                shading.Entries.get(), &SlopeTables(), &light, shading.HoistSteps.data(),
                shading.Along.data() };
            const std::int32_t d = geometry.D;
            const std::int32_t scale = geometry.ExportScale;
            switch (sampler.HoistAxis) {
            case THoistAxis::Columns:
                RenderWaveKind<TCoverageRows, THoistAxis::Columns>(radial, d, scale, in);
                break;
            case THoistAxis::Rows:
                RenderWaveKind<TCoverageRows, THoistAxis::Rows>(radial, d, scale, in);
                break;
            case THoistAxis::None:
                RenderWaveKind<TCoverageRows, THoistAxis::None>(radial, d, scale, in);
                break;
            }
        }

        // One frame into its target with the geometry's shared tables.
        void RenderInto(const TRenderTarget& target, std::uint16_t phi,
            const TFrameGeometry& geometry, const FlagParameters& params, const TDIB& texture,
            const TTexels& texels, const TShading& shading, const TLightTable& lightTable)
        {
            const TSampler sampler(geometry, texture.Width(), texture.Height(), phi);
            if (params.TransparentMode) {
                RenderCoveragePixels(
                    geometry, params.Radial, sampler, shading, texels, lightTable, target);
                return;
            }
            // Against a background colour every pixel is opaque: the ordinary
            // frame, with its mask's plane made opaque.
            RenderPixels(geometry, params.Radial, sampler, shading, texels, lightTable, target);
            for (std::int32_t y = 0; y < target.H; ++y)
                std::memset(target.Mask + y * target.MaskStride, 255, std::size_t(target.W));
        }

    } // namespace

} // namespace render_kernel

void RenderCoverageFrame(TDIB& colour, TDIB& alpha, std::uint16_t phi, const FlagParameters& params,
    const TFlagDerived& derived, const TDIB& texture, const TDIB& textureAlpha,
    const TLightTable& lightTable, std::int32_t exportScale)
{
    using namespace render_kernel;
    RequireTexture(texture, textureAlpha);
    const TFrameGeometry geometry = ComputeScaledFrameGeometry(
        params, derived, texture.Width(), texture.Height(), exportScale);
    const TRenderTarget target = TargetOf(colour, alpha, geometry, params);
    const TTexels texels = TexelsOf(texture, textureAlpha);
    const TShading shading = PrepareShading(
        geometry, TSampler(geometry, texture.Width(), texture.Height(), phi), texels, target);
    RenderInto(target, phi, geometry, params, texture, texels, shading, lightTable);
}

TCoverageFrames RenderCoverageFrames(std::span<const std::uint16_t> phases,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TDIB& textureAlpha, const TLightTable& lightTable, std::int32_t exportScale,
    unsigned workers)
{
    using namespace render_kernel;
    RequireTexture(texture, textureAlpha);
    const TFrameGeometry geometry = ComputeScaledFrameGeometry(
        params, derived, texture.Width(), texture.Height(), exportScale);
    const TTexels texels = TexelsOf(texture, textureAlpha);
    TCoverageFrames frames;
    frames.Colours.resize(phases.size());
    frames.Alpha.resize(phases.size());
    if (phases.empty())
        return frames;
    // The pictures are shaped here, on the calling thread: the workers write
    // through raw rows only.
    std::vector<TRenderTarget> targets;
    targets.reserve(phases.size());
    for (std::size_t i = 0; i < phases.size(); ++i)
        targets.push_back(TargetOf(frames.Colours[i], frames.Alpha[i], geometry, params));
    const TShading shading = PrepareShading(geometry,
        TSampler(geometry, texture.Width(), texture.Height(), 0), texels, targets.front());
    ParallelFor(phases.size(), workers, [&](std::size_t i) {
        RenderInto(targets[i], phases[i], geometry, params, texture, texels, shading, lightTable);
    });
    return frames;
}

} // namespace zx
