#include "core/gif/GIFExport.h"

#include "GIFTestUtil.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/XGIFUnitQuantize.h"
#include "core/imaging/DefaultImage.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace zx;

namespace {

using gif_test::GiflibDecode;

// ---------------------------------------------------------------------------
// Frame stores for the tests

// Renders the built-in picture with the given settings, counting render calls.
struct TRenderedFlag {
    FlagParameters Params;
    TDIB Texture;
    TLightTable Light;
    TFlagDerived Derived;
    TFrameStore Store;
    std::vector<std::pair<std::int32_t, std::uint16_t>> Calls;

    explicit TRenderedFlag(const FlagParameters& params, std::int32_t w = 64, std::int32_t h = 48)
        : Params(params)
    {
        LoadDefaultImage(Texture);
        Light = BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
        Derived = DeriveFlagValues(params, w, h);
    }

    TRenderMissingFrame Renderer()
    {
        return [this](std::int32_t k, std::uint16_t phase) {
            Calls.emplace_back(k, phase);
            RenderFrame(
                Store, static_cast<std::uint16_t>(k), phase, Params, Derived, Texture, Light);
        };
    }
};

TExportOptions Options(
    std::int32_t frames, std::int32_t bits = 8, std::int32_t delay = 5, std::int32_t loops = 0)
{
    TExportOptions options;
    options.Frames = frames;
    options.GIFBits = bits;
    options.GIFDelay = delay;
    options.GIFLoops = loops;
    return options;
}

std::vector<std::uint8_t> Encode(const TGIFImage& gif)
{
    return gif.SaveToBytes();
}

} // namespace

TEST(GIFExport, RendersOnlyMissingSlotsWithTheirPhases)
{
    FlagParameters params;
    params.Frames = 5;
    params.TransparentMode = false;
    TRenderedFlag flag(params);
    // Slots 1 and 3 are already there, as if the playback had rendered them.
    flag.Renderer()(1, 1 * 4096 / 5);
    flag.Renderer()(3, 3 * 4096 / 5);
    flag.Calls.clear();
    const TExportPalette palette = BuildExportPalette(flag.Store, Options(5), flag.Renderer());
    const std::vector<std::pair<std::int32_t, std::uint16_t>> expected { { 0, 0 }, { 2, 1638 },
        { 4, 3276 } };
    EXPECT_EQ(flag.Calls, expected);
    // No slot at or above N is rendered.
    EXPECT_FALSE(flag.Store.FrameRendered[5]);
    EXPECT_FALSE(palette.AnyTransparent);
    EXPECT_EQ(palette.PaletteSize, 256);
    EXPECT_EQ(palette.TransparentIndex, 0);
    EXPECT_EQ(palette.SharedPalette.size(), 256u);
}

TEST(GIFExport, StatusTextsInOrderAndClearedAtTheEnd)
{
    FlagParameters params;
    params.Frames = 2;
    TRenderedFlag flag(params);
    std::vector<std::string> texts;
    const auto gif = BuildExportGif(flag.Store, Options(2), flag.Renderer(),
        [&](const std::string& text) { texts.push_back(text); });
    const std::vector<std::string> expected { "正在创建调色板", "", "正在重新着色图像 ", "" };
    EXPECT_EQ(texts, expected);
}

TEST(GIFExport, SingleFrameCarriesLoopAndControlExtensions)
{
    FlagParameters params;
    params.Frames = 1;
    TRenderedFlag flag(params);
    const auto gif = BuildExportGif(flag.Store, Options(1, 8, 7, 3), flag.Renderer());
    ASSERT_EQ(gif->Images().Count(), 1);
    const auto decoded = GiflibDecode(Encode(*gif));
    ASSERT_EQ(decoded.Frames.size(), 1u);
    EXPECT_EQ(decoded.LoopFrame, 0);
    EXPECT_EQ(decoded.Loops, 3);
    EXPECT_EQ(decoded.Frames[0].Delay, 7);
    EXPECT_EQ(decoded.Frames[0].Disposal, DISPOSE_BACKGROUND);
    // Frame 0's extensions: the loop extension first, then the control block.
    const auto bytes = Encode(*gif);
    const std::string text(bytes.begin(), bytes.end());
    const auto loopAt = text.find("NETSCAPE2.0");
    const auto controlAt = text.find(std::string("\x21\xF9\x04", 3));
    ASSERT_NE(loopAt, std::string::npos);
    ASSERT_NE(controlAt, std::string::npos);
    EXPECT_LT(loopAt, controlAt);
}

