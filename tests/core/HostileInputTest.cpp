// Hostile inputs for every reader: headers that claim absurd sizes, data that
// runs past its end, LZW tables that loop, endless sub-block chains, RLE
// streams that leave the picture, JPEGs cut at every byte. Each input is made
// here. A reader must refuse such a file with its error (before allocating
// anything large), or load it; it must never crash, read or write outside its
// buffers (the sanitizer build watches), or leave its target half-changed.

#include "GIFTestUtil.h"
#include "core/Errors.h"
#include "core/Limits.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "core/gif/XGIFUnitLZW.h"
#include "core/imaging/BMPFormat.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <limits>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ZX_HOSTILE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZX_HOSTILE_ASAN 1
#endif
#endif

#ifdef ZX_HOSTILE_ASAN
// The sanitizer runtime's count of live heap bytes (declared here: not every
// compiler installs the sanitizer headers).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace zx {

// The storage's header is private to the bitmap code; these tests forge
// damaged ones to see that decoding still stays inside the rows.
struct TDIBSharedImageTestAccess {
    static std::vector<std::uint8_t>& Header(TDIBSharedImage& image) { return image.m_bitmapInfo; }
};

} // namespace zx

using namespace zx;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Byte helpers

void U8(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
}

void U16(Bytes& out, std::uint32_t value)
{
    U8(out, value);
    U8(out, value >> 8);
}

void U32(Bytes& out, std::uint32_t value)
{
    U16(out, value);
    U16(out, value >> 16);
}

void Append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

void AppendText(Bytes& out, const char* text)
{
    out.insert(out.end(), text, text + std::strlen(text));
}

// Bytes of heap in use right now: the sanitizer's own count in the sanitizer
// build, glibc's otherwise.
std::size_t HeapInUse()
{
#ifdef ZX_HOSTILE_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// A picture with a storage of its own, to see that failed loads leave it alone.
TDIB MarkedTarget()
{
    TDIB target;
    target.SetSize(3, 2, 24);
    target.ScanLine(0)[0] = 0x5A;
    return target;
}

// The target still holds the very storage it had, with its pixels.
void ExpectUntouched(const TDIB& target, const std::shared_ptr<TDIBSharedImage>& before)
{
    EXPECT_EQ(target.Image(), before);
    EXPECT_EQ(target.Width(), 3);
    EXPECT_EQ(target.Height(), 2);
    EXPECT_EQ(target.ConstScanLine(0)[0], 0x5A);
}

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
    Bytes out;
    AppendText(out, "BM"); // bfType
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
            TDIB target = MarkedTarget();
            const auto before = target.Image();
            EXPECT_EQ(ReadOutcome(road, file, target), "too-large");
            ExpectUntouched(target, before);
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
            TDIB target = MarkedTarget();
            const auto before = target.Image();
            EXPECT_EQ(ReadOutcome(road, file, target), "invalid");
            ExpectUntouched(target, before);
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
        TDIB target = MarkedTarget();
        const auto before = target.Image();
        const std::string outcome = ReadOutcome(road, file, target);
        EXPECT_EQ(outcome, road == TBMPRoad::LoadBMPPicture ? "invalid" : "read");
        ExpectUntouched(target, before);
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
        TDIB target = MarkedTarget();
        const auto before = target.Image();
        EXPECT_EQ(ReadOutcome(road, shortTable, target),
            road == TBMPRoad::LoadBMPPicture ? "invalid" : "read");
        ExpectUntouched(target, before);
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
                TDIB target = MarkedTarget();
                const auto before = target.Image();
                const std::string outcome = ReadOutcome(road, file, target);
                if (outcome == "none") {
                    // An empty stream leaves LoadFromStream's target as it
                    // is, and a file header with nothing after it reads as
                    // an empty packed DIB. Anything else must be the picture.
                    if (target.Image() == before || (cut == 14 && target.Empty()))
                        continue;
                    EXPECT_EQ(target.Width(), 5);
                    EXPECT_EQ(target.Height(), 3);
                    for (std::int32_t y = 0; y < 3; ++y)
                        (void)target.ConstScanLine(y);
                } else {
                    EXPECT_TRUE(outcome == "invalid" || outcome == "read") << outcome;
                    ExpectUntouched(target, before);
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
    Bytes stream = { 255, 7, 0, 0, 0, 255 };
    stream.insert(stream.end(), 255, 9);
    stream.push_back(0); // pad the absolute run to an even length
    Append(stream, { 0, 1 });
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
            TDIB target = MarkedTarget();
            const auto before = target.Image();
            EXPECT_EQ(ReadOutcome(road, file, target), "invalid");
            ExpectUntouched(target, before);
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
        TDIB target = MarkedTarget();
        const auto before = target.Image();
        const std::string outcome = ReadOutcome(TBMPRoad::LoadBMPPicture, file, target);
        if (outcome == "none") {
            EXPECT_EQ(target.Width(), 5);
            EXPECT_EQ(target.BitCount(), 24);
        } else {
            EXPECT_EQ(outcome, "invalid");
            ExpectUntouched(target, before);
        }
    }
}

