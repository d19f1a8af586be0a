// The renderer's ring light without a division per sample: for every slope
// and sample position it must give what the division gives, also where the
// quotient lies within a hair of an integer: straight above and below the
// ring centre, where r = |Cy - Y| and the quotient is just short of the slope,
// and where the offsets from the centre form a Pythagorean triple, so that r
// is a whole number and slopes that are multiples of its parts give a
// quotient just short of a whole number too.

#include "core/flag/FlagRendererKernel.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace zx {
namespace {

    TEST(FlagRendererKernel, RingLightEqualsTheDivisionForEverySlope)
    {
        int nearInteger = 0, compared = 0;
        // Ring centres in sample units, as small and as far as frames give them.
        for (const std::int64_t centre : { 37, 1000, 41600, 1497600 }) {
            TFrameGeometry g;
            g.Cx = centre;
            g.Cy = centre / 2;
            g.Scale = 1024;
            const render_kernel::TSampler sampler(g, 100, 100, 0);
            const std::int32_t count = 700;
            std::vector<std::int32_t> truncated(count), ratio30(count);
            for (const std::int64_t dy : { 0, 1, -1, 2, 7, -300, 5000, -44444, 1000000 }) {
                const auto Y = static_cast<std::int32_t>(g.Cy - dy);
                // A run of samples across the ring centre.
                const auto firstX
                    = static_cast<std::int32_t>(std::max<std::int64_t>(0, centre - count / 2));
                render_kernel::RingDistances(
                    sampler, Y, firstX, count, truncated.data(), ratio30.data());
                const double rowDy = sampler.Cy - Y;
                for (std::int32_t i = 0; i < count; ++i) {
                    const std::int32_t X = firstX + i;
                    const double dx = sampler.Cx - X;
                    const double r = std::sqrt(dx * dx + rowDy * rowDy);
                    ASSERT_EQ(truncated[i], static_cast<std::int32_t>(std::trunc(r))) << X;
                    for (std::int32_t slope = -16; slope <= 16; ++slope) {
                        const std::int32_t want
                            = render_kernel::TSampler::RadialLight(slope, rowDy, 0.001 + r);
                        const std::int32_t got
                            = sampler.RingLight(static_cast<std::uint32_t>(std::abs(slope)),
                                slope < 0 ? -1 : 0, ratio30[i], rowDy < 0 ? -1 : 0, rowDy, X);
                        ASSERT_EQ(got, want) << "slope " << slope << " X " << X << " dy " << dy
                                             << " centre " << centre;
                        const double q = slope * rowDy / (0.001 + r);
                        nearInteger += slope != 0 && std::fabs(q - std::nearbyint(q)) < 1e-5;
                        ++compared;
                    }
                }
            }
        }
        // The cases the shortcut must leave to the division did occur.
        EXPECT_GT(nearInteger, 500);
        EXPECT_GT(compared, 500000);
    }

    TEST(FlagRendererKernel, RingLightEqualsTheDivisionOnPythagoreanOffsets)
    {
        struct Triple {
            std::int32_t a, b;
        };
        int nearInteger = 0;
        for (const Triple triple : { Triple { 3, 4 }, Triple { 4, 3 }, Triple { 5, 12 },
                 Triple { 12, 5 }, Triple { 8, 15 }, Triple { 7, 24 } })
            for (std::int32_t t = 1; t < 40000; t = t * 3 / 2 + 1) {
                TFrameGeometry g;
                g.Cx = 2000000;
                g.Cy = 2000000;
                g.Scale = 1024;
                const render_kernel::TSampler sampler(g, 100, 100, 0);
                for (const std::int32_t side : { -1, 1 }) {
                    const auto X = static_cast<std::int32_t>(g.Cx - std::int64_t(triple.a) * t);
                    const auto Y
                        = static_cast<std::int32_t>(g.Cy - std::int64_t(side) * triple.b * t);
                    std::int32_t truncated = 0, ratio30 = 0;
                    // Through the vector code too: a run of four ending at X.
                    std::int32_t run[4], ratios[4];
                    render_kernel::RingDistances(sampler, Y, X, 1, &truncated, &ratio30);
                    render_kernel::RingDistances(sampler, Y, X - 3, 4, run, ratios);
                    ASSERT_EQ(ratios[3], ratio30);
                    ASSERT_EQ(run[3], truncated);
                    const double rowDy = sampler.Cy - Y;
                    const double dx = sampler.Cx - X;
                    const double r = std::sqrt(dx * dx + rowDy * rowDy);
                    for (std::int32_t slope = -16; slope <= 16; ++slope) {
                        const std::int32_t want
                            = render_kernel::TSampler::RadialLight(slope, rowDy, 0.001 + r);
                        const std::int32_t got
                            = sampler.RingLight(static_cast<std::uint32_t>(std::abs(slope)),
                                slope < 0 ? -1 : 0, ratio30, rowDy < 0 ? -1 : 0, rowDy, X);
                        ASSERT_EQ(got, want)
                            << "slope " << slope << " offsets " << dx << "," << rowDy;
                        const double q = slope * rowDy / (0.001 + r);
                        nearInteger += slope != 0 && std::fabs(q - std::nearbyint(q)) < 1e-6;
                    }
                }
            }
        EXPECT_GT(nearInteger, 100);
    }

} // namespace
} // namespace zx