TEST(GIFExport, OpaqueFramesUseTheFullPaletteAndNoTransparency)
{
    FlagParameters params;
    params.Frames = 3;
    params.TransparentMode = false;
    TRenderedFlag flag(params);
    const TExportPalette palette = BuildExportPalette(flag.Store, Options(3, 5), flag.Renderer());
    EXPECT_EQ(palette.PaletteSize, 32);
    EXPECT_EQ(palette.TransparentIndex, 32);
    const auto decoded
        = GiflibDecode(Encode(*BuildExportGif(flag.Store, Options(3, 5), flag.Renderer())));
    for (const auto& frame : decoded.Frames) {
        EXPECT_EQ(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
        EXPECT_LE(frame.Colours.size(), 32u);
    }
}

TEST(GIFExport, ThreeBitsWithTransparencyLeaveIndexSevenForTheBackground)
{
    FlagParameters params;
    params.Frames = 2;
    params.TransparentMode = true;
    params.Distance = 30; // a smaller flag, so every frame has background
    TRenderedFlag flag(params);
    const TExportOptions options = Options(2, 3);
    const TExportPalette palette = BuildExportPalette(flag.Store, options, flag.Renderer());
    ASSERT_TRUE(palette.AnyTransparent);
    EXPECT_EQ(palette.PaletteSize, 7);
    EXPECT_EQ(palette.TransparentIndex, 7);
    EXPECT_EQ(palette.SharedPalette.size(), 7u);

    // Before the merge, background pixels hold index 7 and no other pixel does.
    TGIFImage gif;
    const auto n = static_cast<std::size_t>(options.Frames);
    std::vector<TDIB> reduced = ReduceFramesToPalette(
        std::span<const TDIB>(flag.Store.FrameBitmaps.data(), n), palette.SharedPalette);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::int32_t y = 0; y < reduced[i].Height(); ++y)
            for (std::int32_t x = 0; x < reduced[i].Width(); ++x)
                ASSERT_LT(reduced[i].Pixel(x, y), 7u);
    }
    BuildGifFrames(gif, std::span<const TDIB>(flag.Store.FrameBitmaps.data(), n),
        std::span<const TDIB>(flag.Store.FrameMasks.data(), n),
        std::span<const bool>(flag.Store.FrameTransparent.data(), n), options, palette);

    // After it, giflib sees exactly the mask's background pixels as transparent.
    const auto decoded = GiflibDecode(Encode(gif));
    ASSERT_EQ(decoded.Frames.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& frame = decoded.Frames[i];
        ASSERT_NE(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
        EXPECT_LE(frame.Colours.size(), 8u);
        for (int y = 0; y < frame.Height; ++y) {
            for (int x = 0; x < frame.Width; ++x) {
                const bool background = flag.Store.FrameMasks[i].Pixel(x, y) == 255;
                const bool transparent
                    = frame.Pixels[y * frame.Width + x] == frame.TransparentIndex;
                ASSERT_EQ(background, transparent) << "frame " << i << " pixel " << x << "," << y;
            }
        }
    }
}

TEST(GIFExport, LoopPositionsAndDelaysReachTheFile)
{
    struct Case {
        std::int32_t position, loops;
    };
    FlagParameters params;
    params.Frames = 1;
    TRenderedFlag flag(params, 16, 16);
    for (const Case c : { Case { 0, 0 }, Case { 51, 60 }, Case { 95, 500 }, Case { 96, 600 },
             Case { 100, 1000 }, Case { 101, 0 } }) {
        const auto decoded = GiflibDecode(
            Encode(*BuildExportGif(flag.Store, Options(1, 4, 5, c.position), flag.Renderer())));
        EXPECT_EQ(decoded.Loops, c.loops) << "slider position " << c.position;
    }
    for (const std::int32_t delay : { 1, 50 }) {
        params.Frames = 2;
        TRenderedFlag two(params, 16, 16);
        const auto decoded = GiflibDecode(
            Encode(*BuildExportGif(two.Store, Options(2, 4, delay), two.Renderer())));
        for (const auto& frame : decoded.Frames)
            EXPECT_EQ(frame.Delay, delay);
    }
}