// ---------------------------------------------------------------------------
// GIF files

// Signature, logical screen descriptor and a global table of two colours.
Bytes GIFStart(std::uint16_t width, std::uint16_t height)
{
    Bytes out;
    AppendText(out, "GIF89a"); // signature and version
    U16(out, width); // logical screen width
    U16(out, height); // logical screen height
    U8(out, 0x80); // global table present, 2 entries
    U8(out, 0); // background colour index
    U8(out, 0); // pixel aspect ratio
    Append(out, { 0, 0, 0, 255, 255, 255 }); // black, white
    return out;
}

void ImageDescriptor(Bytes& out, std::uint16_t width, std::uint16_t height)
{
    U8(out, 0x2C); // image separator
    U16(out, 0); // left
    U16(out, 0); // top
    U16(out, width);
    U16(out, height);
    U8(out, 0); // no local table, not interlaced
}

// Packs codes of the given widths, least significant bit first, into bytes.
using gif_test::PackCodeBits;

// Image data: minimum code size, the bytes as one sub-block, terminator.
void ImageData(Bytes& out, std::uint8_t minCodeSize, const Bytes& data)
{
    U8(out, minCodeSize);
    if (!data.empty()) {
        U8(out, static_cast<std::uint32_t>(data.size()));
        Append(out, data);
    }
    U8(out, 0);
}

// A whole GIF: a screen of width x height with one frame of the same size
// whose image data is the codes given.
Bytes OneFrameGIF(
    std::uint16_t width, std::uint16_t height, std::uint8_t minCodeSize, const Bytes& data)
{
    Bytes out = GIFStart(width, height);
    ImageDescriptor(out, width, height);
    ImageData(out, minCodeSize, data);
    U8(out, 0x3B); // trailer
    return out;
}

// Loads into a TGIFImage, checking that a failure restores the stream's
// position. Returns the error text, empty on success.
std::string LoadGIF(const Bytes& file, TGIFImage& gif, std::uint64_t startAt = 0)
{
    TSpanStream stream(file);
    stream.SetPosition(startAt);
    try {
        gif.LoadFromStream(stream);
        return {};
    } catch (const std::exception& e) {
        EXPECT_EQ(stream.Position(), startAt) << "stream left elsewhere after: " << e.what();
        return e.what();
    }
}

// LoadGIFPicture into a marked target; on failure checks the target is as it
// was and returns the error text.
std::string LoadGIFTexture(const Bytes& file)
{
    TDIB target = MarkedTarget();
    const auto before = target.Image();
    try {
        LoadGIFPicture(file, target);
        return {};
    } catch (const std::exception& e) {
        ExpectUntouched(target, before);
        return e.what();
    }
}

