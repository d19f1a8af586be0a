// The renderer with a texture that has an alpha plane: texels below alpha 128
// are off the flag exactly like samples off the texture, at every
// antialiasing level; the others are on it, blended over the background
// colour in opaque mode. A texture without alpha renders as it always did.

#include "PictureTestUtil.h"
#include "core/Errors.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/imaging/DefaultImage.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace zx {
namespace {

    constexpr std::int32_t kTexW = 60, kTexH = 40, kW = 90, kH = 64;

    TDIB Texture()
    {
        TDIB texture;
        texture.SetSize(kTexW, kTexH, 24);
        for (std::int32_t y = 0; y < kTexH; ++y)
            for (std::int32_t x = 0; x < kTexW; ++x) {
                std::uint8_t* p = texture.ScanLine(y) + 3 * x;
                p[0] = std::uint8_t(x * 4 + y);
                p[1] = std::uint8_t(y * 6);
                p[2] = std::uint8_t(200 - x);
            }
        return texture;
    }

    // The left half of the texture below 128 (0..127), the right half at or
    // above it (128..255), so that both sides of the threshold occur.
    std::uint8_t AlphaOf(std::int32_t u, std::int32_t v)
    {
        return u < kTexW / 2 ? std::uint8_t((u * 37 + v * 11) % 128)
                             : std::uint8_t(128 + (u * 13 + v * 5) % 128);
    }

    TDIB HalfTransparent()
    {
        TDIB alpha;
        alpha.SetSize(kTexW, kTexH, 8);
        for (std::int32_t y = 0; y < kTexH; ++y)
            for (std::int32_t x = 0; x < kTexW; ++x)
                alpha.ScanLine(y)[x] = AlphaOf(x, y);
        return alpha;
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

    struct TScene {
        FlagParameters Params;
        TFlagDerived Derived;
        TLightTable Light;
        TFrameStore Store;

        explicit TScene(
            std::int32_t antialias, bool transparent, std::int32_t w = kW, std::int32_t h = kH)
        {
            Params.Antialiasing = antialias;
            Params.TransparentMode = transparent;
            Params.BackgroundColor = 0x305090; // blue 0x30, green 0x50, red 0x90
            Derived = DeriveFlagValues(Params, w, h);
            Light = BuildLightTable(Params.Brightness, Params.Contrast, Params.InvertLightMode);
        }
    };

} // namespace

TEST(FlagRenderer, TexelsBelowAlpha128AreOffTheFlagAtEveryAntialiasingLevel)
{
    const TDIB texture = Texture();
    const TDIB alpha = HalfTransparent();
    for (const std::int32_t d : { 0, 1, 2 }) {
        SCOPED_TRACE("antialias " + std::to_string(d));
        TScene scene(d, true);
        RenderFrame(scene.Store, 0, 777, scene.Params, scene.Derived, texture, alpha, scene.Light);
        const TFrameGeometry g = ComputeFrameGeometry(scene.Params, scene.Derived, kTexW, kTexH);
        const TDIB& mask = scene.Store.FrameMasks[0];
        const TDIB& frame = scene.Store.FrameBitmaps[0];
        const std::int32_t n = 1 << d;
        int onFlag = 0, offByAlpha = 0;
        for (std::int32_t y = 0; y < kH; ++y)
            for (std::int32_t x = 0; x < kW; ++x) {
                bool outside = false, transparentTexel = false;
                for (std::int32_t j = 0; j < n; ++j)
                    for (std::int32_t i = 0; i < n; ++i) {
                        const TSampleTrace t
                            = TraceSample(g, false, kTexW, kTexH, x * n + i, y * n + j, 777);
                        if (!t.Inside)
                            outside = true;
                        else if (AlphaOf(std::int32_t(t.U), std::int32_t(t.V)) < 128)
                            transparentTexel = true;
                    }
                const bool off = outside || transparentTexel;
                ASSERT_EQ(mask.ConstScanLine(y)[x], off ? 255 : 0) << x << "," << y;
                if (off) {
                    const std::uint8_t grey = CheckerGrey(x, y);
                    const std::uint8_t* p = frame.ConstScanLine(y) + 3 * x;
                    EXPECT_TRUE(p[0] == grey && p[1] == grey && p[2] == grey) << x << "," << y;
                }
                onFlag += !off;
                offByAlpha += transparentTexel && !outside;
            }
        // Both kinds occur, and the transparent texels make the frame
        // transparent.
        EXPECT_GT(onFlag, 500);
        EXPECT_GT(offByAlpha, 500);
        EXPECT_TRUE(scene.Store.FrameTransparent[0]);
    }
}

TEST(FlagRenderer, OpaqueModeBlendsOverTheBackgroundAndDropsTransparentTexels)
{
    const TDIB texture = Texture();
    const TDIB alpha = HalfTransparent();
    TScene scene(0, false);
    RenderFrame(scene.Store, 0, 0, scene.Params, scene.Derived, texture, alpha, scene.Light);
    const TFrameGeometry g = ComputeFrameGeometry(scene.Params, scene.Derived, kTexW, kTexH);
    const std::uint8_t background[3] = { 0x30, 0x50, 0x90 };
    int blended = 0;
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) {
            const TSampleTrace t = TraceSample(g, false, kTexW, kTexH, x, y, 0);
            const std::uint8_t* p = scene.Store.FrameBitmaps[0].ConstScanLine(y) + 3 * x;
            const std::uint8_t m = scene.Store.FrameMasks[0].ConstScanLine(y)[x];
            const std::uint32_t a = t.Inside ? AlphaOf(std::int32_t(t.U), std::int32_t(t.V)) : 0;
            if (a < 128) {
                // The background colour, unlit, and 255 in the mask.
                ASSERT_EQ(m, 255);
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(p[c], background[c]) << x << "," << y;
                continue;
            }
            ASSERT_EQ(m, 0);
            const std::uint8_t* texel = texture.ConstScanLine(std::int32_t(t.V)) + 3 * t.U;
            for (int c = 0; c < 3; ++c) {
                const std::uint32_t mixed = (texel[c] * a + background[c] * (255 - a) + 127) / 255;
                ASSERT_EQ(p[c], scene.Light[16 - t.Light][mixed]) << x << "," << y;
            }
            blended += a != 255;
        }
    EXPECT_GT(blended, 500);
    // Against a background colour nothing is transparent in the GIF.
    EXPECT_FALSE(scene.Store.FrameTransparent[0]);
}

