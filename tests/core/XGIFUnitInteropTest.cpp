// Interoperability with giflib in both directions: what we write giflib reads
// back exactly, and what giflib writes we read as giflib does.

#include "GIFTestUtil.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"

#include <gtest/gtest.h>
#include <random>

namespace zx {
namespace {

    using namespace gif_test;

    std::vector<TGIFColor> RandomColours(std::mt19937& random, int count)
    {
        std::vector<TGIFColor> colours;
        for (int i = 0; i < count; ++i)
            colours.push_back(TGIFColor { static_cast<std::uint8_t>(random()),
                static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()) });
        return colours;
    }

    // Pixels with runs and noise, so that the coder meets both long strings and
    // table resets.
    std::vector<std::uint8_t> RandomPixels(std::mt19937& random, std::size_t count, int colours)
    {
        std::vector<std::uint8_t> pixels(count);
        const int mode = static_cast<int>(random() % 3);
        for (std::size_t i = 0; i < count; ++i) {
            if (mode == 0)
                pixels[i] = static_cast<std::uint8_t>(random() % static_cast<unsigned>(colours));
            else if (mode == 1)
                pixels[i] = static_cast<std::uint8_t>(
                    (i / 7 + (random() % 5 == 0 ? 1 : 0)) % static_cast<unsigned>(colours));
            else
                pixels[i]
                    = static_cast<std::uint8_t>((i * i / 13) % static_cast<unsigned>(colours));
        }
        return pixels;
    }