TEST(GIFExport, DecodedPixelsAreTheReducedFramesColours)
{
    FlagParameters params;
    params.Frames = 4;
    params.TransparentMode = true;
    TRenderedFlag flag(params, 80, 50);
    const TExportOptions options = Options(4, 6);
    const auto gif = BuildExportGif(flag.Store, options, flag.Renderer());
    const auto decoded = GiflibDecode(Encode(*gif));
    ASSERT_EQ(decoded.Width, 80);
    ASSERT_EQ(decoded.Height, 50);
    ASSERT_EQ(decoded.Frames.size(), 4u);

    // Independently: the same palette and reduction, then compare colours.
    const auto n = static_cast<std::size_t>(options.Frames);
    const TExportPalette palette
        = BuildExportPalette(std::span<const TDIB>(flag.Store.FrameBitmaps.data(), n),
            std::span<const bool>(flag.Store.FrameTransparent.data(), n), options.GIFBits);
    const std::vector<TDIB> reduced = ReduceFramesToPalette(
        std::span<const TDIB>(flag.Store.FrameBitmaps.data(), n), palette.SharedPalette);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& frame = decoded.Frames[i];
        ASSERT_EQ(frame.Width, 80);
        ASSERT_EQ(frame.Height, 50);
        for (int y = 0; y < frame.Height; ++y) {
            for (int x = 0; x < frame.Width; ++x) {
                const int index = frame.Pixels[y * frame.Width + x];
                if (flag.Store.FrameTransparent[i] && flag.Store.FrameMasks[i].Pixel(x, y) == 255) {
                    ASSERT_EQ(index, frame.TransparentIndex);
                    continue;
                }
                ASSERT_LT(static_cast<std::size_t>(index), frame.Colours.size());
                const TGIFColor got = frame.Colours[index];
                const TPaletteEntry want = palette.SharedPalette[reduced[i].Pixel(x, y)];
                ASSERT_EQ(got.Red, want.Red) << i << ": " << x << "," << y;
                ASSERT_EQ(got.Green, want.Green);
                ASSERT_EQ(got.Blue, want.Blue);
            }
        }
    }
}

TEST(GIFExport, OptionsOutOfRangeAreRefused)
{
    FlagParameters params;
    TRenderedFlag flag(params, 16, 16);
    EXPECT_THROW(BuildExportGif(flag.Store, Options(0), flag.Renderer()), EInvalidGraphicOperation);
    EXPECT_THROW(
        BuildExportGif(flag.Store, Options(41), flag.Renderer()), EInvalidGraphicOperation);
    EXPECT_THROW(
        BuildExportGif(flag.Store, Options(2, 2), flag.Renderer()), EInvalidGraphicOperation);
    EXPECT_THROW(
        BuildExportGif(flag.Store, Options(2, 8, 51), flag.Renderer()), EInvalidGraphicOperation);
    EXPECT_THROW(BuildExportGif(flag.Store, Options(2, 8, 5, 102), flag.Renderer()),
        EInvalidGraphicOperation);
    EXPECT_TRUE(flag.Calls.empty());
}

TEST(GIFExport, HighQualityKeepsPaletteSizeTransparencyAndExtensions)
{
    for (const std::int32_t bits : { 3, 8 }) {
        FlagParameters params;
        params.Frames = 3;
        params.TransparentMode = true;
        params.Distance = 30; // every frame has background
        TRenderedFlag flag(params, 80, 50);
        TExportOptions options = Options(3, bits, 4, 2);
        options.Quality = TExportQuality::High;
        std::vector<std::string> texts;
        const auto status = [&](const std::string& text) { texts.push_back(text); };
        const TExportPalette palette
            = BuildExportPalette(flag.Store, options, flag.Renderer(), status);
        ASSERT_TRUE(palette.AnyTransparent);
        EXPECT_EQ(palette.PaletteSize, (1 << bits) - 1);
        EXPECT_EQ(palette.TransparentIndex, (1 << bits) - 1);
        ASSERT_EQ(palette.SharedPalette.size(), std::size_t((1 << bits) - 1));

        TGIFImage gif;
        const auto n = static_cast<std::size_t>(options.Frames);
        BuildGifFrames(gif, std::span<const TDIB>(flag.Store.FrameBitmaps.data(), n),
            std::span<const TDIB>(flag.Store.FrameMasks.data(), n),
            std::span<const bool>(flag.Store.FrameTransparent.data(), n), options, palette, status);
        const std::vector<std::string> expected { "正在创建调色板", "", "正在重新着色图像 ", "" };
        EXPECT_EQ(texts, expected);

        const auto decoded = GiflibDecode(Encode(gif));
        ASSERT_EQ(decoded.Frames.size(), n);
        EXPECT_EQ(decoded.GlobalColours.size(), std::size_t(1) << bits);
        EXPECT_EQ(decoded.Loops, 2);
        EXPECT_EQ(decoded.LoopFrame, 0);
        for (std::size_t i = 0; i < n; ++i) {
            const auto& frame = decoded.Frames[i];
            EXPECT_TRUE(frame.LocalColours.empty());
            EXPECT_EQ(frame.Delay, 4);
            EXPECT_EQ(frame.Disposal, DISPOSE_BACKGROUND);
            ASSERT_EQ(frame.TransparentIndex, (1 << bits) - 1);
            ASSERT_EQ(frame.Width, 80);
            for (int y = 0; y < frame.Height; ++y) {
                for (int x = 0; x < frame.Width; ++x) {
                    const int index = frame.Pixels[y * frame.Width + x];
                    const bool background = flag.Store.FrameMasks[i].Pixel(x, y) == 255;
                    ASSERT_EQ(background, index == frame.TransparentIndex) << x << "," << y;
                    if (background)
                        continue;
                    // Every visible pixel shows an entry of the shared palette
                    // (the merge may have moved it in the table).
                    ASSERT_LT(std::size_t(index), frame.Colours.size());
                    const TGIFColor c = frame.Colours[index];
                    ASSERT_TRUE(
                        std::find(palette.SharedPalette.begin(), palette.SharedPalette.end(),
                            TPaletteEntry { c.Red, c.Green, c.Blue, 0 })
                        != palette.SharedPalette.end())
                        << x << "," << y;
                }
            }
        }
    }
}

