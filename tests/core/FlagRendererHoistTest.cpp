// The flag on its pole: with a hoist the edge tied to the pole lands on the
// same pixels with the same colours in every frame and stays straight, the
// wave grows monotonically away from it, the loop stays seamless, and the
// pole beside it is opaque, lit through the lighting table, the same at every
// export scale and absent without ShowPole. Without a hoist nothing changes.

#include "GIFTestUtil.h"
#include "core/Errors.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/FlagRendererKernel.h"
#include "core/flag/LightTable.h"
#include "core/flag/XSinusUnit.h"
#include "core/gif/GIFExport.h"
#include "core/imaging/DefaultImage.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zx {
namespace {

    constexpr std::int32_t kSides[] = { hoLeft, hoRight, hoTop, hoBottom };

    // Neighbouring texels differ in every channel, so a texel off by one shows.
    TDIB DetailedTexture(std::int32_t width, std::int32_t height)
    {
        TDIB texture;
        texture.SetSize(width, height, 24);
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x) {
                std::uint8_t* p = texture.ScanLine(y) + 3 * x;
                p[0] = std::uint8_t(x * 37 + y * 3);
                p[1] = std::uint8_t(60 + x * 11 + y * 17);
                p[2] = std::uint8_t(((x ^ y) * 29) + 40);
            }
        return texture;
    }

    bool SameRows(const TDIB& a, const TDIB& b)
    {
        if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
            return false;
        const std::size_t bytes = std::size_t(a.Width()) * std::size_t(a.BitCount() / 8);
        for (std::int32_t y = 0; y < a.Height(); ++y)
            if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), bytes) != 0)
                return false;
        return true;
    }

    const std::uint8_t* At(const TDIB& picture, std::int32_t x, std::int32_t y)
    {
        return picture.ConstScanLine(y) + x * (picture.BitCount() / 8);
    }

    // A pin far from every edge and a strong wave, so that without the hoist
    // every edge of the flag moves by several texels.
    struct TScene {
        FlagParameters Params;
        TDIB Texture = DetailedTexture(60, 40);
        TDIB Alpha;
        TFlagDerived Derived;
        TLightTable Light;
        std::int32_t W = 150, H = 97, Scale = 1;

        TScene(std::int32_t hoist, std::int32_t width, std::int32_t antialias, bool radial)
        {
            Params.Hoist = hoist;
            Params.HoistWidth = width;
            Params.Antialiasing = antialias;
            Params.Radial = radial;
            Params.Amplitude = 100;
            Params.Frequency = 70;
            Params.Angle = 40;
            Params.SpotX = 230;
            Params.SpotY = -260;
            Params.Distance = 15;
            Params.Frames = 6;
            Refresh();
        }
        void Refresh()
        {
            Derived = DeriveFlagValues(Params, W, H);
            Light = BuildLightTable(Params.Brightness, Params.Contrast, Params.InvertLightMode);
        }
        TFrameGeometry Geometry() const
        {
            return ComputeScaledFrameGeometry(
                Params, Derived, Texture.Width(), Texture.Height(), Scale);
        }
        void Render(TFrameStore& store, std::uint16_t k, std::uint16_t phi) const
        {
            RenderScaledFrame(store, k, phi, Params, Derived, Texture, Alpha, Light, Scale);
        }
        void RenderLoop(TFrameStore& store) const
        {
            for (std::int32_t k = 0; k < Params.Frames; ++k)
                Render(store, std::uint16_t(k), FramePhase(k, Params.Frames));
        }
        // The traced samples of pixel (x, y) of the rendered frame.
        std::vector<TSampleTrace> Samples(std::int32_t x, std::int32_t y, std::uint16_t phi) const
        {
            const TFrameGeometry g = Geometry();
            const std::int32_t n = 1 << Params.Antialiasing;
            std::vector<TSampleTrace> samples;
            for (std::int32_t j = 0; j < n; ++j)
                for (std::int32_t i = 0; i < n; ++i)
                    samples.push_back(TraceSample(g, Params.Radial, Texture.Width(),
                        Texture.Height(), x * n + i, y * n + j, phi));
            return samples;
        }
    };

    std::string Name(const TScene& s)
    {
        return "hoist " + std::to_string(s.Params.Hoist) + " width "
            + std::to_string(s.Params.HoistWidth) + " D " + std::to_string(s.Params.Antialiasing)
            + " radial " + std::to_string(s.Params.Radial) + " transparent "
            + std::to_string(s.Params.TransparentMode) + " alpha "
            + std::to_string(!s.Alpha.Empty()) + " scale " + std::to_string(s.Scale);
    }

    TEST(FlagRendererHoist, WithoutAHoistTheWidthAndThePoleChangeNothing)
    {
        for (const bool radial : { false, true })
            for (const std::int32_t d : { 0, 2 }) {
                TScene plain(hoNone, 30, d, radial);
                TScene other = plain;
                other.Params.HoistWidth = 0;
                other.Params.ShowPole = true;
                TFrameStore a, b;
                plain.Render(a, 0, 1234);
                other.Render(b, 0, 1234);
                EXPECT_TRUE(SameRows(a.FrameBitmaps[0], b.FrameBitmaps[0]));
                EXPECT_TRUE(SameRows(a.FrameMasks[0], b.FrameMasks[0]));
            }
    }

    TEST(FlagRendererHoist, WeightIsASmoothstepOverTheHoistWidth)
    {
        FlagParameters p;
        p.Hoist = hoLeft;
        p.HoistWidth = 40;
        const TFlagDerived derived = DeriveFlagValues(p, 150, 97);
        const TFrameGeometry g = ComputeFrameGeometry(p, derived, 100, 80);
        render_kernel::TSampler sampler(g, 100, 80, 0);
        // 40 % of 100 texels of 1024 units each.
        const std::int64_t span = 40 * 1024;
        EXPECT_EQ(sampler.HoistWeight(-5), 0);
        EXPECT_EQ(sampler.HoistWeight(0), 0);
        EXPECT_EQ(sampler.HoistWeight(span / 4), 640);
        EXPECT_EQ(sampler.HoistWeight(span / 2), 2048);
        EXPECT_LT(sampler.HoistWeight(span - 1), 4096);
        EXPECT_EQ(sampler.HoistWeight(span), 4096);
        EXPECT_EQ(sampler.HoistWeight(100 * span), 4096);
        sampler.HoistWidth = 0;
        EXPECT_EQ(sampler.HoistWeight(0), 0);
        EXPECT_EQ(sampler.HoistWeight(1), 4096);
    }

    // The pixels made only of samples at rest (the hoist edge's texels and
    // whatever lies beyond them) are the same in every frame, and they show
    // the edge; the first flag pixel of every row of the flag is in the same
    // column (a left or right hoist) or row in every frame; without the hoist
    // the same pixels move.
    TEST(FlagRendererHoist, HoistEdgeIsStillAndStraightInEveryFrame)
    {
        int cases = 0;
        for (const std::int32_t side : kSides)
            for (const std::int32_t width : { 0, 30 })
                for (const std::int32_t d : { 0, 1, 2 }) {
                    TScene s(side, width, d, (cases % 3) == 1);
                    s.Params.TransparentMode = cases % 2 == 0;
                    s.Params.BackgroundColor = 0x203040;
                    if (cases % 4 == 3) {
                        s.Alpha.SetSize(60, 40, 8);
                        for (std::int32_t y = 0; y < 40; ++y)
                            for (std::int32_t x = 0; x < 60; ++x)
                                s.Alpha.ScanLine(y)[x] = std::uint8_t(y % 7 == 3 ? 60 : 255);
                    }
                    ++cases;
                    SCOPED_TRACE(Name(s));
                    TFrameStore store, free;
                    s.RenderLoop(store);
                    TScene unpinned = s;
                    unpinned.Params.Hoist = hoNone;
                    unpinned.RenderLoop(free);

                    const bool columns = side == hoLeft || side == hoRight;
                    int still = 0, moving = 0;
                    for (std::int32_t y = 0; y < s.H; ++y)
                        for (std::int32_t x = 0; x < s.W; ++x) {
                            bool atRest = true, onEdge = false;
                            for (const TSampleTrace& t : s.Samples(x, y, 0)) {
                                atRest &= t.Damping == 0;
                                if (t.Inside)
                                    onEdge |= (columns ? t.U : t.V)
                                        == (side == hoLeft || side == hoTop ? 0
                                                                            : (columns ? 59 : 39));
                            }
                            if (!atRest || !onEdge)
                                continue;
                            ++still;
                            bool freeMoves = false;
                            for (std::int32_t k = 1; k < s.Params.Frames; ++k) {
                                ASSERT_EQ(0,
                                    std::memcmp(At(store.FrameBitmaps[k], x, y),
                                        At(store.FrameBitmaps[0], x, y), 3))
                                    << x << "," << y << " frame " << k;
                                ASSERT_EQ(At(store.FrameMasks[k], x, y)[0],
                                    At(store.FrameMasks[0], x, y)[0]);
                                freeMoves |= std::memcmp(At(free.FrameBitmaps[k], x, y),
                                                 At(free.FrameBitmaps[0], x, y), 3)
                                    != 0;
                            }
                            moving += freeMoves;
                        }
                    // The edge's pixels span the flag's height (or width).
                    EXPECT_GT(still, columns ? 40 : 60);
                    EXPECT_GT(moving, still / 2);

                    if (!s.Params.TransparentMode || !s.Alpha.Empty() || d != 0)
                        continue;
                    // Straight: across the middle third of the flag, every
                    // line (a row for a left or right hoist) begins in the
                    // same place in every frame and has no gap after it.
                    const std::int32_t lines = columns ? s.H : s.W;
                    const std::int32_t length = columns ? s.W : s.H;
                    const bool fromStart = side == hoLeft || side == hoTop;
                    std::int32_t first = -1;
                    for (std::int32_t k = 0; k < s.Params.Frames; ++k)
                        for (std::int32_t line = lines / 3; line < 2 * lines / 3; ++line) {
                            const auto mask = [&](std::int32_t at) {
                                return columns ? At(store.FrameMasks[k], at, line)[0]
                                               : At(store.FrameMasks[k], line, at)[0];
                            };
                            std::int32_t begin = -1;
                            for (std::int32_t i = 0; i < length && begin < 0; ++i)
                                if (mask(fromStart ? i : length - 1 - i) == 0)
                                    begin = fromStart ? i : length - 1 - i;
                            ASSERT_GE(begin, 0);
                            if (first < 0)
                                first = begin;
                            ASSERT_EQ(begin, first) << "line " << line << " frame " << k;
                            for (std::int32_t step = 1; step <= 5; ++step)
                                ASSERT_EQ(mask(fromStart ? begin + step : begin - step), 0)
                                    << "line " << line << " frame " << k << " step " << step;
                        }
                }
    }

    // With one phase everywhere (Frequency 0) the wave's strength at a
    // position is its damping alone: 0 at the edge and beyond, never falling
    // further in, and the free wave exactly from the hoist width on. The
    // shading follows it.
    TEST(FlagRendererHoist, WaveGrowsMonotonicallyAwayFromTheHoist)
    {
        for (const std::int32_t side : kSides)
            for (const std::int32_t width : { 0, 30, 100 }) {
                TScene s(side, width, 1, false);
                s.Params.Frequency = 0;
                s.Refresh();
                SCOPED_TRACE(Name(s));
                TScene unpinned = s;
                unpinned.Params.Hoist = hoNone;
                const TFrameGeometry g = s.Geometry();
                const TFrameGeometry free = unpinned.Geometry();
                const bool columns = side == hoLeft || side == hoRight;
                const bool fromFar = side == hoRight || side == hoBottom;
                const std::int32_t count = (columns ? s.W : s.H) * 2;
                // Phase -3072: the sine is at its crest, the light level 0;
                // phase -2048 + 300: both the scale and the light are moved.
                for (const std::uint16_t phi : { 3072, 2348 }) {
                    std::int64_t lastSwing = 0;
                    std::int32_t lastWeight = 0;
                    int full = 0, partial = 0, damped = 0;
                    for (std::int32_t i = 0; i < count; ++i) {
                        const std::int32_t c = fromFar ? count - 1 - i : i;
                        const std::int32_t X = columns ? c : 77;
                        const std::int32_t Y = columns ? 50 : c;
                        const TSampleTrace t = TraceSample(g, false, 60, 40, X, Y, phi);
                        const TSampleTrace f = TraceSample(free, false, 60, 40, X, Y, phi);
                        const std::int64_t swing = std::abs(t.LocalScale - g.Scale);
                        ASSERT_GE(t.Damping, lastWeight) << c;
                        ASSERT_GE(swing, lastSwing) << c;
                        ASSERT_LE(swing, std::abs(f.LocalScale - g.Scale));
                        const std::int64_t restTexel = columns ? f.U : f.V;
                        const bool beyond
                            = fromFar ? restTexel >= (columns ? 59 : 39) : restTexel <= 0;
                        if (phi == 3072 && beyond) {
                            ASSERT_EQ(t.Damping, 0);
                        }
                        if (t.Damping == 4096) {
                            ++full;
                            ASSERT_EQ(t.LocalScale, f.LocalScale);
                            ASSERT_EQ(t.U, f.U);
                            ASSERT_EQ(t.V, f.V);
                            if (t.Inside) {
                                ASSERT_EQ(t.Light, f.Light);
                            }
                        } else if (t.Damping > 0) {
                            ++partial;
                        }
                        if (t.Inside) {
                            // The light its texel would get from the free wave.
                            const std::int32_t undamped = FixedCos(t.Phase + t.Bump, 16);
                            ASSERT_LE(std::abs(t.Light), std::abs(undamped));
                            if (t.Damping == 0) {
                                ASSERT_EQ(t.Light, 0);
                            }
                            damped += std::abs(t.Light) < std::abs(undamped);
                        }
                        lastSwing = swing;
                        lastWeight = t.Damping;
                    }
                    EXPECT_EQ(lastWeight, 4096);
                    EXPECT_GT(full, 0);
                    if (width == 0) {
                        EXPECT_EQ(partial, 0);
                    } else {
                        EXPECT_GT(partial, width == 100 ? count / 2 : count / 10);
                    }
                    if (phi == 2348 && width > 0) {
                        EXPECT_GT(damped, 0);
                    }
                }
            }
    }

    TEST(FlagRendererHoist, FrameAfterTheLastEqualsTheFirst)
    {
        for (const std::int32_t side : kSides)
            for (const bool radial : { false, true }) {
                TScene s(side, 30, 1, radial);
                s.Params.ShowPole = true;
                TFrameStore store;
                s.Render(store, 0, FramePhase(0, 6));
                s.Render(store, 1, FramePhase(6, 6));
                s.Render(store, 2, FramePhase(1, 6));
                EXPECT_TRUE(SameRows(store.FrameBitmaps[0], store.FrameBitmaps[1]));
                EXPECT_TRUE(SameRows(store.FrameMasks[0], store.FrameMasks[1]));
                EXPECT_FALSE(SameRows(store.FrameBitmaps[0], store.FrameBitmaps[2]));
            }
    }

    // The pole: opaque (mask 0) wherever all of a pixel's samples are on it,
    // the lit pole colours there, a band along the whole hoist edge and the
    // finial inside the frame, the same in every frame; the light table's
    // brightness and inversion reach it; without ShowPole the band is off the
    // flag.
    TEST(FlagRendererHoist, PoleStandsBesideTheHoistEdge)
    {
        for (const std::int32_t side : kSides)
            for (const std::int32_t d : { 0, 2 }) {
                TScene s(side, 30, d, side == hoTop);
                s.Params.ShowPole = true;
                LoadDefaultImage(s.Texture);
                s.Params.SpotX = 0;
                s.Params.SpotY = 0;
                s.Params.Distance = 0;
                s.Refresh();
                SCOPED_TRACE(Name(s));
                TFrameStore store, bright, inverted, without;
                s.RenderLoop(store);
                TScene brighter = s;
                brighter.Params.Brightness = 160;
                brighter.Refresh();
                brighter.Render(bright, 0, 0);
                TScene swapped = s;
                swapped.Params.InvertLightMode = true;
                swapped.Refresh();
                swapped.Render(inverted, 0, 0);
                TScene bare = s;
                bare.Params.ShowPole = false;

                const std::int32_t n = 1 << d;
                int shaft = 0, finial = 0, brighter_ = 0, darkSide = 0, lightSide = 0;
                for (std::int32_t y = 0; y < s.H; ++y)
                    for (std::int32_t x = 0; x < s.W; ++x) {
                        const std::vector<TSampleTrace> samples = s.Samples(x, y, 0);
                        bool allPole = true, anyFinial = false;
                        std::uint32_t sums[3] = { 0, 0, 0 };
                        std::int32_t level = 0;
                        for (const TSampleTrace& t : samples) {
                            allPole &= t.Pole && !t.Inside;
                            anyFinial |= t.Pole && t.PoleColor[0] == 48;
                            for (int c = 0; c < 3; ++c)
                                sums[c] += s.Light[16 - t.PoleLight][t.PoleColor[c]];
                            level += t.PoleLight;
                        }
                        if (anyFinial) {
                            ++finial;
                            EXPECT_TRUE(x > 0 && y > 0 && x < s.W - 1 && y < s.H - 1)
                                << x << "," << y;
                        }
                        if (!allPole)
                            continue;
                        ++shaft;
                        for (std::int32_t k = 0; k < s.Params.Frames; ++k) {
                            ASSERT_EQ(At(store.FrameMasks[k], x, y)[0], 0) << x << "," << y;
                            for (int c = 0; c < 3; ++c)
                                ASSERT_EQ(At(store.FrameBitmaps[k], x, y)[c], sums[c] >> (2 * d));
                        }
                        brighter_ += At(bright.FrameBitmaps[0], x, y)[1]
                            > At(store.FrameBitmaps[0], x, y)[1];
                        // Lit from the left or from above: the bright side's
                        // levels are negative, and inverted light darkens it.
                        if (level < -4 * n * n) {
                            ++lightSide;
                            EXPECT_LT(At(inverted.FrameBitmaps[0], x, y)[1],
                                At(store.FrameBitmaps[0], x, y)[1]);
                        } else if (level > 4 * n * n) {
                            ++darkSide;
                            EXPECT_GT(At(inverted.FrameBitmaps[0], x, y)[1],
                                At(store.FrameBitmaps[0], x, y)[1]);
                        }
                    }
                // A band at least 3 pixels wide along the flag's extent.
                const bool vertical = side == hoLeft || side == hoRight;
                EXPECT_GT(shaft, 3 * (vertical ? s.H : s.W) * 3 / 4);
                EXPECT_GT(finial, 4);
                EXPECT_GT(brighter_, shaft / 2);
                EXPECT_GT(lightSide, 0);
                EXPECT_GT(darkSide, 0);

                // Without the pole, the same samples are off the flag.
                const TFrameGeometry g = bare.Geometry();
                int off = 0;
                for (std::int32_t y = 0; y < s.H * n; ++y)
                    for (std::int32_t x = 0; x < s.W * n; ++x) {
                        const TSampleTrace t
                            = TraceSample(g, bare.Params.Radial, 150, 100, x, y, 0);
                        ASSERT_FALSE(t.Pole);
                        off += !t.Inside;
                    }
                EXPECT_GT(off, 0);
            }
    }

    // A transparent GIF keeps the pole: the pixels whose mask is 0 beside the
    // hoist are not the transparent index, in every frame.
    TEST(FlagRendererHoist, PoleIsOpaqueInTheGIF)
    {
        TScene s(hoLeft, 30, 1, false);
        s.Params.ShowPole = true;
        s.Params.Frames = 3;
        s.W = 64;
        s.H = 48;
        s.Refresh();
        TFrameStore store;
        TExportOptions options;
        options.Frames = 3;
        const auto gif = BuildExportGif(store, options,
            [&](std::int32_t k, std::uint16_t phase) { s.Render(store, std::uint16_t(k), phase); });
        const auto decoded = gif_test::GiflibDecode(gif->SaveToBytes());
        ASSERT_EQ(decoded.Frames.size(), 3u);
        for (std::int32_t k = 0; k < 3; ++k) {
            const auto& frame = decoded.Frames[std::size_t(k)];
            ASSERT_GE(frame.TransparentIndex, 0);
            int pole = 0, transparent = 0;
            for (std::int32_t y = 0; y < s.H; ++y)
                for (std::int32_t x = 0; x < s.W; ++x) {
                    const std::uint8_t index = frame.Pixels[std::size_t(y * frame.Width + x)];
                    const bool poleHere = s.Samples(x, y, FramePhase(k, 3))[0].Pole
                        && At(store.FrameMasks[k], x, y)[0] == 0
                        && !s.Samples(x, y, FramePhase(k, 3))[0].Inside;
                    pole += poleHere;
                    transparent += index == frame.TransparentIndex;
                    if (poleHere) {
                        ASSERT_NE(index, frame.TransparentIndex) << x << "," << y;
                    }
                    ASSERT_EQ(
                        index == frame.TransparentIndex, At(store.FrameMasks[k], x, y)[0] == 255);
                }
            EXPECT_GT(pole, 48);
            EXPECT_GT(transparent, 100);
        }
    }

    // A sample of a scaled frame on a sample position of the unscaled frame
    // is that sample, hoist and pole included, at every export scale.
    TEST(FlagRendererHoist, ScaledFramesDampAndDrawTheSameFlag)
    {
        for (const std::int32_t side : kSides) {
            TScene s(side, 45, 1, false);
            s.Params.ShowPole = true;
            const TFrameGeometry one = s.Geometry();
            for (const std::int32_t k : kExportScales) {
                s.Scale = k;
                const TFrameGeometry g = s.Geometry();
                int pole = 0, partial = 0;
                for (std::int32_t Y = 0; Y < s.H * 2; Y += 3)
                    for (std::int32_t X = 0; X < s.W * 2; X += 2) {
                        const TSampleTrace want = TraceSample(one, false, 60, 40, X, Y, 999);
                        const TSampleTrace got = TraceSample(g, false, 60, 40, X * k, Y * k, 999);
                        ASSERT_EQ(got.Damping, want.Damping) << k << ":" << X << "," << Y;
                        ASSERT_EQ(got.LocalScale, want.LocalScale);
                        ASSERT_EQ(got.U, want.U) << k << ":" << X << "," << Y;
                        ASSERT_EQ(got.V, want.V);
                        ASSERT_EQ(got.Light, want.Light);
                        ASSERT_EQ(got.Pole, want.Pole) << k << ":" << X << "," << Y;
                        ASSERT_EQ(got.PoleLight, want.PoleLight);
                        ASSERT_EQ(0, std::memcmp(got.PoleColor, want.PoleColor, 3));
                        pole += want.Pole;
                        partial += want.Damping > 0 && want.Damping < 4096;
                    }
                EXPECT_GT(pole, 50) << k;
                EXPECT_GT(partial, 500) << k;
            }
        }
    }

    TEST(FlagRendererHoist, RefusesAHoistOrWidthOutOfRange)
    {
        for (const auto& [hoist, width] : { std::pair { -1, 30 }, std::pair { 5, 30 },
                 std::pair { int(hoLeft), -1 }, std::pair { int(hoTop), 101 } }) {
            FlagParameters p;
            p.Hoist = hoist;
            p.HoistWidth = width;
            const TFlagDerived derived = DeriveFlagValues(p, 150, 97);
            TFrameStore store;
            EXPECT_THROW(RenderFrame(store, 0, 0, p, derived, DetailedTexture(20, 10),
                             BuildLightTable(100, 50, false)),
                EInvalidGraphicOperation)
                << hoist << " " << width;
            EXPECT_FALSE(store.FrameRendered[0]);
        }
    }

} // namespace
} // namespace zx