    TEST(GIFInterop, GiflibDecodesOurFilesToTheIndicesAndColoursWritten)
    {
        std::mt19937 random(2024);
        const std::pair<int, int> sizes[] = { { 1, 1 }, { 3, 7 }, { 17, 5 }, { 64, 64 },
            { 200, 13 }, { 255, 3 }, { 1, 300 }, { 333, 77 }, { 640, 97 } };
        for (int bits = 1; bits <= 8; ++bits)
            for (const auto& [width, height] : sizes)
                for (const bool interlaced : { false, true }) {
                    SCOPED_TRACE(testing::Message() << bits << " bits " << width << "x" << height
                                                    << (interlaced ? " interlaced" : ""));
                    // One frame with a local table of exactly 2^bits colours, a
                    // second one through the global table.
                    TGIFImage gif;
                    const std::vector<TGIFColor> local = RandomColours(random, 1 << bits);
                    auto frame = std::make_unique<TGIFSubImage>(&gif);
                    frame->SetSize(
                        static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
                    for (const TGIFColor& c : local)
                        frame->ColorMap().Add(c);
                    const auto pixels
                        = RandomPixels(random, std::size_t(width) * height, 1 << bits);
                    std::copy(pixels.begin(), pixels.end(), frame->Data().begin());
                    frame->SetInterlaced(interlaced);
                    frame->SetLeft(3);
                    gif.AddFrame(std::move(frame));

                    const std::vector<TGIFColor> global
                        = RandomColours(random, (1 << bits) - (bits > 1 ? 1 : 0));
                    for (const TGIFColor& c : global)
                        gif.GlobalColorMap().Add(c);
                    auto second = std::make_unique<TGIFSubImage>(&gif);
                    second->SetSize(
                        static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
                    const auto pixels2 = RandomPixels(
                        random, std::size_t(width) * height, static_cast<int>(global.size()));
                    std::copy(pixels2.begin(), pixels2.end(), second->Data().begin());
                    gif.AddFrame(std::move(second));

                    const Bytes bytes = gif.SaveToBytes();
                    const TGiflibImage decoded = GiflibDecode(bytes);
                    EXPECT_EQ(decoded.Width, width + 3);
                    EXPECT_EQ(decoded.Height, height);
                    ASSERT_EQ(decoded.Frames.size(), 2u);
                    EXPECT_EQ(decoded.Frames[0].Left, 3);
                    EXPECT_EQ(decoded.Frames[0].Interlaced, interlaced);
                    EXPECT_EQ(decoded.Frames[0].LocalColours, local);
                    EXPECT_EQ(decoded.Frames[0].Pixels, pixels);
                    EXPECT_TRUE(decoded.Frames[1].LocalColours.empty());
                    EXPECT_EQ(decoded.Frames[1].Pixels, pixels2);
                    ASSERT_GE(decoded.GlobalColours.size(), global.size());
                    EXPECT_EQ(std::vector<TGIFColor>(decoded.GlobalColours.begin(),
                                  decoded.GlobalColours.begin()
                                      + static_cast<std::ptrdiff_t>(global.size())),
                        global);

                    // And our reader reads back what we wrote.
                    TGIFImage back;
                    TSpanStream stream(bytes);
                    back.LoadFromStream(stream);
                    ASSERT_EQ(back.Images().Count(), 2);
                    EXPECT_EQ(std::vector<std::uint8_t>(
                                  back.Images()[0].Data().begin(), back.Images()[0].Data().end()),
                        pixels);
                    EXPECT_EQ(std::vector<std::uint8_t>(
                                  back.Images()[1].Data().begin(), back.Images()[1].Data().end()),
                        pixels2);
                }
    }

    TEST(GIFInterop, GiflibDecodesMergedExportFramesToTheirColours)
    {
        std::mt19937 random(99);
        for (int bits = 3; bits <= 8; ++bits) {
            SCOPED_TRACE(bits);
            const int paletteSize = (1 << bits) - 1;
            const std::vector<TGIFColor> palette = RandomColours(random, paletteSize);
            TGIFImage gif;
            std::vector<std::vector<std::uint8_t>> frames;
            for (int f = 0; f < 4; ++f) {
                auto pixels = RandomPixels(random, 61 * 37, paletteSize);
                if (f % 2 == 0)
                    for (std::size_t i = 0; i < pixels.size(); i += 5)
                        pixels[i] = static_cast<std::uint8_t>(paletteSize); // background
                frames.push_back(pixels);
                AddExportFrame(gif,
                    MakeIndexed(61, 37, palette,
                        [&](int x, int y) { return pixels[std::size_t(y) * 61 + x]; }),
                    bits, f % 2 == 0, static_cast<std::uint8_t>(paletteSize), 5, 0);
            }
            gif.MergeColourMaps();
            const TGiflibImage decoded = GiflibDecode(gif.SaveToBytes());
            ASSERT_EQ(decoded.Frames.size(), 4u);
            for (int f = 0; f < 4; ++f) {
                const TGiflibFrame& frame = decoded.Frames[static_cast<std::size_t>(f)];
                for (std::size_t i = 0; i < frame.Pixels.size(); ++i) {
                    const std::uint8_t original = frames[static_cast<std::size_t>(f)][i];
                    if (original == paletteSize) {
                        ASSERT_EQ(frame.Pixels[i], frame.TransparentIndex);
                    } else {
                        ASSERT_NE(frame.Pixels[i], frame.TransparentIndex);
                        ASSERT_EQ(decoded.GlobalColours[frame.Pixels[i]], palette[original]);
                    }
                }
            }
        }
    }

    TEST(GIFInterop, WeReadWhatGiflibWrites)
    {
        std::mt19937 random(4711);
        const std::pair<int, int> sizes[]
            = { { 1, 1 }, { 5, 2 }, { 9, 9 }, { 100, 50 }, { 333, 77 } };
        for (int bits = 1; bits <= 8; ++bits)
            for (const auto& [width, height] : sizes) {
                SCOPED_TRACE(testing::Message() << bits << " bits " << width << "x" << height);
                TGiflibImage source;
                source.Width = width + 2;
                source.Height = height + 1;
                source.GlobalColours = RandomColours(random, 1 << bits);
                for (int f = 0; f < 3; ++f) {
                    TGiflibFrame frame;
                    frame.Left = f == 1 ? 2 : 0;
                    frame.Top = f == 1 ? 1 : 0;
                    frame.Width = width;
                    frame.Height = height;
                    frame.Interlaced = f != 0;
                    if (f == 2)
                        frame.LocalColours = RandomColours(random, 1 << bits);
                    frame.Pixels = RandomPixels(random, std::size_t(width) * height, 1 << bits);
                    frame.TransparentIndex
                        = f == 1 ? static_cast<int>(random() % (1u << bits)) : -1;
                    frame.Delay = 7;
                    source.Frames.push_back(frame);
                }
                const Bytes bytes = GiflibEncode(source);
                const TGiflibImage reference = GiflibDecode(bytes);

                TGIFImage gif;
                TSpanStream stream(bytes);
                gif.LoadFromStream(stream);
                EXPECT_EQ(gif.Width(), source.Width);
                EXPECT_EQ(gif.Height(), source.Height);
                ASSERT_EQ(gif.Images().Count(), 3);
                for (int f = 0; f < 3; ++f) {
                    const TGIFSubImage& frame = gif.Images()[f];
                    const TGiflibFrame& want = reference.Frames[static_cast<std::size_t>(f)];
                    EXPECT_EQ(frame.Left(), want.Left);
                    EXPECT_EQ(frame.Top(), want.Top);
                    EXPECT_EQ(frame.Interlaced(), want.Interlaced);
                    EXPECT_EQ(std::vector<std::uint8_t>(frame.Data().begin(), frame.Data().end()),
                        want.Pixels);
                    EXPECT_EQ(want.Pixels, source.Frames[static_cast<std::size_t>(f)].Pixels);
                    EXPECT_EQ(frame.Transparent(), want.TransparentIndex >= 0);
                    if (want.TransparentIndex >= 0) {
                        EXPECT_EQ(frame.TransparentColorIndex(), want.TransparentIndex);
                    }
                    const TGIFColorMap& map = frame.ActiveColorMap();
                    const std::vector<TGIFColor>& colours
                        = want.LocalColours.empty() ? reference.GlobalColours : want.LocalColours;
                    EXPECT_EQ(
                        std::vector<TGIFColor>(map.Colors().begin(), map.Colors().end()), colours);
                }
            }
    }

} // namespace
} // namespace zx
