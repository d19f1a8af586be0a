// The renderer over a seeded sweep of settings, frame sizes, export scales,
// antialiasing levels, textures with and without alpha, both modes and both
// wave kinds, with the range ends drawn often: every pixel of every frame is
// checked against the traced samples it is made of (the sanitizer build
// watches the arithmetic on the way). The frame loops take shortcuts (tables
// per texel and per phase, the ring light without its division) that the
// traced samples do not, so this is where they meet.

#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace zx {
namespace {

    struct TSweep {
        std::mt19937 Random { 20240611 };

        // A value in min..max, the ends (and 0 when inside) a third of the time.
        std::int32_t Pick(std::int32_t min, std::int32_t max)
        {
            switch (std::uniform_int_distribution<int>(0, 8)(Random)) {
            case 0:
                return min;
            case 1:
                return max;
            case 2:
                return min <= 0 && 0 <= max ? 0 : min;
            default:
                return std::uniform_int_distribution<std::int32_t>(min, max)(Random);
            }
        }
    };

    TDIB RandomTexture(TSweep& sweep, std::int32_t w, std::int32_t h)
    {
        TDIB texture;
        texture.SetSize(w, h, 24);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < 3 * w; ++x)
                texture.ScanLine(y)[x] = std::uint8_t(sweep.Random());
        return texture;
    }

    TEST(FlagRendererSweep, EveryPixelIsMadeOfItsTracedSamples)
    {
        TSweep sweep;
        int pixels = 0, onFlag = 0, blended = 0;
        for (int round = 0; round < 70; ++round) {
            FlagParameters p;
            p.Antialiasing = sweep.Pick(0, 2);
            p.Radial = sweep.Random() % 2 == 0;
            p.TransparentMode = sweep.Random() % 2 == 0;
            p.BackgroundColor = sweep.Random() & 0xFFFFFF;
            p.Distance = sweep.Pick(-50, 50);
            p.Amplitude = sweep.Pick(0, 100);
            p.Frequency = sweep.Pick(-100, 100);
            p.Angle = sweep.Pick(0, 360);
            p.BumpIntensity = sweep.Pick(0, 100);
            p.BumpFrequency = sweep.Pick(0, 100);
            p.Brightness = sweep.Pick(0, 200);
            p.Contrast = sweep.Pick(0, 100);
            p.InvertLightMode = sweep.Random() % 3 == 0;
            p.SpotX = sweep.Random() % 5 == 0 ? sweep.Pick(-kRenderSpotLimit, kRenderSpotLimit - 1)
                                              : sweep.Pick(-512, 511);
            p.SpotY = sweep.Pick(-512, 511);
            const std::int32_t k = kExportScales[sweep.Random() % kExportScales.size()];
            const std::int32_t n = 1 << p.Antialiasing;
            // Frame sizes from the smallest up to the widest and tallest the
            // scale allows, kept to a few thousand samples per frame.
            std::int32_t w = sweep.Pick(16, kMaxRenderWidth / k);
            std::int32_t h = sweep.Pick(16, kMaxRenderHeight / k);
            while (std::int64_t(w) * h * k * k * n * n > 40000 && (w > 16 || h > 16)) {
                w = std::max(16, w / 2);
                h = std::max(16, h * 3 / 4);
            }
            // Textures from one texel up, sometimes larger than the frame (no
            // texel table then).
            const std::int32_t texW = sweep.Pick(1, sweep.Random() % 4 == 0 ? 700 : 60);
            const std::int32_t texH = sweep.Pick(1, sweep.Random() % 4 == 0 ? 500 : 60);
            const TDIB texture = RandomTexture(sweep, texW, texH);
            TDIB alpha;
            if (sweep.Random() % 2 == 0) {
                alpha.SetSize(texW, texH, 8);
                for (std::int32_t y = 0; y < texH; ++y)
                    for (std::int32_t x = 0; x < texW; ++x)
                        alpha.ScanLine(y)[x] = std::uint8_t(sweep.Pick(0, 255));
            }
            SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(w) + "x"
                + std::to_string(h) + " k " + std::to_string(k) + " D "
                + std::to_string(p.Antialiasing) + " radial " + std::to_string(p.Radial)
                + " texture " + std::to_string(texW) + "x" + std::to_string(texH));

            const TFlagDerived derived = DeriveFlagValues(p, w, h);
            const TLightTable light = BuildLightTable(p.Brightness, p.Contrast, p.InvertLightMode);
            const auto phi = static_cast<std::uint16_t>(sweep.Random() % 4096);
            TFrameStore store;
            RenderScaledFrame(store, 7, phi, p, derived, texture, alpha, light, k);
            const TFrameGeometry g = ComputeScaledFrameGeometry(p, derived, texW, texH, k);
            const std::uint8_t background[3] = { std::uint8_t(p.BackgroundColor >> 16),
                std::uint8_t(p.BackgroundColor >> 8), std::uint8_t(p.BackgroundColor) };
            bool anyOff = false;
            for (std::int32_t y = 0; y < h * k; ++y)
                for (std::int32_t x = 0; x < w * k; ++x) {
                    std::uint32_t sums[3] = { 0, 0, 0 };
                    bool off = false;
                    for (std::int32_t j = 0; j < n; ++j)
                        for (std::int32_t i = 0; i < n; ++i) {
                            const TSampleTrace t
                                = TraceSample(g, p.Radial, texW, texH, x * n + i, y * n + j, phi);
                            const std::uint32_t a = !t.Inside ? 0
                                : alpha.Empty()
                                ? 255
                                : alpha.ConstScanLine(std::int32_t(t.V))[std::int32_t(t.U)];
                            if (a < kAlphaThreshold) {
                                off = true;
                                for (int c = 0; c < 3; ++c)
                                    sums[c] += background[c];
                                continue;
                            }
                            ASSERT_GE(t.Light, -16);
                            ASSERT_LE(t.Light, 16);
                            const std::uint8_t* texel
                                = texture.ConstScanLine(std::int32_t(t.V)) + 3 * t.U;
                            for (int c = 0; c < 3; ++c) {
                                const std::uint32_t color = a == 255 || p.TransparentMode
                                    ? texel[c]
                                    : (texel[c] * a + background[c] * (255 - a) + 127) / 255;
                                sums[c] += light[16 - t.Light][color];
                            }
                            blended += a != 255;
                        }
                    const std::uint8_t* pixel = store.FrameBitmaps[7].ConstScanLine(y) + 3 * x;
                    const std::uint8_t mask = store.FrameMasks[7].ConstScanLine(y)[x];
                    // Without antialiasing a sample off the flag is marked in
                    // both modes; with it, only in transparent mode.
                    const bool marked = off && (p.TransparentMode || n == 1);
                    ASSERT_EQ(mask, marked ? 255 : 0) << x << "," << y;
                    anyOff |= marked;
                    ++pixels;
                    if (off && p.TransparentMode) {
                        const std::uint8_t grey = CheckerGrey(x / k, y / k);
                        for (int c = 0; c < 3; ++c)
                            ASSERT_EQ(pixel[c], grey) << x << "," << y;
                        continue;
                    }
                    onFlag += !off;
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(pixel[c], sums[c] >> (2 * p.Antialiasing))
                            << x << "," << y << " c " << c;
                }
            EXPECT_EQ(store.FrameTransparent[7], anyOff && p.TransparentMode);
            EXPECT_TRUE(store.FrameRendered[7]);
        }
        // The sweep reached the flag, its edges and blended texels.
        EXPECT_GT(pixels, 200000);
        EXPECT_GT(onFlag, pixels / 10);
        EXPECT_GT(blended, 1000);
    }

} // namespace
} // namespace zx
