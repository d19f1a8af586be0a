// The GIF writer's output must not depend on how it is computed: the LZW
// encoder's dictionary is an implementation choice, and the frames may be
// coded on several threads. These tests hold the bytes to an independent,
// deliberately plain reference coder and to single-threaded writing.

#include "GIFTestUtil.h"
#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/gif/XGIFUnit.h"
#include "core/gif/XGIFUnitLZW.h"

#include <gtest/gtest.h>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace zx {
namespace {

    using Bytes = std::vector<std::uint8_t>;

    struct TReference {
        Bytes Data;
        int Clears = 0; // clear codes written, the first included
    };

    // Greedy LZW as GIF89a appendix F describes it, with an ordered map for the
    // string table. The code width grows once the next code to assign no longer
    // fits; the table is cleared instead of assigning code 4095.
    TReference ReferenceLzw(const Bytes& pixels, int bitsPerPixel)
    {
        const int minCodeSize = std::max(bitsPerPixel, 2);
        const int clearCode = 1 << minCodeSize;
        const int endCode = clearCode + 1;
        TReference result;
        std::vector<std::pair<int, int>> codes; // (code, width)
        int width = minCodeSize + 1;
        std::map<std::pair<int, int>, int> table;
        int nextFree = clearCode + 2;
        auto emit = [&](int code) { codes.emplace_back(code, width); };
        auto growIfNeeded = [&] {
            if (width < 12 && nextFree >= (1 << width))
                ++width;
        };

        if (!pixels.empty()) {
            emit(clearCode);
            ++result.Clears;
            int prefix = pixels[0];
            for (std::size_t i = 1; i < pixels.size(); ++i) {
                const auto found = table.find({ prefix, pixels[i] });
                if (found != table.end()) {
                    prefix = found->second;
                    continue;
                }
                emit(prefix);
                growIfNeeded();
                if (nextFree == 4095) {
                    emit(clearCode);
                    ++result.Clears;
                    width = minCodeSize + 1;
                    table.clear();
                    nextFree = clearCode + 2;
                } else {
                    table[{ prefix, pixels[i] }] = nextFree++;
                }
                prefix = pixels[i];
            }
            emit(prefix);
            growIfNeeded();
        }
        emit(endCode);

        result.Data = gif_test::PackCodes(minCodeSize, codes);
        return result;
    }