TEST(HostileGIF, HugeLogicalScreenLoadsAsAModelButNeverAsATexture)
{
    // 65535 x 65535 screen, one 1 x 1 frame: the model holds only the frame;
    // the 12 GiB texture is refused before it is made.
    const Bytes file = OneFrameGIF(1, 1, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 5, 3 } }));
    Bytes huge = file;
    huge[6] = huge[7] = huge[8] = huge[9] = 0xFF; // screen 65535 x 65535
    TGIFImage gif;
    EXPECT_EQ(LoadGIF(huge, gif), "");
    EXPECT_EQ(gif.Width(), 65535);
    EXPECT_EQ(gif.Images().Count(), 1);

    TDIB target = MarkedTarget();
    const auto before = target.Image();
    EXPECT_THROW(LoadGIFPicture(huge, target), EImageTooLarge);
    ExpectUntouched(target, before);
}

TEST(HostileGIF, HugeFramesAreRefusedBeforeTheirPixelsExist)
{
    // A 65535 x 65535 frame (4 GiB of indices), and a 0 x 0 frame on a
    // 65535 x 65535 screen (which takes the screen's size).
    const Bytes data = PackCodeBits({ { 4, 3 }, { 1, 3 }, { 5, 3 } });
    Bytes bigFrame = GIFStart(10, 10);
    ImageDescriptor(bigFrame, 65535, 65535);
    ImageData(bigFrame, 2, data);
    Bytes zeroFrame = GIFStart(65535, 65535);
    ImageDescriptor(zeroFrame, 0, 0);
    ImageData(zeroFrame, 2, data);
    for (const Bytes& file : { bigFrame, zeroFrame }) {
        Bytes withPrefix = { 1, 2, 3 }; // the GIF starts at offset 3 of its stream
        Append(withPrefix, file);
        TSpanStream stream(withPrefix);
        stream.SetPosition(3);
        TGIFImage gif;
        EXPECT_THROW(gif.LoadFromStream(stream), EImageTooLarge);
        EXPECT_EQ(stream.Position(), 3u);
        TDIB target = MarkedTarget();
        const auto before = target.Image();
        EXPECT_THROW(LoadGIFPicture(file, target), EImageTooLarge);
        ExpectUntouched(target, before);
    }
}

TEST(HostileGIF, LargestAllowedFrameKeepsOnlyTheDataItHolds)
{
    // 65535 x 8192 is just under 512 MiB: accepted, but three codes of data
    // give one pixel, and that is all that is stored until the pixels are
    // asked for.
    const std::size_t before = HeapInUse();
    TGIFImage gif;
    EXPECT_EQ(
        LoadGIF(OneFrameGIF(65535, 8192, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 5, 3 } })), gif),
        "");
    ASSERT_EQ(gif.Images().Count(), 1);
    EXPECT_EQ(gif.Images()[0].PixelCount(), 65535u * 8192u);
    EXPECT_LT(HeapInUse() - before, std::size_t(1) << 20);
}

TEST(HostileGIF, CodesBeyondTheTableDecodeAsThePreviousString)
{
    // Minimum code size 2 (clear 4, end 5, first free 6), 3-bit codes:
    // clear, 1, then 7 (two beyond the table): "the first pixel, then the
    // previous string" gives 1, 1; then end.
    const Bytes file
        = OneFrameGIF(3, 1, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 7, 3 }, { 5, 3 } }));
    TGIFImage gif;
    ASSERT_EQ(LoadGIF(file, gif), "");
    const auto data = gif.Images()[0].Data();
    EXPECT_EQ(Bytes(data.begin(), data.end()), (Bytes { 1, 1, 1 }));
}

