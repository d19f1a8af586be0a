// TMaskRuns: planes kept as runs of equal bytes come back byte for byte
// (worked examples, random planes of awkward widths, runs longer than one
// entry holds), and what is not an 8-bit plane is refused.

#include "core/gif/MaskRuns.h"

#include "core/Errors.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace zx {
namespace {

    TDIB PlaneOf(std::int32_t w, std::int32_t h, const std::vector<std::uint8_t>& pixels)
    {
        TDIB plane;
        plane.SetSize(w, h, 8);
        for (std::int32_t y = 0; y < h; ++y)
            std::memcpy(
                plane.ScanLine(y), pixels.data() + std::size_t(y) * std::size_t(w), std::size_t(w));
        return plane;
    }

    // Every visible pixel equal, and the same shape.
    void ExpectSamePlane(const TDIB& a, const TDIB& b)
    {
        ASSERT_EQ(a.Width(), b.Width());
        ASSERT_EQ(a.Height(), b.Height());
        ASSERT_EQ(a.BitCount(), 8);
        ASSERT_EQ(b.BitCount(), 8);
        for (std::int32_t y = 0; y < a.Height(); ++y)
            ASSERT_EQ(
                std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), std::size_t(a.Width())), 0)
                << "row " << y;
    }

    TEST(MaskRuns, WorkedExamplesCountTheirRunsAcrossRows)
    {
        // 255 255 | 0 0 0 ... a run goes on into the next row.
        const TDIB plane = PlaneOf(5, 3,
            { 255, 255, 0, 0, 0, //
                0, 0, 255, 255, 255, //
                255, 7, 7, 7, 0 });
        const TMaskRuns runs(plane);
        EXPECT_EQ(runs.Width(), 5);
        EXPECT_EQ(runs.Height(), 3);
        // 255 x2, 0 x5, 255 x4, 7 x3, 0 x1.
        EXPECT_EQ(runs.RunCount(), 5u);
        ExpectSamePlane(runs.Plane(), plane);

        const TMaskRuns flat(PlaneOf(3, 2, std::vector<std::uint8_t>(6, 255)));
        EXPECT_EQ(flat.RunCount(), 1u);
        ExpectSamePlane(flat.Plane(), PlaneOf(3, 2, std::vector<std::uint8_t>(6, 255)));

        const TMaskRuns one(PlaneOf(1, 1, { 9 }));
        EXPECT_EQ(one.RunCount(), 1u);
        EXPECT_EQ(one.Plane().ConstScanLine(0)[0], 9);
    }

    TEST(MaskRuns, RandomPlanesComeBackByteForByte)
    {
        std::mt19937 random(24);
        for (int round = 0; round < 60; ++round) {
            const std::int32_t w = 1 + std::int32_t(random() % 67);
            const std::int32_t h = 1 + std::int32_t(random() % 23);
            std::vector<std::uint8_t> pixels(std::size_t(w) * std::size_t(h));
            // Runs of random lengths, from single pixels to whole rows and more.
            std::size_t at = 0;
            while (at < pixels.size()) {
                const std::size_t length = 1 + random() % (round % 3 == 0 ? 3 : 90);
                const auto value = std::uint8_t(round % 2 ? random() % 256 : (random() % 2) * 255);
                for (std::size_t i = 0; i < length && at < pixels.size(); ++i)
                    pixels[at++] = value;
            }
            SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
            const TDIB plane = PlaneOf(w, h, pixels);
            const TMaskRuns runs(plane);
            EXPECT_LE(runs.RunCount(), pixels.size());
            ExpectSamePlane(runs.Plane(), plane);
        }
    }

    TEST(MaskRuns, ARunLongerThanOneEntryIsSplit)
    {
        // 2^24 + 4 pixels of one value, then one of another.
        const std::int32_t w = 4096;
        const std::int32_t h = 4097;
        TDIB plane;
        plane.SetSize(w, h, 8);
        for (std::int32_t y = 0; y < h; ++y)
            std::memset(plane.ScanLine(y), 255, std::size_t(w));
        plane.ScanLine(h - 1)[w - 1] = 0;
        const TMaskRuns runs(plane);
        EXPECT_EQ(runs.RunCount(), 3u);
        ExpectSamePlane(runs.Plane(), plane);
    }

    TEST(MaskRuns, OnlyEightBitPlanesAreTaken)
    {
        const TMaskRuns none { TDIB() };
        EXPECT_TRUE(none.Empty());
        EXPECT_TRUE(none.Plane().Empty());
        TDIB colour;
        colour.SetSize(4, 4, 24);
        EXPECT_THROW(TMaskRuns { colour }, EInvalidGraphicOperation);
    }

} // namespace
} // namespace zx
