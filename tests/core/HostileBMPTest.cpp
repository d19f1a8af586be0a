// Hostile BMP files and RLE streams: headers that claim absurd sizes, data
// that runs past its end, RLE runs and offsets that leave the picture. Each
// input is made here. A reader must refuse such a file with its error (before
// allocating anything large), or load it; it must never crash, read or write
// outside its buffers (the sanitizer build watches), or leave its target
// half-changed.

#include "HostileTestUtil.h"
#include "core/Errors.h"
#include "core/Limits.h"
#include "core/Stream.h"
#include "core/imaging/BMPFormat.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace zx {

// The storage's header is private to the bitmap code; these tests forge
// damaged ones to see that decoding still stays inside the rows.
struct TDIBSharedImageTestAccess {
    static std::vector<std::uint8_t>& Header(TDIBSharedImage& image) { return image.m_bitmapInfo; }
};

} // namespace zx

using namespace zx;
using namespace zx::hostile_test;

namespace {

// ---------------------------------------------------------------------------
// BMP files

struct TBMPFields {
    std::int32_t Width = 2;
    std::int32_t Height = 2;
    std::uint32_t BitCount = 8;
    std::uint32_t Compression = 0;
    std::uint32_t SizeImage = 0;
    std::uint32_t ColorsUsed = 0;
    // Colour-table entries actually written.
    std::uint32_t Entries = 0;
    std::uint32_t PixelOffset = 0; // 0: right after the table
    Bytes Pixels;
};

Bytes MakeBMP(const TBMPFields& fields)
{
    const std::uint32_t offset
        = fields.PixelOffset != 0 ? fields.PixelOffset : 14 + 40 + 4 * fields.Entries;
    Bytes out { 'B', 'M' }; // bfType
    U32(out,
        14 + 40 + 4 * fields.Entries + static_cast<std::uint32_t>(fields.Pixels.size())); // bfSize
    U32(out, 0); // bfReserved1, bfReserved2
    U32(out, offset); // bfOffBits
    U32(out, 40); // biSize
    U32(out, static_cast<std::uint32_t>(fields.Width)); // biWidth
    U32(out, static_cast<std::uint32_t>(fields.Height)); // biHeight
    U16(out, 1); // biPlanes
    U16(out, fields.BitCount); // biBitCount
    U32(out, fields.Compression); // biCompression
    U32(out, fields.SizeImage); // biSizeImage
    U32(out, 2835); // biXPelsPerMeter
    U32(out, 2835); // biYPelsPerMeter
    U32(out, fields.ColorsUsed); // biClrUsed
    U32(out, 0); // biClrImportant
    for (std::uint32_t i = 0; i < fields.Entries; ++i) // colour table: grey ramp
        U32(out, (i & 0xFF) * 0x010101u);
    Append(out, fields.Pixels);
    return out;
}

// The packed DIB inside a BMP file (everything after the file header).
Bytes PackedDIB(const Bytes& file)
{
    return Bytes(file.begin() + 14, file.end());
}

enum class TBMPRoad { LoadFromStream, ReadData, LoadBMPPicture };

const char* RoadName(TBMPRoad road)
{
    switch (road) {
    case TBMPRoad::LoadFromStream:
        return "LoadFromStream";
    case TBMPRoad::ReadData:
        return "ReadData";
    default:
        return "LoadBMPPicture";
    }
}

// Reads file through one road into target.
void ReadBMP(TBMPRoad road, const Bytes& file, TDIB& target)
{
    switch (road) {
    case TBMPRoad::LoadFromStream: {
        TSpanStream stream(file);
        target.LoadFromStream(stream);
        break;
    }
    case TBMPRoad::ReadData: {
        const Bytes packed = PackedDIB(file);
        TSpanStream stream(packed);
        target.ReadData(stream);
        break;
    }
    case TBMPRoad::LoadBMPPicture:
        LoadBMPPicture(file, target);
        break;
    }
}

constexpr TBMPRoad kAllRoads[]
    = { TBMPRoad::LoadFromStream, TBMPRoad::ReadData, TBMPRoad::LoadBMPPicture };

// Runs the read and returns the error's class: "none", "too-large",
// "invalid", "read" or "other".
std::string ReadOutcome(TBMPRoad road, const Bytes& file, TDIB& target)
{
    try {
        ReadBMP(road, file, target);
        return "none";
    } catch (const EImageTooLarge&) {
        return "too-large";
    } catch (const EInvalidGraphic&) {
        return "invalid";
    } catch (const EInvalidGraphicOperation&) {
        return "invalid";
    } catch (const EReadError&) {
        return "read";
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
}

TEST(HostileBMP, HugeDimensionsAreRefusedAsTooLargeBeforeAnyPixelIsRead)
{
    struct TCase {
        const char* Name;
        std::int32_t Width;
        std::int32_t Height;
        std::uint32_t BitCount;
    };
    const TCase cases[] = {
        { "60000 x 60000 at 24 bits", 60000, 60000, 24 },
        { "60000 x -60000 (top-down) at 24 bits", 60000, -60000, 24 },
        { "widest row, one line", std::numeric_limits<std::int32_t>::max(), 1, 24 },
        { "widest 1-bit rows, three lines", std::numeric_limits<std::int32_t>::max(), 3, 1 },
        { "tallest picture, one column", 1, std::numeric_limits<std::int32_t>::max(), 8 },
        { "height INT32_MIN", 1, std::numeric_limits<std::int32_t>::min(), 8 },
        { "height INT32_MIN + 1", 4, std::numeric_limits<std::int32_t>::min() + 1, 32 },
        { "just over 512 MiB", 16384, 10923, 24 },
    };
    for (const TCase& c : cases) {
        TBMPFields fields;
        fields.Width = c.Width;
        fields.Height = c.Height;
        fields.BitCount = c.BitCount;
        fields.Entries = c.BitCount <= 8 ? 1u << c.BitCount : 0;
        fields.Pixels.assign(64, 0x11); // far less than the header claims
        const Bytes file = MakeBMP(fields);
        for (TBMPRoad road : kAllRoads) {
            SCOPED_TRACE(std::string(c.Name) + " via " + RoadName(road));
            TMarkedTarget<TDIB> marked;
            TDIB& target = marked.Target;
            EXPECT_EQ(ReadOutcome(road, file, target), "too-large");
            marked.ExpectUntouched();
        }
    }
}

TEST(HostileBMP, WidthsOfZeroAndBelowAreInvalid)
{
    for (std::int32_t width : { 0, -1, std::numeric_limits<std::int32_t>::min() }) {
        TBMPFields fields;
        fields.Width = width;
        fields.Height = 60000;
        fields.BitCount = 24;
        const Bytes file = MakeBMP(fields);
        for (TBMPRoad road : kAllRoads) {
            SCOPED_TRACE(std::to_string(width) + " via " + RoadName(road));
            TMarkedTarget<TDIB> marked;
            TDIB& target = marked.Target;
            EXPECT_EQ(ReadOutcome(road, file, target), "invalid");
            marked.ExpectUntouched();
        }
    }
}

TEST(HostileBMP, RLEImageSizeBeyondTheFileIsAShortRead)
{
    // An RLE8 picture whose biSizeImage claims 4 GiB - 1 of stream; the file
    // holds six bytes. Nothing of that size may be allocated.
    TBMPFields fields;
    fields.Width = 4;
    fields.Height = 2;
    fields.BitCount = 8;
    fields.Compression = 1;
    fields.SizeImage = 0xFFFFFFFFu;
    fields.Entries = 256;
    fields.Pixels = { 4, 9, 0, 0, 0, 1 };
    const Bytes file = MakeBMP(fields);
    for (TBMPRoad road : kAllRoads) {
        SCOPED_TRACE(RoadName(road));
        TMarkedTarget<TDIB> marked;
        TDIB& target = marked.Target;
        const std::string outcome = ReadOutcome(road, file, target);
        EXPECT_EQ(outcome, road == TBMPRoad::LoadBMPPicture ? "invalid" : "read");
        marked.ExpectUntouched();
    }
}

TEST(HostileBMP, ImageSizeOfUncompressedRowsIsNotTrusted)
{
    // biSizeImage far beyond the file on a complete 24-bit picture: the shape
    // says how many bytes the rows take, and they are all there.
    TBMPFields fields;
    fields.Width = 1;
    fields.Height = 2;
    fields.BitCount = 24;
    fields.SizeImage = 0xFFFFFFF0u;
    fields.Pixels = { 1, 2, 3, 0, 4, 5, 6, 0 };
    const Bytes file = MakeBMP(fields);
    for (TBMPRoad road : kAllRoads) {
        SCOPED_TRACE(RoadName(road));
        TDIB target;
        ReadBMP(road, file, target);
        ASSERT_EQ(target.Width(), 1);
        ASSERT_EQ(target.Height(), 2);
        EXPECT_EQ(target.Pixel(0, 1), 0x010203u); // bottom row: blue 1, green 2, red 3
        EXPECT_EQ(target.Pixel(0, 0), 0x040506u);
    }
}

TEST(HostileBMP, ColoursUsedOfFourGigaIsCappedToTheTable)
{
    // biClrUsed = 2^32 - 1: at most 256 entries are read. With the full table
    // present the file loads; with a short one it is a short read.
    TBMPFields fields;
    fields.Width = 2;
    fields.Height = 1;
    fields.BitCount = 8;
    fields.ColorsUsed = 0xFFFFFFFFu;
    fields.Entries = 256;
    fields.Pixels = { 7, 200, 0, 0 };
    const Bytes file = MakeBMP(fields);
    for (TBMPRoad road : kAllRoads) {
        SCOPED_TRACE(RoadName(road));
        TDIB target;
        ReadBMP(road, file, target);
        ASSERT_EQ(target.Width(), 2);
        if (road == TBMPRoad::LoadBMPPicture) {
            EXPECT_EQ(target.Pixel(1, 0), 200u * 0x010101u);
        } else {
            EXPECT_EQ(target.Pixel(1, 0), 200u);
            EXPECT_EQ(target.ColorTable()[200].Red, 200);
        }
    }

    fields.Entries = 3;
    fields.Pixels.clear();
    const Bytes shortTable = MakeBMP(fields);
    for (TBMPRoad road : kAllRoads) {
        SCOPED_TRACE(RoadName(road));
        TMarkedTarget<TDIB> marked;
        TDIB& target = marked.Target;
        EXPECT_EQ(ReadOutcome(road, shortTable, target),
            road == TBMPRoad::LoadBMPPicture ? "invalid" : "read");
        marked.ExpectUntouched();
    }
}

TEST(HostileBMP, PixelOffsetPastTheFileIsIgnored)
{
    TBMPFields fields;
    fields.Width = 1;
    fields.Height = 1;
    fields.BitCount = 24;
    fields.PixelOffset = 0xFFFFFFFFu;
    fields.Pixels = { 9, 8, 7, 0 };
    const Bytes file = MakeBMP(fields);
    for (TBMPRoad road : { TBMPRoad::LoadFromStream, TBMPRoad::LoadBMPPicture }) {
        SCOPED_TRACE(RoadName(road));
        TDIB target;
        ReadBMP(road, file, target);
        EXPECT_EQ(target.Pixel(0, 0), 0x090807u); // red 7, green 8, blue 9
    }
}

TEST(HostileBMP, EveryTruncationFailsCleanlyOrLoads)
{
    TBMPFields plain;
    plain.Width = 5;
    plain.Height = 3;
    plain.BitCount = 4;
    plain.Entries = 16;
    for (int i = 0; i < 12; ++i)
        plain.Pixels.push_back(static_cast<std::uint8_t>(0x12 * i));
    TBMPFields rle;
    rle.Width = 5;
    rle.Height = 3;
    rle.BitCount = 8;
    rle.Compression = 1;
    rle.Entries = 4;
    rle.Pixels = { 5, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 2, 0, 1, 0, 1 };
    rle.SizeImage = static_cast<std::uint32_t>(rle.Pixels.size());
    for (const Bytes& whole : { MakeBMP(plain), MakeBMP(rle) }) {
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            const Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            for (TBMPRoad road : kAllRoads) {
                if (road == TBMPRoad::ReadData && cut < 14)
                    continue;
                SCOPED_TRACE("cut at " + std::to_string(cut) + " via " + RoadName(road));
                TMarkedTarget<TDIB> marked;
                TDIB& target = marked.Target;
                const std::string outcome = ReadOutcome(road, file, target);
                if (outcome == "none") {
                    // An empty stream leaves LoadFromStream's target as it
                    // is, and a file header with nothing after it reads as
                    // an empty packed DIB. Anything else must be the picture.
                    if (marked.Untouched() || (cut == 14 && target.Empty()))
                        continue;
                    EXPECT_EQ(target.Width(), 5);
                    EXPECT_EQ(target.Height(), 3);
                    for (std::int32_t y = 0; y < 3; ++y)
                        (void)target.ConstScanLine(y);
                } else {
                    EXPECT_TRUE(outcome == "invalid" || outcome == "read") << outcome;
                    marked.ExpectUntouched();
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// RLE streams, decoded lazily on the first pixel access

// A packed DIB of width x height with an RLE stream (compression 1 for RLE8,
// 2 for RLE4) and a 16-entry table, read through ReadData. The stream is
// copied into a buffer of its exact size, so the sanitizer sees any read
// past it.
TDIB ReadRLE(std::int32_t width, std::int32_t height, std::uint32_t bitCount,
    std::uint32_t compression, const Bytes& stream)
{
    TBMPFields fields;
    fields.Width = width;
    fields.Height = height;
    fields.BitCount = bitCount;
    fields.Compression = compression;
    fields.SizeImage = static_cast<std::uint32_t>(stream.size());
    fields.ColorsUsed = 16;
    fields.Entries = 16;
    fields.Pixels = stream;
    const Bytes packed = PackedDIB(MakeBMP(fields));
    TSpanStream in(packed);
    TDIB dib;
    dib.ReadData(in);
    EXPECT_TRUE(dib.Compressed());
    return dib;
}

// Every byte of the decoded rows, padding included, through the read-only view.
Bytes AllRowBytes(const TDIB& dib)
{
    const std::uint8_t* bits = dib.ConstBits();
    return Bytes(bits, bits + dib.Size());
}

TEST(HostileRLE, RunsPastTheRowEndAreClippedToThePicture)
{
    // 5 x 2 RLE8: a run of 255 pixels of 7 in a row of 5, an end of line, an
    // absolute run of 255 bytes (9) in the second row, end of picture.
    // The stream made at its full length: the six bytes before the absolute
    // run's 255 bytes, the pad to an even length and the end of picture.
    Bytes stream(6 + 255 + 1 + 2, 9);
    const std::uint8_t head[] = { 255, 7, 0, 0, 0, 255 };
    std::copy(std::begin(head), std::end(head), stream.begin());
    const std::uint8_t tail[] = { 0, 0, 1 };
    std::copy(std::begin(tail), std::end(tail), stream.end() - 3);
    const TDIB dib = ReadRLE(5, 2, 8, 1, stream);
    const Bytes rows = AllRowBytes(dib);
    ASSERT_EQ(rows.size(), 16u); // two rows of 8 bytes
    const Bytes expected = { 7, 7, 7, 7, 7, 0, 0, 0, 9, 9, 9, 9, 9, 0, 0, 0 };
    EXPECT_EQ(rows, expected);
}

TEST(HostileRLE, DeltasBeyondThePictureWriteNothing)
{
    // 4 x 2 RLE4: one pixel pair, then deltas of 255 columns and 255 rows
    // (both past the picture), a run after them, repeated 4000 times: the
    // offsets add up far beyond any row or column.
    Bytes stream = { 2, 0x35 };
    for (int i = 0; i < 4000; ++i)
        Append(stream, { 0, 2, 255, 255, 8, 0xFF });
    const TDIB dib = ReadRLE(4, 2, 4, 2, stream);
    const Bytes rows = AllRowBytes(dib);
    const Bytes expected = { 0x35, 0, 0, 0, 0, 0, 0, 0 };
    EXPECT_EQ(rows, expected);
}

TEST(HostileRLE, EndsOfLinePastTheLastRowStopTheDecoder)
{
    // 3 x 1 RLE8: 100000 ends of line, then a run that must not land anywhere.
    Bytes stream;
    for (int i = 0; i < 100000; ++i)
        Append(stream, { 0, 0 });
    Append(stream, { 3, 4 });
    const TDIB dib = ReadRLE(3, 1, 8, 1, stream);
    EXPECT_EQ(AllRowBytes(dib), Bytes(4, 0));
}

TEST(HostileRLE, AbsoluteRunsCutByTheEndOfTheStream)
{
    // RLE8, 8 x 1: an absolute run of 6 pixels of which three bytes are there.
    const TDIB rle8 = ReadRLE(8, 1, 8, 1, { 0, 6, 1, 2, 3 });
    EXPECT_EQ(AllRowBytes(rle8), (Bytes { 1, 2, 3, 0, 0, 0, 0, 0 }));

    // RLE4, 8 x 1: an absolute run of 7 nibbles, two bytes present.
    const TDIB rle4 = ReadRLE(8, 1, 4, 2, { 0, 7, 0x12, 0x34 });
    EXPECT_EQ(AllRowBytes(rle4), (Bytes { 0x12, 0x34, 0, 0 }));

    // A lone escape byte and a delta without its two offset bytes.
    EXPECT_EQ(AllRowBytes(ReadRLE(4, 1, 8, 1, { 2, 5, 0 })), (Bytes { 5, 5, 0, 0 }));
    EXPECT_EQ(AllRowBytes(ReadRLE(4, 1, 8, 1, { 2, 5, 0, 2, 1 })), (Bytes { 5, 5, 0, 0 }));
}

TEST(HostileRLE, CodeThatDoesNotMatchTheBitCountIsRefused)
{
    // RLE4 with 8 bits per pixel and RLE8 with 4: refused while reading.
    for (const auto& [bitCount, compression] : { std::pair { 8u, 2u }, std::pair { 4u, 1u } }) {
        TBMPFields fields;
        fields.Width = 4;
        fields.Height = 1;
        fields.BitCount = bitCount;
        fields.Compression = compression;
        fields.ColorsUsed = 16;
        fields.Entries = 16;
        fields.Pixels = { 255, 1, 0, 1 };
        fields.SizeImage = 4;
        const Bytes file = MakeBMP(fields);
        for (TBMPRoad road : kAllRoads) {
            SCOPED_TRACE(std::string(RoadName(road)) + " bits " + std::to_string(bitCount));
            TMarkedTarget<TDIB> marked;
            TDIB& target = marked.Target;
            EXPECT_EQ(ReadOutcome(road, file, target), "invalid");
            marked.ExpectUntouched();
        }
    }
}

TEST(HostileRLE, StorageWhoseHeaderCodeDisagreesWithItsBitCountStaysInsideItsRows)
{
    // A compressed 4-bit storage whose info header is then changed to say
    // RLE8 (biCompression at offset 16): decoding a run of 255 bytes as RLE8
    // would write a byte per pixel into rows of half a byte per pixel.
    {
        auto image = TDIBSharedImage::Allocate(9, 2, 4, Layout888(), GreyRamp(), true, true);
        TDIBSharedImageTestAccess::Header(*image)[16] = 1;
        image->SetCompressedData({ 255, 0xAB, 0, 0, 255, 0xCD, 0, 1 });
        TDIB dib;
        dib.SetImage(image);
        const Bytes rows = AllRowBytes(dib);
        ASSERT_EQ(rows.size(), 16u); // two rows of 8 bytes, 4.5 of them pixels
        for (std::size_t row : { 0u, 8u }) {
            EXPECT_EQ(rows[row + 4] & 0x0F, 0) << "padding nibble written";
            for (std::size_t i = 5; i < 8; ++i)
                EXPECT_EQ(rows[row + i], 0) << "padding byte written";
        }
    }
    // And an 8-bit storage whose header says RLE4.
    {
        auto image = TDIBSharedImage::Allocate(3, 1, 8, Layout888(), GreyRamp(), true, true);
        TDIBSharedImageTestAccess::Header(*image)[16] = 2;
        image->SetCompressedData({ 255, 0x12, 0, 1 });
        TDIB dib;
        dib.SetImage(image);
        const Bytes rows = AllRowBytes(dib);
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[3], 0) << "padding byte written";
    }
    // The decoder itself, asked for the wrong code.
    {
        auto target = TDIBSharedImage::Allocate(9, 1, 4, Layout888(), GreyRamp(), true, false);
        const Bytes stream = { 255, 0xEE, 0, 1 };
        DecodeRLE(stream, 8, *target);
        EXPECT_EQ(target->Bits()[4] & 0x0F, 0);
        EXPECT_EQ(target->Bits()[5], 0);
    }
}

TEST(HostileRLE, LoaderTakesOrRefusesMalformedRunsWithoutCrashing)
{
    // The picture loader decodes RLE at once; the same malformed streams as
    // above either load (clipped) or are refused.
    const std::vector<std::pair<std::uint32_t, Bytes>> streams = {
        { 8, { 255, 7, 0, 0, 0, 255, 1, 2 } },
        { 4, { 0, 2, 255, 255, 8, 0xFF, 0, 2 } },
        { 8, { 0, 6, 1, 2, 3 } },
        { 4, { 0, 7, 0x12 } },
        { 8, { 0, 2 } },
    };
    for (const auto& [bitCount, stream] : streams) {
        TBMPFields fields;
        fields.Width = 5;
        fields.Height = 2;
        fields.BitCount = bitCount;
        fields.Compression = bitCount == 8 ? 1 : 2;
        fields.Entries = 16;
        fields.Pixels = stream;
        const Bytes file = MakeBMP(fields);
        TMarkedTarget<TDIB> marked;
        TDIB& target = marked.Target;
        const std::string outcome = ReadOutcome(TBMPRoad::LoadBMPPicture, file, target);
        if (outcome == "none") {
            EXPECT_EQ(target.Width(), 5);
            EXPECT_EQ(target.BitCount(), 24);
        } else {
            EXPECT_EQ(outcome, "invalid");
            marked.ExpectUntouched();
        }
    }
}

} // namespace