TEST(HostileGIF, CircularTableEntriesAreAnError)
{
    // clear, 6 (beyond the table as the first code), 7 (beyond: makes entry
    // 6 its own prefix), 6: the walk through entry 6 leads back to itself.
    const Bytes selfLoop
        = OneFrameGIF(8, 8, 2, PackCodeBits({ { 4, 3 }, { 6, 3 }, { 7, 3 }, { 6, 3 } }));
    // clear, 7, 6 (entry 6 -> 7), 7 (entry 7 -> 6), then 6 at 4 bits: a
    // loop of two entries.
    const Bytes twoLoop
        = OneFrameGIF(8, 8, 2, PackCodeBits({ { 4, 3 }, { 7, 3 }, { 6, 3 }, { 7, 3 }, { 6, 4 } }));
    for (const Bytes& file : { selfLoop, twoLoop }) {
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(file, gif), "Circular decoder table entry");
        EXPECT_EQ(LoadGIFTexture(file), "Circular decoder table entry");
    }
}

TEST(HostileGIF, MinimumCodeSizesAtAndBeyondTheEdges)
{
    // Sizes 0 and 1 decode as they come; 12 and 255 are refused.
    Bytes noise(200);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::uint8_t size : { 0, 1 }) {
        SCOPED_TRACE(int(size));
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(OneFrameGIF(16, 16, size, noise), gif), "");
        const auto data = gif.Images()[0].Data();
        EXPECT_EQ(data.size(), 256u);
        EXPECT_EQ(LoadGIFTexture(OneFrameGIF(16, 16, size, noise)), "");
    }
    for (std::uint8_t size : { 12, 255 }) {
        SCOPED_TRACE(int(size));
        TGIFImage gif;
        EXPECT_NE(LoadGIF(OneFrameGIF(16, 16, size, noise), gif), "");
        EXPECT_NE(LoadGIFTexture(OneFrameGIF(16, 16, size, noise)), "");
    }
}

TEST(HostileGIF, ExtensionsRunningPastTheEndAreAPrematureEnd)
{
    const std::vector<Bytes> extensions = {
        { 0x21, 0xFE, 16, 'a', 'b', 'c' }, // comment sub-block cut
        { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S' }, // application block cut
        { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3,
            1 }, // loop data cut
        { 0x21, 0x01, 12, 0, 0, 0 }, // plain text header cut
        { 0x21, 0x99, 5, 1, 2 }, // unknown label, sub-block cut
        { 0x21 }, // introducer alone
    };
    for (const Bytes& extension : extensions) {
        Bytes file = GIFStart(4, 4);
        Append(file, extension);
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(file, gif), "过早的数据末端");
        EXPECT_EQ(LoadGIFTexture(file), "过早的数据末端");
    }
}

// 1 MB of data sub-blocks of 255 bytes each, every data byte fill, without a
// terminator.
Bytes EndlessSubBlocks(std::uint8_t fill)
{
    Bytes out;
    while (out.size() < (1u << 20)) {
        out.push_back(255);
        out.insert(out.end(), 255, fill);
    }
    return out;
}