    // Noise over the whole alphabet, or runs of one colour when runLength > 1.
    Bytes RandomPixels(std::size_t count, int bits, int runLength, std::mt19937& random)
    {
        Bytes pixels(count);
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (runLength <= 1 || random() % static_cast<unsigned>(runLength) == 0)
                value = static_cast<int>(random() % (1u << bits));
            pixels[i] = static_cast<std::uint8_t>(value);
        }
        return pixels;
    }

    TEST(TLZWEncoder, MatchesThePlainReferenceCoderAtEveryCodeSize)
    {
        std::mt19937 random(20261208);
        for (int bits = 1; bits <= 8; ++bits) {
            int clears = 0;
            for (const int runLength : { 1, 3, 40 }) {
                for (const std::size_t count : { std::size_t(0), std::size_t(1), std::size_t(2),
                         std::size_t(257), std::size_t(8193), std::size_t(8194), std::size_t(16386),
                         std::size_t(120000) }) {
                    const Bytes pixels = RandomPixels(count, bits, runLength, random);
                    const TReference expected = ReferenceLzw(pixels, bits);
                    Bytes actual { 0xAB }; // the encoder appends
                    TLZWEncoder::Encode(pixels, bits, 1 << bits, actual);
                    ASSERT_EQ(actual.front(), 0xAB);
                    actual.erase(actual.begin());
                    ASSERT_EQ(actual, expected.Data)
                        << "bits " << bits << ", run " << runLength << ", " << count << " pixels";
                    clears += expected.Clears;
                }
            }
            // The cases above must reach the table's end and start over.
            EXPECT_GE(clears, 12 + 3) << "bits " << bits;
        }
    }

    TEST(TLZWEncoder, SwitchingAlphabetSizeBetweenFramesKeepsTheOutput)
    {
        // One thread codes frames of different depths one after another; nothing
        // of a frame may leak into the next.
        std::mt19937 random(7);
        const std::vector<int> order { 8, 2, 8, 1, 5, 8, 3, 3, 8, 4 };
        for (const int bits : order) {
            const Bytes pixels = RandomPixels(30000, bits, 2, random);
            Bytes actual;
            TLZWEncoder::Encode(pixels, bits, 1 << bits, actual);
            ASSERT_EQ(actual, ReferenceLzw(pixels, bits).Data) << "bits " << bits;
        }
    }

    TEST(TLZWEncoder, AFrameCancelledHalfwayLeavesTheNextOneUntouched)
    {
        // The coder's table lives on in its thread; a frame that stops with
        // strings in it must not hand them to the next frame.
        std::mt19937 random(11);
        for (const int bits : { 8, 3 }) {
            const Bytes cut = RandomPixels(50000, bits, 2, random);
            const Bytes next = RandomPixels(50000, bits, 2, random);
            {
                TCancelToken token;
                ASSERT_TRUE(token.Cancel());
                TCancelScope scope(&token);
                Bytes partial;
                EXPECT_THROW(TLZWEncoder::Encode(cut, bits, 1 << bits, partial), ECancelled);
            }
            Bytes actual;
            TLZWEncoder::Encode(next, bits, 1 << bits, actual);
            EXPECT_EQ(actual, ReferenceLzw(next, bits).Data) << "bits " << bits;
        }
    }

    // An image whose frames differ in every way the writer looks at: size,
    // position, local or global table, table size, interlacing, extensions.
    void BuildMixedImage(TGIFImage& gif, std::mt19937& random)
    {
        std::vector<TGIFColor> colours;
        for (int i = 0; i < 256; ++i)
            colours.push_back({ static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                static_cast<std::uint8_t>(i * 7) });
        for (int k = 0; k < 9; ++k) {
            const int width = 20 + static_cast<int>(random() % 150);
            const int height = 10 + static_cast<int>(random() % 90);
            const int mod = k % 3 == 0 ? 256 : (k % 3 == 1 ? 16 : 2);
            const TDIB dib = gif_test::MakeIndexed(
                width, height, colours, [&](std::int32_t x, std::int32_t y) {
                    return static_cast<std::uint8_t>(
                        random() % 4 == 0 ? random() % mod : (x / 3 + y) % mod);
                });
            TGIFSubImage& frame = gif_test::AddExportFrame(gif, dib, 8, k % 4 == 1, 3, 5, 0);
            frame.SetInterlaced(k % 3 == 2);
            if (k % 2 == 1)
                frame.SetLeft(static_cast<std::uint16_t>(k));
        }
    }

    TEST(XGIFUnitWrite, ParallelSaveToBytesEqualsSequential)
    {
        std::mt19937 random(99);
        TGIFImage gif;
        BuildMixedImage(gif, random);
        const Bytes sequential = gif.SaveToBytes(1);
        for (const unsigned threads : { 0u, 2u, 3u, 8u, 64u })
            EXPECT_EQ(gif.SaveToBytes(threads), sequential) << threads << " threads";

        // The same after the tables are merged into one global table.
        gif.MergeColourMaps();
        const Bytes merged = gif.SaveToBytes(1);
        EXPECT_NE(merged, sequential);
        EXPECT_EQ(gif.SaveToBytes(2), merged);
        EXPECT_EQ(gif.SaveToBytes(5), merged);

        // And the file reads back to the same frames.
        TGIFImage back;
        TSpanStream stream(merged);
        back.LoadFromStream(stream);
        ASSERT_EQ(back.Images().Count(), gif.Images().Count());
        for (std::int32_t k = 0; k < gif.Images().Count(); ++k) {
            const auto expected = gif.Images()[k].Data();
            const auto actual = back.Images()[k].Data();
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), actual.begin(), actual.end()))
                << "frame " << k;
        }

        // Frames just read keep their pixels in coded order until first used;
        // the workers complete them while writing.
        TGIFImage first;
        TGIFImage second;
        TSpanStream firstStream(merged);
        TSpanStream secondStream(merged);
        first.LoadFromStream(firstStream);
        second.LoadFromStream(secondStream);
        EXPECT_EQ(first.SaveToBytes(4), second.SaveToBytes(1));
    }

    TEST(XGIFUnitWrite, ParallelSaveReportsABadFrame)
    {
        std::mt19937 random(5);
        for (const std::int32_t bad : { 0, 4, 8 }) {
            TGIFImage gif;
            BuildMixedImage(gif, random);
            // A 2-entry local table under pixels that use more.
            TGIFSubImage& frame = gif.Images()[bad];
            frame.ColorMap().Clear();
            frame.ColorMap().Add(0, 0, 0);
            frame.ColorMap().Add(255, 255, 255);
            frame.Data()[0] = 1;
            frame.Data()[1] = 2;
            for (const unsigned threads : { 1u, 2u, 4u })
                EXPECT_THROW(gif.SaveToBytes(threads), GIFException)
                    << "frame " << bad << ", " << threads;
        }
    }

} // namespace
} // namespace zx
