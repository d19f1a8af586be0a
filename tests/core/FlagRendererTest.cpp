#include "core/flag/FlagRenderer.h"

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/flag/LightTable.h"
#include "core/flag/XSinusUnit.h"
#include "core/imaging/DefaultImage.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace zx {
namespace {

    // A 24-bit texture in which neighbouring texels differ, so that a wrong texel
    // position shows.
    TDIB MakeTexture(std::int32_t width, std::int32_t height)
    {
        TDIB texture;
        texture.SetSize(width, height, 24);
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint8_t* row = texture.ScanLine(y);
            for (std::int32_t x = 0; x < width; ++x) {
                row[3 * x + 0] = static_cast<std::uint8_t>(x * 7 + y * 3);
                row[3 * x + 1] = static_cast<std::uint8_t>(x * x + y * 11);
                row[3 * x + 2] = static_cast<std::uint8_t>(((x ^ y) * 5) + 40);
            }
        }
        return texture;
    }

    const std::uint8_t* PixelAt(const TDIB& picture, std::int32_t x, std::int32_t y)
    {
        return picture.ConstScanLine(y) + x * (picture.BitCount() / 8);
    }

    bool SameRows(const TDIB& a, const TDIB& b)
    {
        if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
            return false;
        const std::size_t bytes = static_cast<std::size_t>(a.Width()) * (a.BitCount() / 8);
        for (std::int32_t y = 0; y < a.Height(); ++y) {
            if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), bytes) != 0)
                return false;
        }
        return true;
    }

    struct RenderSetup {
        FlagParameters Params;
        TFlagDerived Derived;
        TDIB Texture;
        TLightTable Light;
        TFrameStore Store;

        RenderSetup(std::int32_t texW, std::int32_t texH, std::int32_t W, std::int32_t H)
            : Texture(MakeTexture(texW, texH))
        {
            Refresh(W, H);
        }
        void Refresh(std::int32_t W, std::int32_t H)
        {
            Derived = DeriveFlagValues(Params, W, H);
            Light = BuildLightTable(Params.Brightness, Params.Contrast, Params.InvertLightMode);
        }
        TFrameGeometry Geometry() const
        {
            return ComputeFrameGeometry(Params, Derived, Texture.Width(), Texture.Height());
        }
        void Render(std::uint16_t k, std::uint16_t phi)
        {
            RenderFrame(Store, k, phi, Params, Derived, Texture, Light);
        }
    };

    TEST(FlagRenderer, GeometryOfTheWorkedExample)
    {
        RenderSetup setup(150, 100, 150, 97);
        const TFrameGeometry g = setup.Geometry();
        EXPECT_EQ(g.FitTex, 100);
        EXPECT_EQ(g.FitOut, 97);
        EXPECT_EQ(g.Zoom, 1074);
        EXPECT_EQ(g.Scale, 1107);
        EXPECT_EQ(g.SpotPxX, 75);
        EXPECT_EQ(g.SpotPxY, 48);
        EXPECT_EQ(g.TexAnchorX, 74);
        EXPECT_EQ(g.TexAnchorY, 49);
        EXPECT_EQ(setup.Derived.FreqCos, 48);
        EXPECT_EQ(setup.Derived.FreqSin, 12);
        EXPECT_EQ(g.StepX, 77);
        EXPECT_EQ(g.StepY, 19);
        EXPECT_EQ(g.RadialStep, 81);
        EXPECT_EQ(g.WaveAmp, 25);
        EXPECT_EQ(g.BumpAmp, 50);
        EXPECT_EQ(g.B1, 99);
        EXPECT_EQ(g.B2, 144);
        EXPECT_EQ(g.B3, 189);
        EXPECT_EQ(g.B4, 234);
        // The ring centre lies half-way between the frame centre and the pin.
        EXPECT_EQ(g.Cx, 75);
        EXPECT_EQ(g.Cy, 48);
    }

    TEST(FlagRenderer, PixelsOfTheWorkedExample)
    {
        RenderSetup setup(150, 100, 150, 97);
        const TFrameGeometry g = setup.Geometry();

        const TSampleTrace corner = TraceSample(g, false, 150, 100, 0, 0, 0);
        EXPECT_EQ(corner.Phase, 0);
        EXPECT_EQ(corner.LocalScale, 1107);
        EXPECT_EQ(corner.U, -8);
        EXPECT_EQ(corner.V, -3);
        EXPECT_FALSE(corner.Inside);

        const TSampleTrace pin = TraceSample(g, false, 150, 100, 75, 48, 0);
        EXPECT_EQ(pin.Phase, 4863);
        EXPECT_EQ(pin.LocalScale, 1084);
        EXPECT_EQ(pin.U, 74);
        EXPECT_EQ(pin.V, 49);
        EXPECT_TRUE(pin.Inside);
        EXPECT_EQ(pin.Bump, -12);
        EXPECT_EQ(pin.Light, 6);

        setup.Render(0, 0);
        const TDIB& frame = setup.Store.FrameBitmaps[0];
        const TDIB& mask = setup.Store.FrameMasks[0];
        ASSERT_EQ(frame.Width(), 150);
        ASSERT_EQ(frame.Height(), 97);
        ASSERT_EQ(frame.BitCount(), 24);
        ASSERT_EQ(mask.BitCount(), 8);
        EXPECT_EQ(PixelAt(frame, 0, 0)[0], 128);
        EXPECT_EQ(PixelAt(frame, 0, 0)[1], 128);
        EXPECT_EQ(PixelAt(frame, 0, 0)[2], 128);
        EXPECT_EQ(PixelAt(mask, 0, 0)[0], 255);

        // (75, 48) goes through row 16 - 6 = 10 of the lighting table.
        const std::uint8_t* texel = PixelAt(setup.Texture, 74, 49);
        const std::uint8_t* pixel = PixelAt(frame, 75, 48);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(pixel[i], setup.Light[10][texel[i]]) << i;
        EXPECT_EQ(PixelAt(mask, 75, 48)[0], 0);
        EXPECT_TRUE(setup.Store.FrameRendered[0]);
        EXPECT_TRUE(setup.Store.FrameTransparent[0]);
        EXPECT_TRUE(SameRows(frame, setup.Store.WorkImage));
    }

    TEST(FlagRenderer, EveryPixelFollowsItsSample)
    {
        // Without antialiasing each pixel is exactly its one sample: shaded texel,
        // or checkerboard / background with mask 255.
        for (const bool radial : { false, true }) {
            for (const bool transparent : { true, false }) {
                RenderSetup setup(90, 140, 120, 80);
                setup.Params.Radial = radial;
                setup.Params.TransparentMode = transparent;
                setup.Params.BackgroundColor = 0x00332211;
                setup.Params.SpotX = -200;
                setup.Params.SpotY = 150;
                setup.Params.Distance = -20;
                setup.Refresh(120, 80);
                setup.Render(5, 1234);
                const TFrameGeometry g = setup.Geometry();
                int outside = 0;
                for (std::int32_t y = 0; y < 80; ++y) {
                    for (std::int32_t x = 0; x < 120; ++x) {
                        const TSampleTrace t = TraceSample(g, radial, 90, 140, x, y, 1234);
                        const std::uint8_t* pixel = PixelAt(setup.Store.FrameBitmaps[5], x, y);
                        const std::uint8_t maskByte = PixelAt(setup.Store.FrameMasks[5], x, y)[0];
                        std::uint8_t expected[3];
                        if (t.Inside) {
                            ASSERT_GE(t.Light, -16);
                            ASSERT_LE(t.Light, 16);
                            const std::uint8_t* texel = PixelAt(setup.Texture, int(t.U), int(t.V));
                            for (int i = 0; i < 3; ++i)
                                expected[i] = setup.Light[16 - t.Light][texel[i]];
                        } else {
                            ++outside;
                            const std::uint8_t grey = CheckerGrey(x, y);
                            const std::uint8_t bg[3] = { 0x33, 0x22, 0x11 };
                            for (int i = 0; i < 3; ++i)
                                expected[i] = transparent ? grey : bg[i];
                        }
                        ASSERT_EQ(maskByte, t.Inside ? 0 : 255) << x << "," << y;
                        for (int i = 0; i < 3; ++i)
                            ASSERT_EQ(pixel[i], expected[i])
                                << x << "," << y << " radial " << radial;
                    }
                }
                EXPECT_GT(outside, 0);
                EXPECT_LT(outside, 120 * 80);
                EXPECT_EQ(setup.Store.FrameTransparent[5], transparent);
            }
        }
    }

    // The sample written out step by step in plain 32-bit arithmetic, as a check on
    // the renderer's own sampler.
    TSampleTrace ReferenceSample(const FlagParameters& p, std::int32_t texW, std::int32_t texH,
        std::int32_t W, std::int32_t H, std::int32_t X, std::int32_t Y, std::int32_t phi)
    {
        const std::int32_t freqCos = FixedCos(p.Angle * 4096 / 360, p.Frequency);
        const std::int32_t freqSin = FixedSin(p.Angle * 4096 / 360, p.Frequency);
        const std::int32_t D = p.Antialiasing;
        std::int32_t fitTex = texH, fitOut = H;
        if (texW * H / W >= texH) {
            fitTex = texW;
            fitOut = W;
        }
        const std::int32_t zoom = 1024 + p.Amplitude + 10 * p.Distance;
        const std::int32_t scale = zoom * fitTex / fitOut;
        std::int32_t spotPxX = W * p.SpotX / 1024 + W / 2;
        std::int32_t spotPxY = H * p.SpotY / 1024 + H / 2;
        const std::int32_t anchorX = ((spotPxX - (W - texW * 1024 / scale) / 2) * scale) / 1024;
        const std::int32_t anchorY = ((spotPxY - (H - texH * 1024 / scale) / 2) * scale) / 1024;
        const std::int32_t radialStep = p.Frequency * zoom * 150 / (fitOut * 1024);
        const std::int32_t stepX = freqCos * zoom * 150 / (fitOut * 1024);
        const std::int32_t stepY = freqSin * zoom * 150 / (fitOut * 1024);
        const std::int32_t waveAmp = p.Amplitude * fitTex / (fitOut * 2);
        const std::int32_t bumpAmp = p.BumpIntensity * 2;
        const std::int32_t b1 = p.BumpFrequency * 4400 / scale;
        const std::int32_t b2 = p.BumpFrequency * 6400 / scale;
        const std::int32_t b3 = p.BumpFrequency * 8400 / scale;
        const std::int32_t b4 = p.BumpFrequency * 10400 / scale;
        const std::int32_t cx = ((p.SpotX + 1024) * W / 2048) << D;
        const std::int32_t cy = ((p.SpotY + 1024) * H / 2048) << D;
        spotPxX <<= D;
        spotPxY <<= D;

        TSampleTrace t;
        double r = 0;
        if (p.Radial) {
            r = std::sqrt(double(cx - X) * (cx - X) + double(cy - Y) * (cy - Y));
            t.Phase = ((std::int32_t(r) * radialStep) >> D) - phi;
        } else {
            t.Phase = ((X * stepX - Y * stepY) >> D) - phi;
        }
        t.LocalScale = scale - FixedSin(t.Phase, waveAmp);
        const std::int32_t s = static_cast<std::int32_t>(t.LocalScale);
        t.U = (((X - spotPxX) * s) >> (10 + D)) + anchorX;
        t.V = (((Y - spotPxY) * s) >> (10 + D)) + anchorY;
        t.Inside = t.U >= 0 && t.V >= 0 && t.U < texW && t.V < texH;
        if (!t.Inside)
            return t;
        const std::int32_t u = std::int32_t(t.U), v = std::int32_t(t.V);
        t.Bump = FixedSin(u * b1 + v * b2, bumpAmp) + FixedSin(u * b4 + v * b3, bumpAmp)
            + FixedCos(u * b3 + v * b2, bumpAmp) + FixedCos(u * b1 + v * b4, bumpAmp);
        t.Light = FixedCos(t.Phase + t.Bump, 16);
        if (p.Radial)
            t.Light = std::int32_t(std::trunc(t.Light * double(cy - Y) / (0.001 + r)));
        return t;
    }

    TEST(FlagRenderer, SamplesAgreeWithTheStepByStepComputation)
    {
        struct Case {
            std::int32_t texW, texH, W, H;
            FlagParameters params;
        };
        std::vector<Case> cases;
        cases.push_back({ 150, 100, 150, 97, {} });
        FlagParameters p;
        p.Antialiasing = 2;
        p.Angle = 200;
        p.Frequency = -73;
        p.Amplitude = 100;
        p.Distance = -50;
        p.BumpIntensity = 100;
        p.BumpFrequency = 100;
        p.SpotX = -512;
        p.SpotY = 300;
        cases.push_back({ 37, 300, 320, 200, p });
        p.Radial = true;
        p.Antialiasing = 1;
        cases.push_back({ 640, 480, 200, 16, p });
        p.Antialiasing = 0;
        p.SpotX = 511;
        p.SpotY = -512;
        cases.push_back({ 20, 300, 16, 200, p });
        p.Distance = 50;
        p.SpotX = 0;
        p.SpotY = 0;
        cases.push_back({ 300, 20, 16, 200, p });
        for (const auto& c : cases) {
            const TFlagDerived derived = DeriveFlagValues(c.params, c.W, c.H);
            const TFrameGeometry g = ComputeFrameGeometry(c.params, derived, c.texW, c.texH);
            const std::int32_t n = 1 << c.params.Antialiasing;
            const std::int32_t step = c.W * c.H * n * n > 100000 ? 3 : 1;
            int inside = 0;
            for (const std::uint16_t phi : { 0, 1111, 4095 }) {
                for (std::int32_t Y = 0; Y < c.H * n; Y += step) {
                    for (std::int32_t X = 0; X < c.W * n; X += step) {
                        const TSampleTrace want
                            = ReferenceSample(c.params, c.texW, c.texH, c.W, c.H, X, Y, phi);
                        const TSampleTrace got
                            = TraceSample(g, c.params.Radial, c.texW, c.texH, X, Y, phi);
                        ASSERT_EQ(got.Phase & 4095, want.Phase & 4095) << X << "," << Y;
                        ASSERT_EQ(got.LocalScale, want.LocalScale) << X << "," << Y;
                        ASSERT_EQ(got.U, want.U) << X << "," << Y;
                        ASSERT_EQ(got.V, want.V) << X << "," << Y;
                        ASSERT_EQ(got.Inside, want.Inside) << X << "," << Y;
                        if (want.Inside) {
                            ++inside;
                            ASSERT_EQ(got.Bump, want.Bump) << X << "," << Y;
                            ASSERT_EQ(got.Light, want.Light) << X << "," << Y;
                        }
                    }
                }
            }
            EXPECT_GT(inside, 10) << c.W << "x" << c.H;
        }
    }

    TEST(FlagRenderer, CheckerboardIsEightPixelSquares)
    {
        EXPECT_EQ(CheckerGrey(0, 0), 128);
        EXPECT_EQ(CheckerGrey(7, 7), 128);
        EXPECT_EQ(CheckerGrey(8, 0), 192);
        EXPECT_EQ(CheckerGrey(0, 15), 192);
        EXPECT_EQ(CheckerGrey(8, 8), 128);
        EXPECT_EQ(CheckerGrey(319, 191), 128);
        EXPECT_EQ(CheckerGrey(319, 199), 192);
    }

    TEST(FlagRenderer, FrameAfterTheLastEqualsTheFirst)
    {
        for (const bool radial : { false, true }) {
            RenderSetup setup(150, 100, 150, 97);
            setup.Params.Radial = radial;
            setup.Params.Antialiasing = 1;
            setup.Refresh(150, 97);
            setup.Render(0, FramePhase(0, 8));
            setup.Render(1, FramePhase(8, 8));
            setup.Render(2, FramePhase(1, 8));
            EXPECT_TRUE(SameRows(setup.Store.FrameBitmaps[0], setup.Store.FrameBitmaps[1]));
            EXPECT_TRUE(SameRows(setup.Store.FrameMasks[0], setup.Store.FrameMasks[1]));
            EXPECT_FALSE(SameRows(setup.Store.FrameBitmaps[0], setup.Store.FrameBitmaps[2]));
        }
    }

    TEST(FlagRenderer, ZeroAmplitudeKeepsTheScaleButStillShades)
    {
        RenderSetup setup(150, 100, 150, 97);
        setup.Params.Amplitude = 0;
        setup.Refresh(150, 97);
        const TFrameGeometry g = setup.Geometry();
        EXPECT_EQ(g.WaveAmp, 0);
        std::set<std::int32_t> lights;
        for (const std::uint16_t phi : { 0, 700, 3000 }) {
            for (std::int32_t y = 0; y < 97; y += 3) {
                for (std::int32_t x = 0; x < 150; x += 3) {
                    const TSampleTrace t = TraceSample(g, false, 150, 100, x, y, phi);
                    ASSERT_EQ(t.LocalScale, g.Scale);
                    if (t.Inside)
                        lights.insert(t.Light);
                }
            }
        }
        EXPECT_GT(lights.size(), 10u);
    }

    TEST(FlagRenderer, ZeroFrequencyGivesOnePhaseEverywhere)
    {
        RenderSetup setup(150, 100, 150, 97);
        setup.Params.Frequency = 0;
        setup.Refresh(150, 97);
        const TFrameGeometry g = setup.Geometry();
        for (const bool radial : { false, true }) {
            for (std::int32_t y = 0; y < 97; y += 7) {
                for (std::int32_t x = 0; x < 150; x += 7)
                    ASSERT_EQ(TraceSample(g, radial, 150, 100, x, y, 900).Phase, -900);
            }
        }
    }

    TEST(FlagRenderer, RadialRingsAreLitFromAboveAndBelow)
    {
        RenderSetup setup(150, 100, 150, 96);
        setup.Params.Radial = true;
        setup.Params.BumpIntensity = 0;
        setup.Refresh(150, 96);
        const TFrameGeometry g = setup.Geometry();
        ASSERT_EQ(g.Cy, 48);
        int opposite = 0;
        for (std::int32_t x = 10; x < 140; ++x) {
            EXPECT_EQ(TraceSample(g, true, 150, 100, x, 48, 0).Light, 0) << x;
            for (std::int32_t d = 1; d < 40; d += 5) {
                const TSampleTrace above = TraceSample(g, true, 150, 100, x, 48 - d, 0);
                const TSampleTrace below = TraceSample(g, true, 150, 100, x, 48 + d, 0);
                if (!above.Inside || !below.Inside)
                    continue;
                ASSERT_EQ(above.Light, -below.Light) << x << "," << d;
                ASSERT_LE(std::abs(above.Light), 15);
                opposite += above.Light != 0;
            }
        }
        EXPECT_GT(opposite, 100);
    }

    TEST(FlagRenderer, TransparentAntialiasingMakesEdgePixelsWhollyTransparent)
    {
        RenderSetup setup(150, 100, 150, 97);
        setup.Params.Antialiasing = 2;
        setup.Params.Distance = 30;
        setup.Refresh(150, 97);
        setup.Render(3, 1000);
        const TFrameGeometry g = setup.Geometry();
        ASSERT_EQ(g.D, 2);
        int partial = 0;
        int inside = 0;
        for (std::int32_t y = 0; y < 97; ++y) {
            for (std::int32_t x = 0; x < 150; ++x) {
                int samplesOutside = 0;
                for (std::int32_t j = 0; j < 4; ++j) {
                    for (std::int32_t i = 0; i < 4; ++i)
                        samplesOutside
                            += !TraceSample(g, false, 150, 100, x * 4 + i, y * 4 + j, 1000).Inside;
                }
                const std::uint8_t* pixel = PixelAt(setup.Store.FrameBitmaps[3], x, y);
                const std::uint8_t maskByte = PixelAt(setup.Store.FrameMasks[3], x, y)[0];
                if (samplesOutside > 0) {
                    partial += samplesOutside < 16;
                    ASSERT_EQ(maskByte, 255) << x << "," << y;
                    const std::uint8_t grey = CheckerGrey(x, y);
                    ASSERT_EQ(pixel[0], grey);
                    ASSERT_EQ(pixel[1], grey);
                    ASSERT_EQ(pixel[2], grey);
                } else {
                    ++inside;
                    ASSERT_EQ(maskByte, 0) << x << "," << y;
                }
            }
        }
        EXPECT_GT(partial, 0);
        EXPECT_GT(inside, 0);
        EXPECT_TRUE(setup.Store.FrameTransparent[3]);
    }

    TEST(FlagRenderer, BackgroundAntialiasingBlendsEdgesAndMasksNothing)
    {
        for (const std::int32_t d : { 1, 2 })
            for (const bool radial : { false, true }) {
                RenderSetup setup(150, 100, 150, 97);
                setup.Params.Radial = radial;
                setup.Params.Antialiasing = d;
                setup.Params.TransparentMode = false;
                setup.Params.BackgroundColor = 0x00FF00FF; // magenta: blue 255, green 0, red 255
                setup.Params.Distance = 40;
                setup.Refresh(150, 97);
                setup.Render(0, 0);
                const TFrameGeometry g = setup.Geometry();
                const std::int32_t n = 1 << d;
                int blended = 0;
                for (std::int32_t y = 0; y < 97; ++y) {
                    for (std::int32_t x = 0; x < 150; ++x) {
                        ASSERT_EQ(PixelAt(setup.Store.FrameMasks[0], x, y)[0], 0);
                        // The pixel is the mean of its samples, background ones included.
                        std::uint32_t sums[3] = { 0, 0, 0 };
                        int samplesOutside = 0;
                        for (std::int32_t j = 0; j < n; ++j) {
                            for (std::int32_t i = 0; i < n; ++i) {
                                const TSampleTrace t
                                    = TraceSample(g, radial, 150, 100, x * n + i, y * n + j, 0);
                                if (!t.Inside) {
                                    ++samplesOutside;
                                    sums[0] += 255;
                                    sums[2] += 255;
                                    continue;
                                }
                                const std::uint8_t* texel
                                    = PixelAt(setup.Texture, int(t.U), int(t.V));
                                for (int c = 0; c < 3; ++c)
                                    sums[c] += setup.Light[16 - t.Light][texel[c]];
                            }
                        }
                        blended += samplesOutside > 0 && samplesOutside < n * n;
                        const std::uint8_t* pixel = PixelAt(setup.Store.FrameBitmaps[0], x, y);
                        for (int c = 0; c < 3; ++c)
                            ASSERT_EQ(pixel[c], sums[c] >> (2 * d)) << x << "," << y << " d " << d;
                    }
                }
                EXPECT_GT(blended, 0);
                EXPECT_FALSE(setup.Store.FrameTransparent[0]);
                const std::uint8_t* corner = PixelAt(setup.Store.FrameBitmaps[0], 0, 0);
                EXPECT_EQ(corner[0], 255);
                EXPECT_EQ(corner[1], 0);
                EXPECT_EQ(corner[2], 255);
            }
    }

    TEST(FlagRenderer, OnePixelTextureInTheLargestFrame)
    {
        // texW x H div W = 0 < texH, so the texture fits along the height.
        RenderSetup setup(1, 1, 320, 200);
        const TFrameGeometry g = setup.Geometry();
        EXPECT_EQ(g.FitTex, 1);
        EXPECT_EQ(g.FitOut, 200);
        EXPECT_EQ(g.Scale, 5);
        EXPECT_EQ(g.WaveAmp, 0);
        EXPECT_EQ(g.TexAnchorX, 0);
        EXPECT_EQ(g.TexAnchorY, 0);
        setup.Render(0, 0);
        // The anchor texel starts at the pin point, so the single texel (1024 / 5 =
        // 204.8 frame pixels wide) covers the quarter right of and below the pin.
        const TDIB& mask = setup.Store.FrameMasks[0];
        EXPECT_EQ(PixelAt(mask, 160, 100)[0], 0);
        EXPECT_EQ(PixelAt(mask, 319, 199)[0], 0);
        EXPECT_EQ(PixelAt(mask, 159, 100)[0], 255);
        EXPECT_EQ(PixelAt(mask, 160, 99)[0], 255);
        EXPECT_EQ(PixelAt(mask, 0, 0)[0], 255);
    }

    TEST(FlagRenderer, ExtremeTextureShapesRenderWithoutOverflow)
    {
        // A 100000-texel side at the smallest frame gives a Scale of about ten
        // million; 32-bit texel products would overflow there.
        struct Shape {
            std::int32_t texW, texH, W, H;
        };
        for (const Shape shape : { Shape { 100000, 1, 16, 200 }, Shape { 1, 100000, 320, 16 },
                 Shape { 100000, 3, 320, 200 } }) {
            RenderSetup setup(shape.texW, shape.texH, shape.W, shape.H);
            setup.Params.Amplitude = 100;
            setup.Params.Distance = -50;
            setup.Params.Antialiasing = 2;
            setup.Params.Radial = shape.texH == 1;
            setup.Params.SpotX = 511;
            setup.Params.SpotY = -512;
            setup.Refresh(shape.W, shape.H);
            const TFrameGeometry g = setup.Geometry();
            EXPECT_GT(g.Scale, 100000);
            setup.Render(1, 3000);
            EXPECT_TRUE(setup.Store.FrameRendered[1]);
            EXPECT_EQ(setup.Store.FrameBitmaps[1].Width(), shape.W);
        }
    }

    TEST(FlagRenderer, StatusTextNamesTheFrame)
    {
        RenderSetup setup(20, 20, 16, 16);
        std::vector<std::string> texts;
        RenderFrame(setup.Store, 6, 0, setup.Params, setup.Derived, setup.Texture, setup.Light,
            [&texts](const std::string& text) { texts.push_back(text); });
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0], "正在渲染 帧 #7");
    }

    TEST(FlagRenderer, RefusesInputsOutsideItsRanges)
    {
        RenderSetup setup(30, 20, 150, 97);
        EXPECT_THROW(setup.Render(40, 0), EInvalidGraphicOperation);

        TDIB paletted;
        paletted.SetSize(30, 20, 8);
        EXPECT_THROW(
            RenderFrame(setup.Store, 0, 0, setup.Params, setup.Derived, paletted, setup.Light),
            EInvalidGraphicOperation);
        EXPECT_THROW(
            RenderFrame(setup.Store, 0, 0, setup.Params, setup.Derived, TDIB {}, setup.Light),
            EInvalidGraphicOperation);

        TFlagDerived tooWide = setup.Derived;
        tooWide.FrameWidth = 321;
        EXPECT_THROW(
            RenderFrame(setup.Store, 0, 0, setup.Params, tooWide, setup.Texture, setup.Light),
            EInvalidGraphicOperation);

        FlagParameters params = setup.Params;
        params.Distance = -60;
        EXPECT_THROW(
            RenderFrame(setup.Store, 0, 0, params, setup.Derived, setup.Texture, setup.Light),
            EInvalidGraphicOperation);
        params = setup.Params;
        params.SpotX = kRenderSpotLimit;
        EXPECT_THROW(
            RenderFrame(setup.Store, 0, 0, params, setup.Derived, setup.Texture, setup.Light),
            EInvalidGraphicOperation);
        EXPECT_FALSE(setup.Store.FrameRendered[0]);

        // A pin far off the frame is still rendered (everything is outside).
        params.SpotX = kRenderSpotLimit - 1;
        params.SpotY = -kRenderSpotLimit;
        RenderFrame(setup.Store, 0, 0, params, setup.Derived, setup.Texture, setup.Light);
        EXPECT_TRUE(setup.Store.FrameRendered[0]);
    }

    TEST(FlagRenderer, ReRenderingASlotReplacesItsFrame)
    {
        RenderSetup setup(150, 100, 150, 97);
        setup.Render(0, 0);
        TDIB kept = setup.Store.FrameBitmaps[0];
        setup.Refresh(64, 32);
        setup.Render(0, 2048);
        EXPECT_EQ(setup.Store.FrameBitmaps[0].Width(), 64);
        EXPECT_EQ(setup.Store.FrameMasks[0].Height(), 32);
        // A copy taken earlier keeps its own pixels.
        EXPECT_EQ(kept.Width(), 150);
        setup.Store.InvalidateAll();
        EXPECT_FALSE(setup.Store.FrameRendered[0]);
    }

    TEST(DefaultImage, IsA24BitFlagWithManyColours)
    {
        TDIB picture;
        LoadDefaultImage(picture);
        ASSERT_EQ(picture.Width(), 150);
        ASSERT_EQ(picture.Height(), 100);
        ASSERT_EQ(picture.BitCount(), 24);
        std::set<std::uint32_t> colours;
        for (std::int32_t y = 0; y < 100; ++y) {
            for (std::int32_t x = 0; x < 150; ++x)
                colours.insert(picture.Pixel(x, y));
        }
        EXPECT_GE(colours.size(), 20u);
    }

} // namespace
} // namespace zx