TEST(HostileGIF, EndlessSubBlockChainsEndAtTheEndOfTheFile)
{
    // In extensions the chain runs into the end of the file.
    for (const Bytes& head : { Bytes { 0x21, 0xFE }, Bytes { 0x21, 0x99 },
             Bytes { 0x21, 0xFF, 11, 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X', '1', '.', '0' } }) {
        Bytes file = GIFStart(4, 4);
        Append(file, head);
        Append(file, EndlessSubBlocks(0xFF));
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(file, gif), "过早的数据末端");
    }

    // As image data (codes 0 over and over) it is decoded up to the end of
    // the file; a cut data sub-block is only a warning. A small frame fills
    // up and the rest is skipped.
    for (std::uint16_t size : { 100, 1000 }) {
        Bytes file = GIFStart(size, size);
        ImageDescriptor(file, size, size);
        U8(file, 8); // minimum code size
        Append(file, EndlessSubBlocks(0));
        TGIFImage gif;
        std::vector<std::string> warnings;
        gif.OnWarning = [&warnings](const std::string& message) { warnings.push_back(message); };
        ASSERT_EQ(LoadGIF(file, gif), "");
        const auto data = gif.Images()[0].Data();
        EXPECT_EQ(data.size(), std::size_t(size) * size);
        EXPECT_EQ(std::count(data.begin(), data.end(), 0), std::ptrdiff_t(data.size()));
        EXPECT_EQ(LoadGIFTexture(file), "");
    }
}

TEST(HostileGIF, ManyConsecutiveExtensionsLoad)
{
    // 100000 empty comments and 1000 graphic control extensions before one
    // frame.
    Bytes file = GIFStart(2, 1);
    for (int i = 0; i < 100000; ++i)
        Append(file, { 0x21, 0xFE, 0 });
    for (int i = 0; i < 1000; ++i)
        Append(file, { 0x21, 0xF9, 4, 0x01, 0, 0, 1, 0 }); // transparent index 1
    ImageDescriptor(file, 2, 1);
    ImageData(file, 2, PackCodeBits({ { 4, 3 }, { 0, 3 }, { 1, 3 }, { 5, 3 } }));
    U8(file, 0x3B);
    TGIFImage gif;
    ASSERT_EQ(LoadGIF(file, gif), "");
    ASSERT_EQ(gif.Images().Count(), 1);
    EXPECT_EQ(gif.Images()[0].Extensions().Count(), 101000);
    EXPECT_TRUE(gif.Images()[0].Transparent());
    EXPECT_EQ(LoadGIFTexture(file), "");
}

TEST(HostileGIF, TenThousandFramesWithoutDataLoadWithoutPixelStorage)
{
    // 10000 frames of 256 x 256 whose image data is a code size and a
    // terminator. Stored as full index arrays they would take 655 MB; kept
    // as the data they hold they take next to nothing.
    Bytes file = GIFStart(256, 256);
    for (int i = 0; i < 10000; ++i) {
        ImageDescriptor(file, 256, 256);
        ImageData(file, 2, {});
    }
    U8(file, 0x3B);
    const std::size_t before = HeapInUse();
    TGIFImage gif;
    std::size_t underRuns = 0;
    gif.OnWarning = [&underRuns](const std::string& message) {
        underRuns += message == "Decoder bit buffer under-run";
    };
    ASSERT_EQ(LoadGIF(file, gif), "");
    ASSERT_EQ(gif.Images().Count(), 10000);
    // Each frame's terminator came where its first code should have.
    EXPECT_EQ(underRuns, 10000u);
    const std::size_t grown = HeapInUse() - before;
    EXPECT_LT(grown, std::size_t(10000) * 2048) << "bytes per frame: " << grown / 10000;

    // Data that ends right after the code size: no warning, no pixels.
    Bytes cut = GIFStart(4, 4);
    ImageDescriptor(cut, 4, 4);
    U8(cut, 2);
    TGIFImage cutGif;
    cutGif.OnWarning = [](const std::string& message) { ADD_FAILURE() << message; };
    EXPECT_EQ(LoadGIF(cut, cutGif), "");
    EXPECT_EQ(cutGif.Images()[0].Data().size(), 16u);

    // Asked for, a frame's pixels exist and keep the fill value.
    const auto data = gif.Images()[9999].Data();
    EXPECT_EQ(data.size(), 65536u);
    EXPECT_EQ(std::count(data.begin(), data.end(), 0), 65536);
    EXPECT_EQ(LoadGIFTexture(file), "");
}

TEST(HostileGIF, FramesTogetherStopAtTheAnimationLimit)
{
    // LZW packs a run of 1000 x 1000 zeros into under 2 KB, so a small file
    // of many such frames asks for far more memory than its size suggests.
    // The reader keeps a running total and stops at the image's limit,
    // whichever frame crosses it.
    const Bytes zeros(1000 * 1000, 0);
    Bytes data;
    TLZWEncoder::Encode(zeros, 1, 2, data);
    ASSERT_LT(data.size(), 2048u);
    Bytes file = GIFStart(1000, 1000);
    for (int i = 0; i < 5; ++i) {
        ImageDescriptor(file, 1000, 1000);
        Append(file, data);
    }
    U8(file, 0x3B);

    TGIFImage gif;
    ASSERT_EQ(LoadGIF(file, gif), "");
    EXPECT_EQ(gif.DecodeLimit(), kMaxAnimationBytes);
    ASSERT_EQ(gif.Images().Count(), 5);

    // Room for four frames and a half: the fifth frame is refused, and the
    // same image then reads a smaller file again from a zero total.
    TGIFImage limited;
    limited.SetDecodeLimit(4500000);
    EXPECT_EQ(LoadGIF(file, limited), "图像太大: 动画各帧的像素内存合计超过 4 MiB");
    Bytes four = GIFStart(1000, 1000);
    for (int i = 0; i < 4; ++i) {
        ImageDescriptor(four, 1000, 1000);
        Append(four, data);
    }
    U8(four, 0x3B);
    EXPECT_EQ(LoadGIF(four, limited), "");
    EXPECT_EQ(LoadGIF(four, limited), "");
    EXPECT_EQ(limited.Images().Count(), 4);
}

TEST(HostileGIF, EveryTruncationFailsCleanlyOrLoads)
{
    // Two frames with a loop extension, a graphic control extension and a
    // comment, cut at every byte.
    Bytes whole = GIFStart(3, 2);
    Append(whole, { 0x21, 0xFF, 11 });
    AppendText(whole, "NETSCAPE2.0");
    Append(whole, { 3, 1, 0, 0, 0 });
    Append(whole, { 0x21, 0xF9, 4, 0x05, 10, 0, 1, 0 });
    ImageDescriptor(whole, 3, 2);
    ImageData(
        whole, 2, PackCodeBits({ { 4, 3 }, { 0, 3 }, { 1, 3 }, { 6, 3 }, { 7, 3 }, { 5, 3 } }));
    Append(whole, { 0x21, 0xFE, 2, 'h', 'i', 0 });
    ImageDescriptor(whole, 3, 2);
    ImageData(whole, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 1, 3 }, { 5, 3 } }));
    U8(whole, 0x3B);
    {
        TGIFImage gif;
        ASSERT_EQ(LoadGIF(whole, gif), "");
        ASSERT_EQ(gif.Images().Count(), 2);
    }
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        TGIFImage gif;
        if (LoadGIF(file, gif).empty()) {
            for (auto& frame : gif.Images())
                EXPECT_EQ(frame->Data().size(), frame->PixelCount());
        }
        LoadGIFTexture(file);
    }
}