TEST(FlagRenderer, OpaqueAlphaRendersExactlyAsNoAlpha)
{
    const TDIB texture = Texture();
    TDIB opaque;
    opaque.SetSize(kTexW, kTexH, 8);
    for (std::int32_t y = 0; y < kTexH; ++y)
        std::memset(opaque.ScanLine(y), 255, kTexW);
    for (const std::int32_t d : { 0, 1, 2 })
        for (const bool transparent : { true, false }) {
            TScene with(d, transparent), without(d, transparent);
            for (std::uint16_t k = 0; k < 3; ++k) {
                RenderFrame(with.Store, k, std::uint16_t(k * 1365), with.Params, with.Derived,
                    texture, opaque, with.Light);
                RenderFrame(without.Store, k, std::uint16_t(k * 1365), without.Params,
                    without.Derived, texture, without.Light);
                EXPECT_TRUE(SameRows(with.Store.FrameBitmaps[k], without.Store.FrameBitmaps[k]));
                EXPECT_TRUE(SameRows(with.Store.FrameMasks[k], without.Store.FrameMasks[k]));
                EXPECT_EQ(with.Store.FrameTransparent[k], without.Store.FrameTransparent[k]);
            }
        }
}

TEST(FlagRenderer, OpaquePNGRendersTheSameFramesAsTheSameBMP)
{
    // The built-in picture, written as a PNG and read back through the loader.
    TDIB bmp;
    LoadDefaultImage(bmp);
    picture_test::Bytes rgba;
    for (std::int32_t y = 0; y < bmp.Height(); ++y)
        for (std::int32_t x = 0; x < bmp.Width(); ++x) {
            const std::uint32_t p = bmp.Pixel(x, y);
            rgba.insert(
                rgba.end(), { std::uint8_t(p), std::uint8_t(p >> 8), std::uint8_t(p >> 16), 255 });
        }
    const picture_test::TPictureFolder folder;
    for (const bool withAlpha : { false, true }) {
        TPicture png;
        LoadPictureFile(folder.Write("flag.png",
                            picture_test::EncodePNG(rgba, std::uint32_t(bmp.Width()),
                                std::uint32_t(bmp.Height()), withAlpha)),
            png);
        ASSERT_FALSE(png.HasAlpha());
        for (const std::int32_t d : { 0, 1, 2 }) {
            TScene a(d, true, 150, 97), b(d, true, 150, 97);
            for (std::uint16_t k = 0; k < 8; ++k) {
                const std::uint16_t phi = FramePhase(k, 8);
                RenderFrame(a.Store, k, phi, a.Params, a.Derived, png.Color, png.Alpha, a.Light);
                RenderFrame(b.Store, k, phi, b.Params, b.Derived, bmp, b.Light);
                EXPECT_TRUE(SameRows(a.Store.FrameBitmaps[k], b.Store.FrameBitmaps[k]));
                EXPECT_TRUE(SameRows(a.Store.FrameMasks[k], b.Store.FrameMasks[k]));
            }
        }
    }
}

TEST(FlagRenderer, AlphaPlaneOfAnotherShapeIsRefused)
{
    const TDIB texture = Texture();
    TScene scene(0, true);
    for (const auto& [w, h, bits] : { std::tuple { kTexW - 1, kTexH, 8 },
             std::tuple { kTexW, kTexH + 1, 8 }, std::tuple { kTexW, kTexH, 24 } }) {
        TDIB alpha;
        alpha.SetSize(w, h, bits);
        EXPECT_THROW(RenderFrame(scene.Store, 0, 0, scene.Params, scene.Derived, texture, alpha,
                         scene.Light),
            EInvalidGraphicOperation);
        EXPECT_FALSE(scene.Store.FrameRendered[0]);
    }
}

} // namespace zx
