// The flag on its pole: the hoist's damping of the wave, the pole, and the
// frame loops of a frame with a hoist.
//
// The damping is a function of where a sample lies in the flag at rest, not
// of the texel the wave takes it to. The rest position depends on the frame
// position alone (on X for a left or right hoist, on Y for top and bottom),
// so it is worked out once per sample column or sub-row, and it holds the
// edge exactly: a sample whose rest texel is the edge's keeps Scale, and with
// it the rest texel and flat light, in every frame. Damping by the displaced
// texel instead would make the inverse mapping implicit (the texel would
// depend on its own damping), and no rounding of it could promise that.

#include "core/flag/FlagRendererKernel.h"
#include "core/flag/FlagRendererLoops.h"

#include <algorithm>
#include <limits>

namespace zx::render_kernel {

namespace {

    // Floor division by a positive divisor.
    std::int64_t FloorDivide(std::int64_t n, std::int64_t d)
    {
        const std::int64_t q = n / d;
        return n % d < 0 ? q - 1 : q;
    }

    // The pole's colours as stored (blue, green, red): a light steel shaft
    // and a gilt finial. They are lit through the lighting table like the
    // flag.
    constexpr std::uint8_t kPoleColor[3] = { 168, 176, 180 };
    constexpr std::uint8_t kFinialColor[3] = { 48, 170, 218 };

} // namespace

std::int32_t TSampler::HoistWeight(std::int64_t d) const
{
    if (d <= 0)
        return 0;
    if (HoistWidth == 0)
        return 4096;
    // d / span with span = HoistWidth % of the extent across. Both scale with
    // M, and while they are below 2^53 the quotient is the same at every
    // export scale.
    const double q = static_cast<double>(d) * 100.0
        / static_cast<double>(std::int64_t(HoistWidth) * HoistAcross * Unit);
    if (q >= 1.0)
        return 4096;
    // Smoothstep 3t^2 - 2t^3 with t in 16 fractional bits: it leaves the edge
    // and reaches the full wave without a kink.
    const auto t = static_cast<std::int64_t>(q * 65536.0);
    return static_cast<std::int32_t>((t * t * (3 * 65536 - 2 * t)) >> 36);
}

THoistStep TSampler::HoistStepAt(std::int32_t c) const
{
    THoistStep step;
    const std::int64_t rest = RestAt(HoistAxis == THoistAxis::Columns, c);
    // A mirrored hoist counts from the far edge: extent - rest units, less one
    // so that Across is negative exactly where the rest texel is beyond it.
    const std::int64_t extent = HoistAcross * Unit;
    step.Across = HoistMirrored ? extent - 1 - rest : rest;
    // How far past the far side of the edge's texels, in units that scale
    // with M (extent - rest - Unit for a mirrored hoist).
    const std::int64_t d = step.Across - Unit + (HoistMirrored ? 1 : 0);
    step.Weight = HoistWeight(d);
    step.Amp = WaveAmp * step.Weight;

    step.Lo = std::numeric_limits<std::int64_t>::min();
    step.Hi = std::numeric_limits<std::int64_t>::max();
    if (step.Across >= 0) {
        if (HoistMirrored)
            step.Hi = HoistAcross - 1;
        else
            step.Lo = 0;
    }

    // The shaft lies just beyond the edge, one diameter across. It is lit
    // from the left (a vertical pole) or from above (a horizontal one): the
    // light level runs from -16 (brightest) on that side to 15 on the other.
    step.ShaftLevel = kOffShaft;
    if (Pole && step.Across < 0 && step.Across >= -PoleDiameter) {
        const auto level = static_cast<std::int32_t>(
            FloorDivide(16 * (2 * step.Across + PoleDiameter), PoleDiameter));
        step.ShaftLevel = HoistMirrored ? -level : level;
    }
    return step;
}

const std::uint8_t* TSampler::PoleSample(
    const THoistStep& step, std::int64_t along, std::int32_t& level) const
{
    const bool vertical = HoistAxis == THoistAxis::Columns;
    const std::int64_t diameter = PoleDiameter;
    const std::int64_t extent = HoistAlong * Unit;

    // The finial: a ball 1.25 diameters across on the pole's axis, its
    // centre 7/8 of a diameter beyond the flag's top end (a vertical pole) or
    // right end (a horizontal one). In eighths of rest units, so that every
    // bound is a whole number of them at every scale.
    const std::int64_t x8 = 8 * step.Across + 4 * diameter;
    const std::int64_t y8
        = vertical ? 8 * along + 7 * diameter : 8 * along - 8 * extent - 7 * diameter;
    const std::int64_t r8 = 5 * diameter;
    if (x8 > -r8 && x8 < r8 && y8 > -r8 && y8 < r8
        && static_cast<double>(x8) * static_cast<double>(x8)
                + static_cast<double>(y8) * static_cast<double>(y8)
            < static_cast<double>(r8) * static_cast<double>(r8)) {
        // On the screen (x to the right, y down), lit from the upper left:
        // 16 x the normal's share towards the lower right, (sx + sy) / (r x
        // sqrt 2), with 46341 / 65536 for 1 / sqrt 2.
        const std::int64_t across = HoistMirrored ? -x8 : x8;
        const std::int64_t sx = vertical ? across : y8;
        const std::int64_t sy = vertical ? y8 : across;
        level = static_cast<std::int32_t>((sx + sy) * 16 * 46341 / (r8 * 65536));
        return kFinialColor;
    }

    // The shaft covers the flag's extent along the hoist and goes a little
    // beyond it: half a diameter at the finial's end, 1.5 at the other (in
    // halves of rest units).
    if (step.ShaftLevel != kOffShaft) {
        const std::int64_t first = vertical ? -diameter : -3 * diameter;
        const std::int64_t last = vertical ? 2 * extent + 3 * diameter : 2 * extent + diameter;
        if (2 * along >= first && 2 * along < last) {
            level = step.ShaftLevel;
            return kPoleColor;
        }
    }
    return nullptr;
}

void PrepareHoist(
    const TSampler& sampler, const TRenderTarget& target, std::int32_t d, TShading& shading)
{
    if (sampler.HoistAxis == THoistAxis::None)
        return;
    const bool columns = sampler.HoistAxis == THoistAxis::Columns;
    const std::int32_t n = 1 << d;
    const std::int32_t across = (columns ? target.W : target.H) * n;
    const std::int32_t along = (columns ? target.H : target.W) * n;
    shading.HoistSteps.resize(static_cast<std::size_t>(across));
    for (std::int32_t c = 0; c < across; ++c)
        shading.HoistSteps[static_cast<std::size_t>(c)] = sampler.HoistStepAt(c);
    shading.Along.resize(static_cast<std::size_t>(along));
    for (std::int32_t c = 0; c < along; ++c)
        shading.Along[static_cast<std::size_t>(c)] = sampler.AlongAt(c);
}

bool RenderHoistPixels(
    bool radial, std::int32_t d, std::int32_t exportScale, const TFrameInputs& in)
{
    return in.Sampler.HoistAxis == THoistAxis::Columns
        ? RenderWaveKind<TFrameRows, THoistAxis::Columns>(radial, d, exportScale, in)
        : RenderWaveKind<TFrameRows, THoistAxis::Rows>(radial, d, exportScale, in);
}

} // namespace zx::render_kernel