// ---------------------------------------------------------------------------
// JPEG files

// A width x height JPEG made by libjpeg: greyscale or colour, baseline or
// progressive, colour at 4:2:0 unless fullChroma. Pixels are a gradient.
Bytes MakeJPEG(int width, int height, int components, bool progressive,
    const std::vector<jpeg_scan_info>* script = nullptr, bool fullChroma = false)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr err {};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (fullChroma) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    if (progressive)
        jpeg_simple_progression(&cinfo);
    if (script) {
        cinfo.scan_info = script->data();
        cinfo.num_scans = static_cast<int>(script->size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width * components));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<JSAMPLE>(i * 7 + cinfo.next_scanline * 13);
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

// Offset of the first marker with the given code, or npos.
std::size_t FindMarker(const Bytes& file, std::uint8_t code, std::size_t from = 2)
{
    for (std::size_t i = from; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == code)
            return i;
    return std::string::npos;
}

// The file with the frame header's (SOF0 or SOF2) height and width replaced.
Bytes WithDimensions(Bytes file, std::uint16_t width, std::uint16_t height)
{
    std::size_t sof = FindMarker(file, 0xC0);
    if (sof == std::string::npos)
        sof = FindMarker(file, 0xC2);
    EXPECT_NE(sof, std::string::npos);
    // marker, length (2), precision (1), height (2), width (2)
    file[sof + 5] = static_cast<std::uint8_t>(height >> 8);
    file[sof + 6] = static_cast<std::uint8_t>(height);
    file[sof + 7] = static_cast<std::uint8_t>(width >> 8);
    file[sof + 8] = static_cast<std::uint8_t>(width);
    return file;
}

