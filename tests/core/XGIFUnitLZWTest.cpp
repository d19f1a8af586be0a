#include "core/gif/XGIFUnitLZW.h"

#include "GIFTestUtil.h"
#include "core/Errors.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace zx {
namespace {

    using Bytes = std::vector<std::uint8_t>;

    // ---------------------------------------------------------------------------
    // Helpers

    // Pixels with long runs and smooth steps, like a reduced photograph, or pure
    // noise when runLength is 1.
    Bytes MakePixels(std::size_t count, int bits, int runLength, std::uint32_t seed)
    {
        std::mt19937 random(seed);
        const int colours = 1 << bits;
        Bytes pixels(count);
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (runLength <= 1 || random() % static_cast<unsigned>(runLength) == 0)
                value = static_cast<int>(random() % static_cast<unsigned>(colours));
            pixels[i] = static_cast<std::uint8_t>(value);
        }
        return pixels;
    }

    struct TDecoded {
        Bytes pixels;
        std::vector<std::string> warnings;
        std::uint64_t endPosition = 0;
    };

    // Runs our decoder over image data that starts with the minimum code size
    // byte, asking for `wanted` pixels, then finishes the frame.
    TDecoded DecodeImageData(const Bytes& data, std::size_t wanted, std::size_t chunk = 0)
    {
        TSpanStream stream(data);
        std::uint8_t minCodeSize = 0;
        stream.ReadBuffer(&minCodeSize, 1);
        TDecoded result;
        TGIFWarningHandler handler
            = [&result](const std::string& message) { result.warnings.push_back(message); };
        TLZWDecoder decoder(stream, minCodeSize, &handler);
        result.pixels.assign(wanted, 0xEE);
        std::size_t got = 0;
        if (chunk == 0) {
            got = decoder.Decode(result.pixels);
        } else {
            while (got < wanted) {
                const std::size_t n = std::min(chunk, wanted - got);
                const std::size_t part = decoder.Decode(std::span(result.pixels).subspan(got, n));
                got += part;
                if (part < n)
                    break;
            }
        }
        decoder.Finish();
        result.pixels.resize(got);
        result.endPosition = stream.Position();
        return result;
    }

    using gif_test::PackCodes;

    // Splits image data into its code bytes, checking the sub-block framing:
    // 255-byte blocks, a last block of 1..255 bytes, the terminator at the end.
    Bytes CodeBytes(const Bytes& data)
    {
        Bytes raw;
        std::size_t at = 1;
        bool sawShortBlock = false;
        for (;;) {
            EXPECT_LT(at, data.size());
            if (at >= data.size())
                return raw;
            const std::size_t n = data[at++];
            if (n == 0)
                break;
            EXPECT_FALSE(sawShortBlock) << "a short block before the last one";
            sawShortBlock = n != 255;
            EXPECT_LE(at + n, data.size());
            raw.insert(raw.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                data.begin() + static_cast<std::ptrdiff_t>(std::min(at + n, data.size())));
            at += n;
        }
        EXPECT_EQ(at, data.size()) << "bytes after the block terminator";
        return raw;
    }

    // Reads the code stream with a standard decoder's width rule (the width grows
    // once the table is about to need one more bit; a clear code sets it back)
    // and returns the codes. Only the widths are modelled, not the strings.
    std::vector<int> ReadCodes(const Bytes& data)
    {
        const int minCodeSize = data[0];
        const int clearCode = 1 << minCodeSize;
        const Bytes raw = CodeBytes(data);
        std::vector<int> codes;
        std::size_t bit = 0;
        int width = minCodeSize + 1;
        int nextFree = clearCode + 2;
        bool afterClear = true;
        while (bit + static_cast<std::size_t>(width) <= raw.size() * 8) {
            int code = 0;
            for (int i = 0; i < width; ++i, ++bit)
                code |= ((raw[bit / 8] >> (bit % 8)) & 1) << i;
            codes.push_back(code);
            if (code == clearCode) {
                width = minCodeSize + 1;
                nextFree = clearCode + 2;
                afterClear = true;
            } else if (code == clearCode + 1) {
                break;
            } else if (afterClear) {
                afterClear = false;
            } else if (nextFree < 4096) {
                ++nextFree;
                if (nextFree == (1 << width) && width < 12)
                    ++width;
            }
        }
        return codes;
    }

    // giflib as an independent decoder: wraps image data in a minimal GIF with a
    // global table of 2^bits colours and slurps it.
    struct TMemoryReader {
        const Bytes* data;
        std::size_t position;
    };

    int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int count)
    {
        auto* reader = static_cast<TMemoryReader*>(gif->UserData);
        const std::size_t n = std::min<std::size_t>(
            static_cast<std::size_t>(count), reader->data->size() - reader->position);
        std::memcpy(buffer, reader->data->data() + reader->position, n);
        reader->position += n;
        return static_cast<int>(n);
    }

    bool DecodeWithGiflib(const Bytes& imageData, int width, int height, int bits, Bytes& pixels)
    {
        const int tableBits = std::max(bits, 1);
        Bytes file { 'G', 'I', 'F', '8', '9', 'a' };
        auto put16 = [&file](int value) {
            file.push_back(static_cast<std::uint8_t>(value & 0xFF));
            file.push_back(static_cast<std::uint8_t>(value >> 8));
        };
        put16(width); // logical screen
        put16(height);
        file.push_back(static_cast<std::uint8_t>(0x80 | (tableBits - 1))); // global table
        file.push_back(0); // background index
        file.push_back(0); // aspect ratio
        for (int i = 0; i < (1 << tableBits); ++i) { // grey ramp
            const auto level = static_cast<std::uint8_t>(i * 255 / ((1 << tableBits) - 1));
            file.insert(file.end(), { level, level, level });
        }
        file.push_back(0x2C); // image descriptor
        put16(0);
        put16(0);
        put16(width);
        put16(height);
        file.push_back(0); // no local table, not interlaced
        file.insert(file.end(), imageData.begin(), imageData.end());
        file.push_back(0x3B); // trailer

        TMemoryReader reader { &file, 0 };
        int error = 0;
        GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
        if (gif == nullptr)
            return false;
        const bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1;
        if (ok) {
            const GifByteType* raster = gif->SavedImages[0].RasterBits;
            pixels.assign(raster,
                raster + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        }
        DGifCloseFile(gif, &error);
        return ok;
    }

    // giflib as an independent encoder: returns the image data (code size byte to
    // terminator) of a single-frame GIF it wrote.
    int WriteToMemory(GifFileType* gif, const GifByteType* buffer, int count)
    {
        auto* out = static_cast<Bytes*>(gif->UserData);
        out->insert(out->end(), buffer, buffer + count);
        return count;
    }

    Bytes EncodeWithGiflib(Bytes pixels, int width, int height, int bits)
    {
        Bytes file;
        int error = 0;
        GifFileType* gif = EGifOpen(&file, WriteToMemory, &error);
        EXPECT_NE(gif, nullptr);
        ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
        EXPECT_EQ(EGifPutScreenDesc(gif, width, height, bits, 0, map), GIF_OK);
        EXPECT_EQ(EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr), GIF_OK);
        for (int y = 0; y < height; ++y)
            EXPECT_EQ(EGifPutLine(gif, pixels.data() + static_cast<std::size_t>(y * width), width),
                GIF_OK);
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        // Header 6, screen descriptor 7, table, image descriptor 10 ... trailer 1.
        const std::size_t start = 6 + 7 + 3 * (std::size_t { 1 } << bits) + 10;
        return Bytes(file.begin() + static_cast<std::ptrdiff_t>(start), file.end() - 1);
    }

    // ---------------------------------------------------------------------------
    // Encoder

    TEST(XGIFUnitLZW, EncodesAHandWorkedExampleBitForBit)
    {
        // Code size 2: clear 4, end 5. Pixels 0 0 0 0 give the codes clear, 0,
        // 6 (= "0 0"), 0 at 3 bits; entry 8 makes the end code 4 bits wide.
        // 4=100 0=000 6=110 0=000 5=0101, packed from bit 0: 0x84 0x51.
        Bytes out;
        TLZWEncoder::Encode(Bytes { 0, 0, 0, 0 }, 2, 4, out);
        EXPECT_EQ(out, (Bytes { 0x02, 0x02, 0x84, 0x51, 0x00 }));
    }

    TEST(XGIFUnitLZW, EmptyFrameGetsOnlyTheEndCode)
    {
        Bytes out { 0xAB }; // appended to, never replaced
        TLZWEncoder::Encode({}, 8, 256, out);
        // End code 257 in 9 bits: 0x01 0x01.
        EXPECT_EQ(out, (Bytes { 0xAB, 0x08, 0x02, 0x01, 0x01, 0x00 }));

        const Bytes data(out.begin() + 1, out.end());
        const TDecoded decoded = DecodeImageData(data, 10);
        EXPECT_TRUE(decoded.pixels.empty());
        EXPECT_EQ(decoded.endPosition, data.size());
        EXPECT_TRUE(decoded.warnings.empty());
    }

    TEST(XGIFUnitLZW, MinimumCodeSizeIsTheColourDepthButAtLeastTwo)
    {
        for (int bits = 1; bits <= 8; ++bits) {
            Bytes out;
            TLZWEncoder::Encode(Bytes { 1, 0, 1 }, bits, 1 << bits, out);
            EXPECT_EQ(out[0], std::max(bits, 2)) << bits;
        }
    }

    TEST(XGIFUnitLZW, RoundTripsAtEveryCodeSize)
    {
        for (int bits = 1; bits <= 8; ++bits) {
            for (const std::size_t count : { std::size_t { 1 }, std::size_t { 2 },
                     std::size_t { 3 }, std::size_t { 97 }, std::size_t { 64000 } }) {
                for (const int run : { 1, 6 }) {
                    const Bytes pixels = MakePixels(
                        count, bits, run, static_cast<std::uint32_t>(bits * 1000 + count));
                    Bytes data;
                    TLZWEncoder::Encode(pixels, bits, 1 << bits, data);
                    SCOPED_TRACE("bits " + std::to_string(bits) + ", " + std::to_string(count)
                        + " pixels, runs " + std::to_string(run));

                    const TDecoded decoded = DecodeImageData(data, count);
                    EXPECT_EQ(decoded.pixels, pixels);
                    EXPECT_EQ(decoded.endPosition, data.size());
                    EXPECT_TRUE(decoded.warnings.empty());

                    // giflib needs a picture: one row of count pixels.
                    Bytes oracle;
                    ASSERT_TRUE(DecodeWithGiflib(data, static_cast<int>(count), 1, bits, oracle));
                    EXPECT_EQ(oracle, pixels);
                }
            }
        }
    }

    TEST(XGIFUnitLZW, FullTableEmitsClearCodeAndWidthDropsBack)
    {
        // Noise never repeats a pair often, so the table fills after a few
        // thousand codes, several times over.
        for (const int bits : { 2, 5, 8 }) {
            SCOPED_TRACE("bits " + std::to_string(bits));
            const Bytes pixels = MakePixels(60000, bits, 1, 77);
            Bytes data;
            TLZWEncoder::Encode(pixels, bits, 1 << bits, data);

            const int clearCode = 1 << std::max(bits, 2);
            const std::vector<int> codes = ReadCodes(data);
            ASSERT_GE(codes.size(), 2u);
            EXPECT_EQ(codes.front(), clearCode);
            EXPECT_EQ(codes.back(), clearCode + 1);
            // After a clear, every code but the last adds an entry; the entry
            // that would be 4095 is never made, the clear code comes instead.
            const auto codesPerTable = static_cast<std::size_t>(4095 - (clearCode + 2) + 1);
            std::vector<std::size_t> clears;
            for (std::size_t i = 0; i < codes.size(); ++i)
                if (codes[i] == clearCode)
                    clears.push_back(i);
            ASSERT_GE(clears.size(), 3u);
            for (std::size_t k = 1; k < clears.size(); ++k)
                EXPECT_EQ(clears[k] - clears[k - 1] - 1, codesPerTable);
            for (const int code : codes)
                EXPECT_LE(code, 4094);

            EXPECT_EQ(DecodeImageData(data, pixels.size()).pixels, pixels);
            Bytes oracle;
            ASSERT_TRUE(DecodeWithGiflib(data, 300, 200, bits, oracle));
            EXPECT_EQ(oracle, pixels);
        }
    }

    TEST(XGIFUnitLZW, SubBlocksAreFullExceptTheLastAndNeverEmpty)
    {
        // Find frames whose code bytes come to exactly 255 and 256 bytes.
        bool found255 = false;
        bool found256 = false;
        for (std::uint32_t seed = 1; seed < 50 && !(found255 && found256); ++seed) {
            for (std::size_t count = 200; count < 260; ++count) {
                const Bytes pixels = MakePixels(count, 8, 1, seed);
                Bytes data;
                TLZWEncoder::Encode(pixels, 8, 256, data);
                const std::size_t codeBytes = CodeBytes(data).size();
                if (codeBytes == 255 && !found255) {
                    found255 = true;
                    ASSERT_EQ(data.size(), 1u + 1u + 255u + 1u);
                    EXPECT_EQ(data[1], 255);
                    EXPECT_EQ(data.back(), 0);
                    EXPECT_EQ(DecodeImageData(data, count).pixels, pixels);
                } else if (codeBytes == 256 && !found256) {
                    found256 = true;
                    ASSERT_EQ(data.size(), 1u + 1u + 255u + 1u + 1u + 1u);
                    EXPECT_EQ(data[1], 255);
                    EXPECT_EQ(data[257], 1);
                    EXPECT_EQ(DecodeImageData(data, count).pixels, pixels);
                }
            }
        }
        EXPECT_TRUE(found255);
        EXPECT_TRUE(found256);
    }

    TEST(XGIFUnitLZW, IndexOutsideTheColourTableIsRejected)
    {
        const Bytes before { 1, 2, 3 };
        Bytes out = before;
        try {
            TLZWEncoder::Encode(Bytes { 0, 4, 5, 1 }, 3, 5, out);
            FAIL() << "index 5 of 5 colours was encoded";
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), "颜色不在颜色表中");
        }
        EXPECT_EQ(out, before);

        // A colour limit above what the code size can carry does not help.
        EXPECT_THROW(TLZWEncoder::Encode(Bytes { 4 }, 2, 256, out), GIFException);
        EXPECT_THROW(TLZWEncoder::Encode(Bytes { 1 }, 9, 256, out), GIFException);
        EXPECT_EQ(out, before);
        EXPECT_NO_THROW(TLZWEncoder::Encode(Bytes { 4 }, 3, 5, out));
    }

    // ---------------------------------------------------------------------------
    // Decoder

    TEST(XGIFUnitLZW, DecodesWhatGiflibEncodes)
    {
        for (const int bits : { 1, 2, 4, 7, 8 }) {
            for (const int run : { 1, 3, 40 }) {
                SCOPED_TRACE("bits " + std::to_string(bits) + ", runs " + std::to_string(run));
                const Bytes pixels
                    = MakePixels(320 * 200, bits, run, static_cast<std::uint32_t>(bits + run));
                const Bytes data = EncodeWithGiflib(pixels, 320, 200, bits);
                const TDecoded decoded = DecodeImageData(data, pixels.size());
                EXPECT_EQ(decoded.pixels, pixels);
                EXPECT_EQ(decoded.endPosition, data.size());
                EXPECT_TRUE(decoded.warnings.empty());
            }
        }
    }

    TEST(XGIFUnitLZW, DecodingInPiecesMatchesDecodingAtOnce)
    {
        const Bytes pixels = MakePixels(20000, 8, 4, 9);
        Bytes data;
        TLZWEncoder::Encode(pixels, 8, 256, data);
        for (const std::size_t chunk :
            { std::size_t { 1 }, std::size_t { 7 }, std::size_t { 320 } })
            EXPECT_EQ(DecodeImageData(data, pixels.size(), chunk).pixels, pixels) << chunk;
    }

    TEST(XGIFUnitLZW, CodesSpanningSeveralTinySubBlocksDecode)
    {
        // Other writers may cut the data into blocks of any size; with 1- and
        // 2-byte blocks a 12-bit code straddles up to three of them.
        const Bytes pixels = MakePixels(30000, 8, 1, 12);
        Bytes data;
        TLZWEncoder::Encode(pixels, 8, 256, data);
        const Bytes raw = CodeBytes(data);
        for (const std::size_t blockSize :
            { std::size_t { 1 }, std::size_t { 2 }, std::size_t { 7 } }) {
            Bytes reblocked { data[0] };
            for (std::size_t at = 0; at < raw.size(); at += blockSize) {
                const std::size_t n = std::min(blockSize, raw.size() - at);
                reblocked.push_back(static_cast<std::uint8_t>(n));
                reblocked.insert(reblocked.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + n));
            }
            reblocked.push_back(0);
            const TDecoded decoded = DecodeImageData(reblocked, pixels.size());
            EXPECT_EQ(decoded.pixels, pixels) << blockSize;
            EXPECT_EQ(decoded.endPosition, reblocked.size());
            EXPECT_TRUE(decoded.warnings.empty());
        }
    }

    TEST(XGIFUnitLZW, KwKwKCodeRepeatsThePreviousStringPlusItsFirstPixel)
    {
        // Code size 2: clear, 1, then 6 before entry 6 exists ("1 1"), then
        // 7 = "1 1 1" before it exists; entry 8 widens the end code to 4 bits.
        const Bytes data = PackCodes(2, { { 4, 3 }, { 1, 3 }, { 6, 3 }, { 7, 3 }, { 5, 4 } });
        const TDecoded decoded = DecodeImageData(data, 10);
        EXPECT_EQ(decoded.pixels, (Bytes { 1, 1, 1, 1, 1, 1 }));
        EXPECT_EQ(decoded.endPosition, data.size());
        EXPECT_TRUE(decoded.warnings.empty());
    }

    TEST(XGIFUnitLZW, CodeFarBeyondTheTableIsReadAsThePreviousCode)
    {
        // Code 7 while the next free code is 6: the first pixel 2, then the
        // previous code's string "2".
        const Bytes data = PackCodes(2, { { 4, 3 }, { 2, 3 }, { 7, 3 }, { 3, 3 }, { 5, 4 } });
        const TDecoded decoded = DecodeImageData(data, 10);
        EXPECT_EQ(decoded.pixels, (Bytes { 2, 2, 2, 3 }));
        EXPECT_TRUE(decoded.warnings.empty());
    }

    TEST(XGIFUnitLZW, StreamWithoutClearCodeDecodesRootsAsThemselves)
    {
        // Code size 3, codes 1 and 5 at 4 bits, then the end code 9.
        const Bytes data = PackCodes(3, { { 1, 4 }, { 5, 4 }, { 9, 4 } });
        EXPECT_EQ(DecodeImageData(data, 4).pixels, (Bytes { 1, 5 }));
    }

    TEST(XGIFUnitLZW, SelfReferencingEntryIsCircular)
    {
        // Code 7 beyond the table makes 7 the previous code, so the next entry,
        // 7, gets itself as prefix; asking for 7 then loops.
        const Bytes data
            = PackCodes(2, { { 4, 3 }, { 1, 3 }, { 7, 3 }, { 2, 3 }, { 7, 4 }, { 5, 4 } });
        try {
            DecodeImageData(data, 100);
            FAIL() << "no error";
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), "Circular decoder table entry");
        }
    }

    TEST(XGIFUnitLZW, LongerLoopInTheTableIsCircularToo)
    {
        // Code size 3 (clear 8, end 9, first free 10). 12 beyond the table makes
        // 12 the previous code; 11 (KwKwK) makes entry 11 = (12, ...) and the
        // previous code 11; the root 0 makes entry 12 = (11, ...): 11 and 12 lead
        // to each other without either being its own prefix.
        const Bytes data = PackCodes(
            3, { { 8, 4 }, { 1, 4 }, { 12, 4 }, { 11, 4 }, { 0, 4 }, { 11, 4 }, { 9, 4 } });
        EXPECT_THROW(DecodeImageData(data, 100000), GIFException);
    }

    TEST(XGIFUnitLZW, EndCodeRightAfterClearMeansNoPixels)
    {
        const Bytes data = PackCodes(2, { { 4, 3 }, { 4, 3 }, { 5, 3 } });
        const TDecoded decoded = DecodeImageData(data, 5);
        EXPECT_TRUE(decoded.pixels.empty());
        EXPECT_EQ(decoded.endPosition, data.size());
    }

    TEST(XGIFUnitLZW, EndCodeSkipsTheRemainingSubBlocks)
    {
        // One-byte sub-blocks; after the end code come two more blocks of
        // junk, the terminator and a trailer byte the decoder must not touch.
        Bytes data = PackCodes(2, { { 4, 3 }, { 3, 3 }, { 5, 3 } }, 1, false);
        data.insert(data.end(), { 2, 0xFF, 0xFF, 1, 0x7F, 0, 0x3B });
        // Whether the end code is met while decoding or taken by Finish.
        for (const std::size_t wanted : { std::size_t { 1 }, std::size_t { 5 } }) {
            const TDecoded decoded = DecodeImageData(data, wanted);
            EXPECT_EQ(decoded.pixels, (Bytes { 3 }));
            EXPECT_EQ(decoded.endPosition, data.size() - 1);
            EXPECT_TRUE(decoded.warnings.empty());
        }
    }

    TEST(XGIFUnitLZW, SurplusPixelsAreSkippedUpToTheTerminator)
    {
        const Bytes pixels = MakePixels(3000, 4, 2, 3);
        Bytes data;
        TLZWEncoder::Encode(pixels, 4, 16, data);
        data.push_back(0x3B);
        const TDecoded decoded = DecodeImageData(data, 1000);
        EXPECT_EQ(decoded.pixels, Bytes(pixels.begin(), pixels.begin() + 1000));
        EXPECT_EQ(decoded.endPosition, data.size() - 1);
        EXPECT_TRUE(decoded.warnings.empty());
    }

    TEST(XGIFUnitLZW, MissingEndCodeWarnsOfUnderRun)
    {
        // Three 3-bit codes and a 4-bit one fill two bytes exactly; the
        // terminator comes where the end code should.
        const Bytes data = PackCodes(2, { { 4, 3 }, { 1, 3 }, { 2, 3 }, { 3, 3 }, { 0, 4 } });
        const TDecoded decoded = DecodeImageData(data, 4);
        EXPECT_EQ(decoded.pixels, (Bytes { 1, 2, 3, 0 }));
        EXPECT_EQ(decoded.warnings, std::vector<std::string> { "Decoder bit buffer under-run" });
        EXPECT_EQ(decoded.endPosition, data.size());

        // The same codes with the stream ending instead of a terminator: the
        // file was cut, which is not an under-run.
        const Bytes cut
            = PackCodes(2, { { 4, 3 }, { 1, 3 }, { 2, 3 }, { 3, 3 }, { 0, 4 } }, 255, false);
        const TDecoded quiet = DecodeImageData(cut, 4);
        EXPECT_EQ(quiet.pixels, (Bytes { 1, 2, 3, 0 }));
        EXPECT_TRUE(quiet.warnings.empty());
    }

    TEST(XGIFUnitLZW, TruncatedDataKeepsWhatWasDecodedAndWarns)
    {
        const Bytes pixels = MakePixels(5000, 8, 3, 4);
        Bytes data;
        TLZWEncoder::Encode(pixels, 8, 256, data);
        // Cut inside the second sub-block.
        const Bytes cut(data.begin(), data.begin() + 300);
        const TDecoded decoded = DecodeImageData(cut, pixels.size());
        ASSERT_GT(decoded.pixels.size(), 100u);
        ASSERT_LT(decoded.pixels.size(), pixels.size());
        EXPECT_TRUE(std::equal(decoded.pixels.begin(), decoded.pixels.end(), pixels.begin()));
        EXPECT_EQ(decoded.warnings, std::vector<std::string> { "过早的数据末端" });
        EXPECT_EQ(decoded.endPosition, cut.size());

        // Cut right after a whole sub-block: the data just stops, silently.
        const Bytes atBlock(data.begin(), data.begin() + 1 + 256);
        const TDecoded quiet = DecodeImageData(atBlock, pixels.size());
        EXPECT_LT(quiet.pixels.size(), pixels.size());
        EXPECT_TRUE(std::equal(quiet.pixels.begin(), quiet.pixels.end(), pixels.begin()));
        EXPECT_TRUE(quiet.warnings.empty());

        // Nothing at all after the code size byte.
        EXPECT_TRUE(DecodeImageData(Bytes { 8 }, 10).pixels.empty());
    }

    TEST(XGIFUnitLZW, SmallCodeSizesDecode)
    {
        // Code size 1: clear 2, end 3; codes 2, 1, 0 at 2 bits, entry 4 reaches
        // the limit 4, so 1 and the end code take 3 bits.
        const Bytes one = PackCodes(1, { { 2, 2 }, { 1, 2 }, { 0, 2 }, { 1, 3 }, { 3, 3 } });
        EXPECT_EQ(DecodeImageData(one, 10).pixels, (Bytes { 1, 0, 1 }));

        // Code size 0: clear 1, end 2, 1-bit codes until the first entry.
        const Bytes zero = PackCodes(0, { { 1, 1 }, { 0, 1 }, { 0, 1 }, { 2, 2 } });
        EXPECT_EQ(DecodeImageData(zero, 10).pixels, (Bytes { 0, 0 }));
    }

    TEST(XGIFUnitLZW, CodeSizeAboveElevenIsRejected)
    {
        Bytes data { 0 };
        TSpanStream stream(data);
        for (const int size : { 12, 13, 255, -1 })
            EXPECT_THROW((void)TLZWDecoder(stream, size, nullptr), GIFException) << size;
        EXPECT_NO_THROW((void)TLZWDecoder(stream, 11, nullptr));
        try {
            TLZWDecoder decoder(stream, 12, nullptr);
        } catch (const GIFException& e) {
            EXPECT_NE(std::string(e.what()).find("12"), std::string::npos);
        }
    }

    TEST(XGIFUnitLZW, GarbageNeverEscapesItsBuffersOrHangs)
    {
        // Random image data at every code size: only our own error may come out,
        // and never more pixels than asked for.
        std::mt19937 random(2024);
        for (int round = 0; round < 600; ++round) {
            Bytes data(1 + random() % 2000);
            for (auto& byte : data)
                byte = static_cast<std::uint8_t>(random());
            data[0] = static_cast<std::uint8_t>(round % 12);
            const std::size_t wanted = random() % 5000;
            try {
                const TDecoded decoded = DecodeImageData(data, wanted, round % 3 == 0 ? 17 : 0);
                EXPECT_LE(decoded.pixels.size(), wanted);
                EXPECT_LE(decoded.endPosition, data.size());
            } catch (const GIFException&) {
            }
        }
    }

} // namespace
} // namespace zx