TEST(GIFExport, HighQualityIsTheSameForTheStoreAndForReadyFrames)
{
    FlagParameters params;
    params.Frames = 4;
    params.TransparentMode = false;
    TRenderedFlag flag(params, 60, 40);
    TExportOptions options = Options(4, 6);
    options.Quality = TExportQuality::High;
    const auto fromStore = Encode(*BuildExportGif(flag.Store, options, flag.Renderer()));
    const auto n = static_cast<std::size_t>(options.Frames);
    const std::span<const TDIB> frames(flag.Store.FrameBitmaps.data(), n);
    const TExportPalette palette = BuildExportPalette(frames, {}, {}, options);
    TGIFImage gif;
    BuildGifFrames(gif, frames, {}, {}, options, palette);
    EXPECT_EQ(Encode(gif), fromStore);
    // And the standard level stays what it was: the two ways agree there too,
    // and differ from the high level.
    options.Quality = TExportQuality::Standard;
    const auto standard = Encode(*BuildExportGif(flag.Store, options, flag.Renderer()));
    const TExportPalette standardPalette = BuildExportPalette(
        frames, std::span<const bool>(flag.Store.FrameTransparent.data(), n), options.GIFBits);
    EXPECT_EQ(
        BuildExportPalette(frames, {}, {}, options).SharedPalette, standardPalette.SharedPalette);
    EXPECT_NE(standard, fromStore);
}

TEST(GIFExport, HighQualityPaletteAndPlanMadeTogetherAreThoseMadeApart)
{
    // The plan waits until the palette's search has counted the colours: the
    // same palette and plan as made one after the other, on one thread and
    // on several; a search that fails before it counts (its status call
    // throws once the plan waits) ends the call instead of leaving the plan
    // waiting.
    FlagParameters params;
    params.Frames = 4;
    params.Distance = 30;
    TRenderedFlag flag(params, 60, 40);
    TExportOptions options = Options(4, 5);
    options.Quality = TExportQuality::High;
    const TExportPalette apart = BuildExportPalette(flag.Store, options, flag.Renderer());
    const std::span<const TDIB> frames(flag.Store.FrameBitmaps.data(), 4);
    const std::span<const TDIB> masks(flag.Store.FrameMasks.data(), 4);
    const std::span<const bool> transparent(flag.Store.FrameTransparent.data(), 4);
    const THighQualityPlan apartPlan = MakeHighQualityPlan(frames, masks, transparent);
    const auto failing = [](const std::string& text) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (!text.empty())
            throw std::runtime_error("no palette");
    };
    for (const unsigned threads : { 1u, 2u, 3u }) {
        THighQualityPlan plan;
        EXPECT_EQ(
            BuildHighQualityPaletteAndPlan(frames, masks, transparent, options, {}, threads, plan)
                .SharedPalette,
            apart.SharedPalette)
            << threads;
        EXPECT_EQ(plan, apartPlan) << threads;
        EXPECT_THROW(BuildHighQualityPaletteAndPlan(
                         frames, masks, transparent, options, failing, threads, plan),
            std::runtime_error)
            << threads;
    }
}