// Loads through the JPEG road into a marked target. Returns the error text
// (empty on success) after checking that a failure left the target alone.
std::string LoadJPEGTexture(const Bytes& file, TDIB* loaded = nullptr)
{
    TDIB target = MarkedTarget();
    const auto before = target.Image();
    try {
        LoadJPEGPicture(file, target);
        if (loaded)
            *loaded = target;
        return {};
    } catch (const EInvalidGraphic& e) {
        ExpectUntouched(target, before);
        return e.what();
    }
}

bool IsJPEGError(const std::string& message)
{
    return message.rfind("JPEG-Fehler #", 0) == 0;
}

TEST(HostileJPEG, AbsurdFrameSizesAreRefusedBeforeDecoding)
{
    for (bool progressive : { false, true }) {
        const Bytes small = MakeJPEG(16, 16, 3, progressive);
        for (const auto& [width, height] :
            { std::pair { 65500, 65500 }, std::pair { 65500, 2800 }, std::pair { 16384, 11000 } }) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
            TDIB target = MarkedTarget();
            const auto before = target.Image();
            EXPECT_THROW(
                LoadJPEGPicture(WithDimensions(small, width, height), target), EImageTooLarge);
            ExpectUntouched(target, before);
        }
        for (const auto& [width, height] : { std::pair { 0, 16 }, std::pair { 16, 0 },
                 std::pair { 0, 0 }, std::pair { 0, 65500 } }) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
            EXPECT_TRUE(IsJPEGError(LoadJPEGTexture(WithDimensions(small, width, height))));
        }
    }
}

TEST(HostileJPEG, ProgressiveCoefficientsAreBoundedLikePixels)
{
    // A progressive file keeps 2 bytes per sample of the whole picture while
    // its scans are read. At 4:4:4 that is 6 bytes a pixel: 11000 x 10000
    // gives a 330 MB picture (allowed) but 660 MB of coefficients, refused
    // before libjpeg allocates them. At 4:2:0 the same frame needs 330 MB and
    // goes on to fail on its missing data.
    const Bytes full = MakeJPEG(16, 16, 3, true, nullptr, true);
    ASSERT_EQ(LoadJPEGTexture(full), "");
    TDIB target = MarkedTarget();
    const auto before = target.Image();
    try {
        LoadJPEGPicture(WithDimensions(full, 11000, 10000), target);
        ADD_FAILURE() << "loaded";
    } catch (const EImageTooLarge& e) {
        EXPECT_STREQ(e.what(), "图像太大: 像素内存超过 512 MiB");
    }
    ExpectUntouched(target, before);
    const Bytes subsampled = MakeJPEG(16, 16, 3, true);
    EXPECT_TRUE(IsJPEGError(LoadJPEGTexture(WithDimensions(subsampled, 11000, 10000))));
}

TEST(HostileJPEG, ManyMarkersBeforeTheFrameAreSkipped)
{
    // 100000 empty comment markers (length 2) after SOI: the same picture.
    const Bytes plain = MakeJPEG(24, 8, 3, false);
    Bytes padded(plain.begin(), plain.begin() + 2);
    for (int i = 0; i < 100000; ++i)
        Append(padded, { 0xFF, 0xFE, 0x00, 0x02 });
    padded.insert(padded.end(), plain.begin() + 2, plain.end());
    TDIB a;
    TDIB b;
    ASSERT_EQ(LoadJPEGTexture(plain, &a), "");
    ASSERT_EQ(LoadJPEGTexture(padded, &b), "");
    ASSERT_EQ(a.Size(), b.Size());
    EXPECT_EQ(std::memcmp(a.ConstBits(), b.ConstBits(), static_cast<std::size_t>(a.Size())), 0);
}

