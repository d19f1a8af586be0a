// The coverage frames: every pixel as a sample-by-sample model over
// TraceSample works it out (at each antialiasing level and export scale,
// both waves, with and without the picture's alpha, hoist and pole); alpha
// in steps of 1/16 and 1/4 along a known straight edge, 0 or 255 without
// antialiasing; no fringe on a white flag; a picture's own alpha in the
// frame; the ordinary frame wherever a pixel is wholly covered and against
// a background colour; the side-by-side render equal to the plain one.

#include "core/flag/FlagRendererCoverage.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/imaging/DefaultImage.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace zx {
namespace {

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

    // A picture of w x h with colours that differ from texel to texel, and
    // an alpha plane that runs through 0, 255 and everything between.
    TDIB Picture(std::int32_t w, std::int32_t h)
    {
        TDIB picture;
        picture.SetSize(w, h, 24);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                std::uint8_t* p = picture.ScanLine(y) + 3 * x;
                p[0] = std::uint8_t(x * 7 + y);
                p[1] = std::uint8_t(y * 9 + 20);
                p[2] = std::uint8_t(230 - x * 3);
            }
        return picture;
    }

    TDIB RampAlpha(std::int32_t w, std::int32_t h)
    {
        TDIB alpha;
        alpha.SetSize(w, h, 8);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                const std::int32_t a = (x * 41 + y * 23) % 320 - 32;
                alpha.ScanLine(y)[x] = std::uint8_t(std::clamp(a, 0, 255));
            }
        return alpha;
    }

    TDIB ConstantAlpha(std::int32_t w, std::int32_t h, std::uint8_t value)
    {
        TDIB alpha;
        alpha.SetSize(w, h, 8);
        for (std::int32_t y = 0; y < h; ++y)
            std::memset(alpha.ScanLine(y), value, std::size_t(w));
        return alpha;
    }

    struct TScene {
        FlagParameters Params;
        TFlagDerived Derived;
        TDIB Texture;
        TDIB Alpha;
        TLightTable Light;
        std::int32_t Scale = 1;
        std::uint16_t Phase = 1234;

        TScene(std::int32_t antialias, TDIB texture, TDIB alpha, std::int32_t w = 40,
            std::int32_t h = 26)
            : Texture(std::move(texture))
            , Alpha(std::move(alpha))
        {
            Params.Antialiasing = antialias;
            Params.TransparentMode = true;
            Params.BackgroundColor = 0x305090;
            Params.Distance = 30;
            Params.SpotX = 150;
            Params.SpotY = -60;
            Resize(w, h);
        }
        void Resize(std::int32_t w, std::int32_t h)
        {
            Derived = DeriveFlagValues(Params, w, h);
            Light = BuildLightTable(Params.Brightness, Params.Contrast, Params.InvertLightMode);
        }
        void Render(TDIB& colour, TDIB& alpha) const
        {
            RenderCoverageFrame(
                colour, alpha, Phase, Params, Derived, Texture, Alpha, Light, Scale);
        }
        std::string Name() const
        {
            return "D " + std::to_string(Params.Antialiasing) + " scale " + std::to_string(Scale)
                + (Params.Radial ? " radial" : " directional") + " hoist "
                + std::to_string(Params.Hoist) + (Alpha.Empty() ? "" : " alpha");
        }
    };

    // Pixel (x, y) as the samples TraceSample follows make it: each counts
    // by its texel's alpha (the pole by 255, a partly clear texel laid over
    // the pole), colours lit through the table and averaged by those counts.
    void ExpectedPixel(const TScene& s, const TFrameGeometry& g, std::int32_t x, std::int32_t y,
        std::uint8_t bgr[3], std::uint8_t& alpha)
    {
        const std::int32_t n = 1 << g.D;
        std::uint64_t sum[3] = { 0, 0, 0 };
        std::uint64_t covered = 0;
        for (std::int32_t j = 0; j < n; ++j)
            for (std::int32_t i = 0; i < n; ++i) {
                const TSampleTrace t = TraceSample(g, s.Params.Radial, s.Texture.Width(),
                    s.Texture.Height(), x * n + i, y * n + j, s.Phase);
                std::uint32_t a = 0;
                std::uint32_t c[3] = { 0, 0, 0 };
                if (t.Inside) {
                    a = s.Alpha.Empty() ? 255 : s.Alpha.ConstScanLine(std::int32_t(t.V))[t.U];
                    const std::uint8_t* texel
                        = s.Texture.ConstScanLine(std::int32_t(t.V)) + 3 * t.U;
                    for (int k = 0; k < 3; ++k)
                        c[k] = s.Light[std::size_t(16 - t.Light)][texel[k]];
                }
                if (t.Pole && a < 255) {
                    for (int k = 0; k < 3; ++k) {
                        const std::uint32_t pole
                            = s.Light[std::size_t(16 - t.PoleLight)][t.PoleColor[k]];
                        c[k] = (c[k] * a + pole * (255 - a) + 127) / 255;
                    }
                    a = 255;
                }
                for (int k = 0; k < 3; ++k)
                    sum[k] += std::uint64_t(c[k]) * a;
                covered += a;
            }
        const std::uint64_t samples = std::uint64_t(n) * n;
        alpha = std::uint8_t((covered + samples / 2) / samples);
        for (int k = 0; k < 3; ++k)
            bgr[k] = covered == 0 ? 0 : std::uint8_t(sum[k] / covered);
    }

    // Checks the frame against ExpectedPixel; returns how many pixels are
    // neither clear nor opaque.
    std::int32_t ExpectModel(const TScene& s)
    {
        SCOPED_TRACE(s.Name());
        TDIB colour, alpha;
        s.Render(colour, alpha);
        const TFrameGeometry g = ComputeScaledFrameGeometry(
            s.Params, s.Derived, s.Texture.Width(), s.Texture.Height(), s.Scale);
        EXPECT_EQ(colour.Width(), g.Width);
        EXPECT_EQ(alpha.Height(), g.Height);
        EXPECT_EQ(colour.BitCount(), 24);
        EXPECT_EQ(alpha.BitCount(), 8);
        std::int32_t partial = 0, wrong = 0;
        for (std::int32_t y = 0; y < g.Height; ++y)
            for (std::int32_t x = 0; x < g.Width; ++x) {
                std::uint8_t bgr[3];
                std::uint8_t a;
                ExpectedPixel(s, g, x, y, bgr, a);
                const std::uint8_t* p = colour.ConstScanLine(y) + 3 * x;
                const std::uint8_t got = alpha.ConstScanLine(y)[x];
                if (got != a || std::memcmp(p, bgr, 3) != 0) {
                    if (++wrong <= 5)
                        ADD_FAILURE() << "pixel " << x << "," << y << ": alpha " << int(got)
                                      << " want " << int(a) << ", colour " << int(p[0]) << " "
                                      << int(p[1]) << " " << int(p[2]) << " want " << int(bgr[0])
                                      << " " << int(bgr[1]) << " " << int(bgr[2]);
                }
                partial += a != 0 && a != 255;
            }
        EXPECT_EQ(wrong, 0);
        return partial;
    }

    TEST(FlagRendererCoverage, EveryPixelIsTheMeanOfItsCoveringSamples)
    {
        // 60 x 40 texels: the texel table is used at 2 x 2 and 4 x 4 and at
        // scale 2, worked out per sample without antialiasing.
        for (const std::int32_t hoist : { hoNone, hoLeft, hoTop }) {
            for (const bool withAlpha : { false, true }) {
                for (const std::int32_t d : { 0, 1, 2 }) {
                    TScene s(d, Picture(60, 40), withAlpha ? RampAlpha(60, 40) : TDIB(), 40, 26);
                    s.Params.Hoist = hoist;
                    s.Params.ShowPole = hoist != hoNone;
                    s.Params.HoistWidth = 40;
                    s.Resize(40, 26);
                    const std::int32_t partial = ExpectModel(s);
                    if (d > 0 || withAlpha)
                        EXPECT_GT(partial, 0) << s.Name();
                    else
                        EXPECT_EQ(partial, 0) << s.Name();
                }
            }
        }
    }

    TEST(FlagRendererCoverage, ScaledAndRadialFramesFollowTheSameSamples)
    {
        for (const std::int32_t scale : { 2, 3 }) {
            for (const bool radial : { false, true }) {
                TScene s(scale == 2 ? 2 : 1, Picture(50, 34), RampAlpha(50, 34), 24, 16);
                s.Params.Radial = radial;
                s.Params.Hoist = radial ? hoRight : hoBottom;
                s.Params.ShowPole = true;
                s.Resize(24, 16);
                s.Scale = scale;
                EXPECT_GT(ExpectModel(s), 0);
            }
        }
    }

    // A flag that does not wave (no amplitude, no bumps): its left and
    // right edges are straight columns of samples.
    TScene StillFlag(std::int32_t d, TDIB alpha = TDIB())
    {
        TScene s(d, Picture(60, 40), std::move(alpha), 40, 26);
        s.Params.Amplitude = 0;
        s.Params.BumpIntensity = 0;
        s.Params.SpotX = 0;
        s.Params.SpotY = 0;
        // Far enough away that the flag's edges lie inside the frame.
        s.Params.Distance = 37;
        s.Resize(40, 26);
        return s;
    }

    TEST(FlagRendererCoverage, AStraightEdgeCoversInStepsOfTheSampleGrid)
    {
        for (const std::int32_t d : { 0, 1, 2 }) {
            SCOPED_TRACE("D " + std::to_string(d));
            const TScene s = StillFlag(d);
            TDIB colour, alpha;
            s.Render(colour, alpha);
            const std::int32_t n = 1 << d;
            std::set<std::uint32_t> steps;
            for (std::int32_t k = 0; k <= n * n; ++k)
                steps.insert((255u * std::uint32_t(k) + std::uint32_t(n * n / 2)) / (n * n));
            std::set<std::uint32_t> seen;
            for (std::int32_t y = 0; y < alpha.Height(); ++y)
                for (std::int32_t x = 0; x < alpha.Width(); ++x) {
                    const std::uint32_t a = alpha.ConstScanLine(y)[x];
                    EXPECT_TRUE(steps.count(a)) << x << "," << y << ": " << a;
                    seen.insert(a);
                }
            EXPECT_TRUE(seen.count(0));
            EXPECT_TRUE(seen.count(255));
            if (d == 0) {
                EXPECT_EQ(seen.size(), 2u);
                continue;
            }
            // The row through the middle: clear, then one partly covered
            // column (whole sample columns of it, n samples each), then the
            // flag.
            const std::int32_t mid = alpha.Height() / 2;
            const std::uint8_t* row = alpha.ConstScanLine(mid);
            std::int32_t edge = 0;
            while (edge < alpha.Width() && row[edge] == 0)
                ++edge;
            ASSERT_GT(edge, 0);
            ASSERT_LT(edge + 1, alpha.Width());
            const std::uint32_t a = row[edge];
            ASSERT_GT(a, 0u);
            ASSERT_LT(a, 255u) << "the edge falls between pixels; move it";
            EXPECT_EQ(row[edge + 1], 255);
            bool wholeColumns = false;
            for (std::int32_t columns = 1; columns < n; ++columns)
                wholeColumns |= a
                    == (255u * std::uint32_t(columns * n) + std::uint32_t(n * n / 2))
                        / std::uint32_t(n * n);
            EXPECT_TRUE(wholeColumns) << a;
            // The same share all along the edge, away from the corners.
            for (std::int32_t y = mid - 3; y <= mid + 3; ++y)
                EXPECT_EQ(alpha.ConstScanLine(y)[edge], a) << y;
        }
    }

    TEST(FlagRendererCoverage, AWhiteFlagHasOnlyWhiteAtItsEdges)
    {
        // Contrast 0 lights every part of the flag alike, so the flag is
        // white wherever it is. Under the clear texels the picture is black,
        // which must not reach the frame either.
        TDIB white, blackUnderClear;
        white.SetSize(60, 40, 24);
        blackUnderClear.SetSize(60, 40, 24);
        TDIB alpha = RampAlpha(60, 40);
        for (std::int32_t y = 0; y < 40; ++y) {
            std::memset(white.ScanLine(y), 255, 3 * 60);
            for (std::int32_t x = 0; x < 60; ++x)
                std::memset(
                    blackUnderClear.ScanLine(y) + 3 * x, alpha.ScanLine(y)[x] == 0 ? 0 : 255, 3);
        }
        for (const bool soft : { false, true }) {
            for (const std::int32_t d : { 1, 2 }) {
                SCOPED_TRACE(std::string(soft ? "soft" : "opaque") + " D " + std::to_string(d));
                TScene s(d, soft ? blackUnderClear : white, soft ? alpha : TDIB());
                s.Params.Contrast = 0;
                s.Resize(40, 26);
                TDIB colour, plane;
                s.Render(colour, plane);
                std::int32_t partial = 0;
                for (std::int32_t y = 0; y < plane.Height(); ++y)
                    for (std::int32_t x = 0; x < plane.Width(); ++x) {
                        const std::uint8_t a = plane.ConstScanLine(y)[x];
                        const std::uint8_t* p = colour.ConstScanLine(y) + 3 * x;
                        if (a == 0)
                            continue;
                        partial += a != 255;
                        EXPECT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255)
                            << x << "," << y << " alpha " << int(a) << ": " << int(p[0]) << " "
                            << int(p[1]) << " " << int(p[2]);
                    }
                EXPECT_GT(partial, 20);
            }
        }
    }

    TEST(FlagRendererCoverage, APicturesOwnAlphaReachesTheFrame)
    {
        for (const std::int32_t d : { 0, 2 }) {
            SCOPED_TRACE("D " + std::to_string(d));
            TScene s = StillFlag(d, ConstantAlpha(60, 40, 100));
            s.Params.Contrast = 0;
            s.Resize(40, 26);
            TDIB colour, alpha, opaqueColour, opaqueAlpha;
            s.Render(colour, alpha);
            TScene opaque = s;
            opaque.Alpha = TDIB();
            opaque.Render(opaqueColour, opaqueAlpha);
            std::int32_t inside = 0;
            for (std::int32_t y = 0; y < alpha.Height(); ++y)
                for (std::int32_t x = 0; x < alpha.Width(); ++x) {
                    const std::uint32_t full = opaqueAlpha.ConstScanLine(y)[x];
                    const std::uint32_t a = alpha.ConstScanLine(y)[x];
                    // 100 / 255 of the opaque flag's coverage, as rounded
                    // from the same samples.
                    const std::uint32_t samples = 1u << (2 * d);
                    const std::uint32_t on = (full * samples + 127) / 255;
                    EXPECT_EQ(a, (on * 100 + samples / 2) / samples) << x << "," << y;
                    if (full == 255) {
                        ++inside;
                        // The colours are the picture's own.
                        EXPECT_EQ(0,
                            std::memcmp(colour.ConstScanLine(y) + 3 * x,
                                opaqueColour.ConstScanLine(y) + 3 * x, 3))
                            << x << "," << y;
                    }
                }
            EXPECT_GT(inside, 100);
        }
    }

    TEST(FlagRendererCoverage, WhollyCoveredPixelsAreTheOrdinaryFrames)
    {
        // An opaque picture: a pixel is opaque exactly where the ordinary
        // transparent frame has it on the flag, in the same colour.
        TDIB picture;
        LoadDefaultImage(picture);
        for (const std::int32_t hoist : { hoNone, hoRight }) {
            for (const std::int32_t scale : { 1, 2, 3 }) {
                for (const std::int32_t d : { 0, 1, 2 }) {
                    TScene s(d, picture, TDIB(), 61, 43);
                    s.Params.Radial = scale == 2;
                    s.Params.Hoist = hoist;
                    s.Params.ShowPole = hoist != hoNone;
                    s.Resize(61, 43);
                    s.Scale = scale;
                    SCOPED_TRACE(s.Name());
                    TDIB colour, alpha;
                    s.Render(colour, alpha);
                    TFrameStore store;
                    RenderScaledFrame(
                        store, 0, s.Phase, s.Params, s.Derived, s.Texture, TDIB(), s.Light, scale);
                    const TDIB& frame = store.FrameBitmaps[0];
                    const TDIB& mask = store.FrameMasks[0];
                    ASSERT_EQ(frame.Width(), colour.Width());
                    std::int32_t opaque = 0, wrong = 0;
                    for (std::int32_t y = 0; y < frame.Height(); ++y)
                        for (std::int32_t x = 0; x < frame.Width(); ++x) {
                            const bool on = mask.ConstScanLine(y)[x] == 0;
                            const bool full = alpha.ConstScanLine(y)[x] == 255;
                            wrong += on != full;
                            if (on && full) {
                                ++opaque;
                                wrong += std::memcmp(frame.ConstScanLine(y) + 3 * x,
                                             colour.ConstScanLine(y) + 3 * x, 3)
                                    != 0;
                            }
                        }
                    EXPECT_EQ(wrong, 0);
                    EXPECT_GT(opaque, frame.Width() * frame.Height() / 4);
                }
            }
        }
    }

    TEST(FlagRendererCoverage, AgainstABackgroundColourTheFrameIsTheOrdinaryOneOpaque)
    {
        for (const bool withAlpha : { false, true }) {
            for (const std::int32_t scale : { 1, 2 }) {
                TScene s(2, Picture(60, 40), withAlpha ? RampAlpha(60, 40) : TDIB());
                s.Params.TransparentMode = false;
                s.Params.Hoist = hoLeft;
                s.Params.ShowPole = true;
                s.Resize(40, 26);
                s.Scale = scale;
                SCOPED_TRACE(s.Name());
                TDIB colour, alpha;
                s.Render(colour, alpha);
                TFrameStore store;
                RenderScaledFrame(
                    store, 3, s.Phase, s.Params, s.Derived, s.Texture, s.Alpha, s.Light, scale);
                EXPECT_TRUE(SameRows(colour, store.FrameBitmaps[3]));
                for (std::int32_t y = 0; y < alpha.Height(); ++y)
                    for (std::int32_t x = 0; x < alpha.Width(); ++x)
                        ASSERT_EQ(alpha.ConstScanLine(y)[x], 255) << x << "," << y;
            }
        }
    }

    TEST(FlagRendererCoverage, SideBySideEqualsOneAfterAnother)
    {
        TScene s(2, Picture(60, 40), RampAlpha(60, 40));
        s.Params.Hoist = hoTop;
        s.Params.ShowPole = true;
        s.Resize(40, 26);
        s.Scale = 2;
        const std::vector<std::uint16_t> phases { 0, 700, 1400, 2100, 2800, 3500 };
        for (const unsigned workers : { 1u, 3u, 0u }) {
            SCOPED_TRACE(workers);
            const TCoverageFrames frames = RenderCoverageFrames(
                phases, s.Params, s.Derived, s.Texture, s.Alpha, s.Light, s.Scale, workers);
            ASSERT_EQ(frames.Colours.size(), phases.size());
            ASSERT_EQ(frames.Alpha.size(), phases.size());
            for (std::size_t i = 0; i < phases.size(); ++i) {
                TScene one = s;
                one.Phase = phases[i];
                TDIB colour, alpha;
                one.Render(colour, alpha);
                EXPECT_TRUE(SameRows(frames.Colours[i], colour)) << i;
                EXPECT_TRUE(SameRows(frames.Alpha[i], alpha)) << i;
            }
            // The frames have pixels of their own.
            EXPECT_NE(frames.Colours[0].ConstScanLine(0), frames.Colours[1].ConstScanLine(0));
        }
        EXPECT_TRUE(RenderCoverageFrames({}, s.Params, s.Derived, s.Texture, s.Alpha, s.Light, 1, 0)
                        .Colours.empty());
    }

    TEST(FlagRendererCoverage, BadInputIsRefusedAndACancelStopsTheRender)
    {
        const TScene s(1, Picture(60, 40), RampAlpha(60, 40));
        TDIB colour, alpha;
        EXPECT_THROW(
            RenderCoverageFrame(colour, alpha, 0, s.Params, s.Derived, TDIB(), TDIB(), s.Light, 1),
            EInvalidGraphicOperation);
        EXPECT_THROW(RenderCoverageFrame(colour, alpha, 0, s.Params, s.Derived, s.Texture,
                         RampAlpha(59, 40), s.Light, 1),
            EInvalidGraphicOperation);
        EXPECT_THROW(RenderCoverageFrame(
                         colour, alpha, 0, s.Params, s.Derived, s.Texture, s.Alpha, s.Light, 5),
            EInvalidGraphicOperation);
        EXPECT_TRUE(colour.Empty());

        TCancelToken token;
        const TCancelScope scope(&token);
        token.Cancel();
        const std::vector<std::uint16_t> phases { 0, 1, 2 };
        EXPECT_THROW(
            RenderCoverageFrames(phases, s.Params, s.Derived, s.Texture, s.Alpha, s.Light, 1, 2),
            ECancelled);
    }

} // namespace
} // namespace zx