TEST(HostileJPEG, HugeNumberOfScansFailsCleanly)
{
    // A progressive picture whose last scan is repeated 50000 times: every
    // repeat refines bits that were already refined.
    const Bytes good = MakeJPEG(64, 64, 3, true);
    std::size_t lastSos = std::string::npos;
    for (std::size_t at = FindMarker(good, 0xDA); at != std::string::npos;
         at = FindMarker(good, 0xDA, at + 2))
        lastSos = at;
    const std::size_t eoi = good.size() - 2;
    ASSERT_NE(lastSos, std::string::npos);
    ASSERT_EQ(good[eoi + 1], 0xD9);
    const Bytes scan(good.begin() + static_cast<std::ptrdiff_t>(lastSos),
        good.begin() + static_cast<std::ptrdiff_t>(eoi));
    Bytes many(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(eoi));
    for (int i = 0; i < 50000; ++i)
        Append(many, scan);
    Append(many, { 0xFF, 0xD9 });
    EXPECT_TRUE(IsJPEGError(LoadJPEGTexture(many)));

    // The same with many scans of a large picture: refused after the first.
    Bytes large = WithDimensions(many, 2000, 2000);
    EXPECT_TRUE(IsJPEGError(LoadJPEGTexture(large)));
}

// A greyscale progressive scan script of 12 + 11 x acRefined scans: the DC
// coefficient and each of the first acRefined AC coefficients sent in 11
// scans (bits 10 and up, then one bit at a time), the other AC coefficients
// in one scan.
std::vector<jpeg_scan_info> LongScript(int acRefined)
{
    std::vector<jpeg_scan_info> script;
    auto add = [&script](int ss, int se, int ah, int al) {
        jpeg_scan_info scan {};
        scan.comps_in_scan = 1;
        scan.component_index[0] = 0;
        scan.Ss = ss;
        scan.Se = se;
        scan.Ah = ah;
        scan.Al = al;
        script.push_back(scan);
    };
    for (int k = 0; k <= acRefined; ++k) {
        add(k, k, 0, 10);
        for (int al = 9; al >= 0; --al)
            add(k, k, al + 1, al);
    }
    add(acRefined + 1, 63, 0, 0);
    return script;
}

TEST(HostileJPEG, MoreThanAHundredScansAreRefused)
{
    // Each scan is a pass over the whole picture: a few kilobytes of scans
    // over a large frame could keep the reader busy for minutes.
    const std::vector<jpeg_scan_info> hundred = LongScript(8);
    const std::vector<jpeg_scan_info> more = LongScript(9);
    ASSERT_EQ(hundred.size(), 100u);
    ASSERT_EQ(more.size(), 111u);
    TDIB loaded;
    EXPECT_EQ(LoadJPEGTexture(MakeJPEG(40, 24, 1, true, &hundred), &loaded), "");
    EXPECT_EQ(loaded.Width(), 40);
    const Bytes tooMany = MakeJPEG(40, 24, 1, true, &more);
    EXPECT_EQ(LoadJPEGTexture(tooMany), "JPEG 文件的扫描超过 100 个");
}

TEST(HostileJPEG, EveryTruncationFailsCleanlyOrLoads)
{
    for (bool progressive : { false, true }) {
        const Bytes whole = MakeJPEG(20, 12, 3, progressive);
        ASSERT_EQ(LoadJPEGTexture(whole), "");
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            SCOPED_TRACE(std::to_string(cut) + (progressive ? " progressive" : " baseline"));
            const Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            TDIB loaded;
            const std::string error = LoadJPEGTexture(file, &loaded);
            if (error.empty()) {
                EXPECT_EQ(loaded.Width(), 20);
                EXPECT_EQ(loaded.Height(), 12);
            } else {
                EXPECT_TRUE(IsJPEGError(error)) << error;
            }
        }
    }
}

} // namespace
