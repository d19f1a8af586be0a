// TDIB's own BMP streams: LoadFromStream, SaveToStream, ReadData, WriteData.

#include "BMPTestData.h"
#include "LoadFailureTestUtil.h"
#include "core/Errors.h"
#include "core/Limits.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"

#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

using namespace zx;
using namespace zx::test;

namespace {

// A small deterministic byte source.
class TRandom {
public:
    explicit TRandom(std::uint32_t seed)
        : m_state(seed)
    {
    }
    std::uint8_t Next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(m_state >> 24);
    }

private:
    std::uint32_t m_state;
};

// The picture every failing load must leave alone: 3 x 2 at 24 bits.
TDIB MakeMarker()
{
    TDIB dib;
    dib.SetSize(3, 2, 24);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i)
            dib.ScanLine(y)[i] = static_cast<std::uint8_t>(10 * y + i + 1);
    return dib;
}

std::vector<std::uint8_t> PixelBytes(const TDIB& dib)
{
    const std::uint8_t* bits = dib.ConstBits();
    return std::vector<std::uint8_t>(bits, bits + dib.Size());
}

// Runs load on a marked picture, expects error E with text, and checks that
// the picture kept its storage and pixels.
template <typename E, typename Load> void ExpectRejected(Load load, const std::string& text)
{
    EXPECT_EQ(load_test::ExpectLoadFails<E>(load), text);
}

void LoadBytes(TDIB& dib, const std::vector<std::uint8_t>& bytes)
{
    TSpanStream stream(bytes);
    dib.LoadFromStream(stream);
}

std::vector<std::uint8_t> SaveBytes(const TDIB& dib)
{
    TMemoryStream stream;
    dib.SaveToStream(stream);
    return stream.Data();
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8
        | std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

// A picture's colours as the loader's references show them: red, green, blue
// per pixel, top row first, channels widened with round(v * 255 / max).
TRGBPicture ToRGB(const TDIB& dib)
{
    TRGBPicture picture;
    picture.Width = dib.Width();
    picture.Height = dib.Height();
    auto channel = [](std::uint32_t value, std::int32_t mask) {
        const auto m = static_cast<std::uint32_t>(mask);
        const int shift = std::countr_zero(m);
        const std::uint32_t max = m >> shift;
        return static_cast<std::uint8_t>((((value & m) >> shift) * 255 + max / 2) / max);
    };
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x) {
            const std::uint32_t value = dib.Pixel(x, y);
            std::uint8_t r = 0, g = 0, b = 0;
            switch (dib.BitCount()) {
            case 1:
            case 4:
            case 8:
                r = dib.ColorTable()[value].Red;
                g = dib.ColorTable()[value].Green;
                b = dib.ColorTable()[value].Blue;
                break;
            case 24: // red in the low byte
                r = value & 0xFF;
                g = (value >> 8) & 0xFF;
                b = (value >> 16) & 0xFF;
                break;
            default: // 16 and 32: the layout's channels
                r = channel(value, dib.Layout().RedMask);
                g = channel(value, dib.Layout().GreenMask);
                b = channel(value, dib.Layout().BlueMask);
                break;
            }
            picture.Rgb.insert(picture.Rgb.end(), { r, g, b });
        }
    }
    return picture;
}

// The error a rejected sample must raise, from the manifest's note.
struct TExpectedError {
    bool ReadError = false;
    std::string Text;
};

TExpectedError ExpectedTDIBError(const TManifestRow& row)
{
    TExpectedError expected;
    const std::string& notes = row["notes"];
    std::smatch match;
    if (std::regex_search(notes, match, std::regex("TDIB rejects: \"([^\"]*)\"")))
        expected.Text = match[1];
    else if (notes.find("TDIB rejects (stream read error") != std::string::npos)
        expected.ReadError = true;
    else
        expected.Text = "DIB 无效"; // width <= 0
    return expected;
}

} // namespace

// ---------------------------------------------------------------------------
// Round trips

TEST(TDIBBMP, SaveAndLoadRoundTripEveryBitCount)
{
    struct Case {
        int bitCount;
        const TDIBChannelLayout* layout;
    };
    const Case cases[] = { { 1, &Layout888() }, { 4, &Layout888() }, { 8, &Layout888() },
        { 16, &Layout555() }, { 16, &Layout565() }, { 24, &Layout888() }, { 32, &Layout888() } };
    TRandom random(7);
    for (const Case& c : cases) {
        for (const int width : { 1, 6, 13 }) {
            SCOPED_TRACE(std::to_string(c.bitCount) + " bits, width " + std::to_string(width));
            TDIB dib;
            dib.SetPixelFormat(*c.layout);
            for (TRGBQuad& entry : dib.ColorTable())
                entry = TRGBQuad { random.Next(), random.Next(), random.Next(), 0 };
            dib.SetSize(width, 5, c.bitCount);
            for (int y = 0; y < 5; ++y)
                for (int i = 0; i < dib.RowBytes(); ++i)
                    dib.ScanLine(y)[i] = random.Next();

            const std::vector<std::uint8_t> file = SaveBytes(dib);
            const auto infoSize = static_cast<std::size_t>(dib.Image()->BitmapInfoSize());
            ASSERT_EQ(file.size(), 14 + infoSize + static_cast<std::size_t>(dib.Size()));
            EXPECT_EQ(file[0], 'B');
            EXPECT_EQ(file[1], 'M');
            EXPECT_EQ(U32At(file, 2), file.size());
            EXPECT_EQ(U32At(file, 10), 14 + infoSize);
            EXPECT_EQ(U32At(file, 14), 40u);
            EXPECT_EQ(U32At(file, 14 + 16), c.bitCount == 16 || c.bitCount == 32 ? 3u : 0u);

            TDIB loaded = MakeMarker();
            LoadBytes(loaded, file);
            EXPECT_EQ(loaded.Width(), width);
            EXPECT_EQ(loaded.Height(), 5);
            EXPECT_EQ(loaded.BitCount(), c.bitCount);
            EXPECT_TRUE(loaded.Layout().SameMasks(*c.layout));
            EXPECT_EQ(loaded.PaletteCount(), dib.PaletteCount());
            for (int i = 0; i < dib.PaletteCount(); ++i)
                EXPECT_EQ(loaded.ColorTable()[i], dib.ColorTable()[i]) << "entry " << i;
            EXPECT_EQ(PixelBytes(loaded), PixelBytes(dib));

            // The packed DIB is the file without its 14-byte header.
            TMemoryStream packed;
            dib.WriteData(packed);
            EXPECT_EQ(packed.Data(), std::vector<std::uint8_t>(file.begin() + 14, file.end()));
            packed.SetPosition(0);
            TDIB fromPacked;
            fromPacked.ReadData(packed);
            EXPECT_EQ(PixelBytes(fromPacked), PixelBytes(dib));
            EXPECT_TRUE(fromPacked.Layout().SameMasks(*c.layout));
        }
    }
}

TEST(TDIBBMP, EmptyPictureWritesNothing)
{
    const TDIB dib;
    TMemoryStream stream;
    dib.SaveToStream(stream);
    dib.WriteData(stream);
    EXPECT_TRUE(stream.Data().empty());
}

// Bottom row first: run of four 1s; absolute 2 3 4 (padded), run of one 5;
// offset (1, 0), run of three 6s; end of picture.
const std::vector<std::uint8_t> kRle8Stream
    = { 4, 1, 0, 0, 0, 3, 2, 3, 4, 0, 1, 5, 0, 0, 0, 2, 1, 0, 3, 6, 0, 1 };

std::vector<std::uint8_t> MakeRle8File()
{
    TBMPFields fields;
    fields.Width = 4;
    fields.Height = 3;
    fields.BitCount = 8;
    fields.Compression = 1;
    for (std::uint32_t i = 0; i < 256; ++i)
        fields.Colors.push_back(i * 0x010101u);
    fields.Pixels = kRle8Stream;
    return MakeBMP(fields);
}

TEST(TDIBBMP, Rle8StaysCompressedUntilFirstPixelAccess)
{
    const std::vector<std::uint8_t> file = MakeRle8File();
    TDIB dib;
    LoadBytes(dib, file);
    ASSERT_TRUE(dib.Compressed());
    const auto span = dib.Image()->CompressedData();
    EXPECT_EQ(std::vector<std::uint8_t>(span.begin(), span.end()), kRle8Stream);
    // Untouched, the picture writes back exactly the file it came from.
    EXPECT_EQ(SaveBytes(dib), file);

    // Rows from the top: the offset left (0, 0) unwritten.
    EXPECT_EQ(dib.Pixel(1, 0), 6u);
    EXPECT_FALSE(dib.Compressed());
    const std::uint32_t expected[3][4] = { { 0, 6, 6, 6 }, { 2, 3, 4, 5 }, { 1, 1, 1, 1 } };
    for (int y = 0; y < 3; ++y)
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(dib.Pixel(x, y), expected[y][x]) << x << ", " << y;

    // Decoded, it writes rows.
    const std::vector<std::uint8_t> saved = SaveBytes(dib);
    EXPECT_EQ(U32At(saved, 14 + 16), 0u); // biCompression
    EXPECT_EQ(U32At(saved, 14 + 20), 12u); // biSizeImage: 3 rows of 4 bytes
    EXPECT_EQ(saved.size(), 14 + 40 + 1024 + 12u);
    TDIB reloaded;
    LoadBytes(reloaded, saved);
    EXPECT_FALSE(reloaded.Compressed());
    EXPECT_EQ(PixelBytes(reloaded), PixelBytes(dib));
}

TEST(TDIBBMP, Rle4DecodesNibblesAtFirstPixelAccess)
{
    TBMPFields fields;
    fields.Width = 5;
    fields.Height = 2;
    fields.BitCount = 4;
    fields.Compression = 2;
    for (std::uint32_t i = 0; i < 16; ++i)
        fields.Colors.push_back(i * 0x111111u);
    // Bottom row: run of five alternating 1, 2; top row: absolute 3 4 5
    // (two bytes), run of two 7s; end of picture.
    fields.Pixels = { 5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0x77, 0, 1 };
    const std::vector<std::uint8_t> file = MakeBMP(fields);
    TDIB dib;
    LoadBytes(dib, file);
    ASSERT_TRUE(dib.Compressed());
    EXPECT_EQ(SaveBytes(dib), file);
    const std::uint32_t expected[2][5] = { { 3, 4, 5, 7, 7 }, { 1, 2, 1, 2, 1 } };
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(dib.Pixel(x, y), expected[y][x]) << x << ", " << y;
    EXPECT_FALSE(dib.Compressed());
}

// ---------------------------------------------------------------------------
// Reading variants

TEST(TDIBBMP, TopDownRowsLoadWithTheFirstStoredRowAtTheTop)
{
    TBMPFields fields;
    fields.Width = 2;
    fields.Height = -3;
    fields.BitCount = 24;
    // Rows of 6 bytes plus 2 of padding, top first.
    for (std::uint8_t row = 0; row < 3; ++row)
        for (std::uint8_t i = 0; i < 8; ++i)
            fields.Pixels.push_back(i < 6 ? static_cast<std::uint8_t>(16 * row + i) : 0);
    TDIB dib;
    LoadBytes(dib, MakeBMP(fields));
    ASSERT_EQ(dib.Height(), 3);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(dib.ConstScanLine(y)[0], 16 * y) << "row " << y;
    EXPECT_EQ(dib.Pixel(1, 2), 0x030405u + 0x202020u);

    // Saved bottom-up with a positive height.
    const std::vector<std::uint8_t> saved = SaveBytes(dib);
    EXPECT_EQ(U32At(saved, 14 + 8), 3u);
    EXPECT_EQ(saved[14 + 40], 32); // first stored row is the bottom one
}

TEST(TDIBBMP, CoreHeaderReadsThreeByteColourEntries)
{
    TBMPFields fields;
    fields.HeaderSize = 12;
    fields.Width = 3;
    fields.Height = 1;
    fields.BitCount = 1;
    fields.Colors = { 0x102030, 0xA0B0C0 };
    fields.Pixels = { 0x40, 0, 0, 0 }; // 0 1 0
    TDIB dib;
    LoadBytes(dib, MakeBMP(fields));
    ASSERT_EQ(dib.BitCount(), 1);
    EXPECT_EQ(dib.ColorTable()[0], (TRGBQuad { 0x30, 0x20, 0x10, 0 }));
    EXPECT_EQ(dib.ColorTable()[1], (TRGBQuad { 0xC0, 0xB0, 0xA0, 0 }));
    EXPECT_EQ(dib.Pixel(0, 0), 0u);
    EXPECT_EQ(dib.Pixel(1, 0), 1u);
}

TEST(TDIBBMP, PixelDataIsReadAtTheFileOffsetWhenItFollowsTheColourTable)
{
    TBMPFields fields;
    fields.Width = 4;
    fields.Height = 1;
    fields.BitCount = 8;
    fields.ColorsUsed = 2;
    fields.Colors = { 0x000000, 0xFFFFFF };
    fields.Pixels = { 1, 0, 1, 1 };

    // A gap between table and pixels, announced by bfOffBits.
    fields.Gap = 6;
    TDIB gap;
    LoadBytes(gap, MakeBMP(fields));
    EXPECT_EQ(PixelBytes(gap), fields.Pixels);

    // The offset counts from the file's start, wherever the stream holds it.
    {
        std::vector<std::uint8_t> embedded = { 1, 2, 3, 4, 5 };
        const std::vector<std::uint8_t> file = MakeBMP(fields);
        embedded.insert(embedded.end(), file.begin(), file.end());
        TSpanStream stream(embedded);
        stream.SetPosition(5);
        TDIB dib;
        dib.LoadFromStream(stream);
        EXPECT_EQ(PixelBytes(dib), fields.Pixels);
        EXPECT_EQ(stream.Position(), embedded.size());
    }

    // No usable offset: read straight after the table, as a packed DIB is.
    fields.Gap = 0;
    fields.OmitOffset = true;
    TDIB noOffset;
    LoadBytes(noOffset, MakeBMP(fields));
    EXPECT_EQ(PixelBytes(noOffset), fields.Pixels);

    // An offset pointing into the colour table or past the end is ignored.
    for (const std::uint32_t offset : { 20u, 60u, 1000u }) {
        fields.OmitOffset = false;
        std::vector<std::uint8_t> file = MakeBMP(fields);
        file[10] = static_cast<std::uint8_t>(offset);
        file[11] = static_cast<std::uint8_t>(offset >> 8);
        TDIB dib;
        LoadBytes(dib, file);
        EXPECT_EQ(PixelBytes(dib), fields.Pixels) << "offset " << offset;
    }
}

TEST(TDIBBMP, ShortCorePaletteIsSizedFromTheFileOffset)
{
    TBMPFields fields;
    fields.HeaderSize = 12;
    fields.Width = 4;
    fields.Height = 1;
    fields.BitCount = 8;
    fields.Colors = { 0x0000FF, 0x00FF00, 0xFF0000 }; // three of 256
    fields.Pixels = { 2, 1, 0, 2 };
    TDIB dib;
    LoadBytes(dib, MakeBMP(fields));
    EXPECT_EQ(PixelBytes(dib), fields.Pixels);
    EXPECT_EQ(dib.ColorTable()[2], (TRGBQuad { 0, 0, 0xFF, 0 }));
    EXPECT_EQ(dib.ColorTable()[3], (TRGBQuad {}));
}

// ---------------------------------------------------------------------------
// Refused input

TEST(TDIBBMP, RefusesWhatItCannotHoldAndKeepsThePicture)
{
    auto load = [](TBMPFields fields) {
        return [file = MakeBMP(fields)](TDIB& dib) { LoadBytes(dib, file); };
    };
    TBMPFields base;
    base.Width = 2;
    base.Height = 2;
    base.BitCount = 24;
    base.Pixels.assign(16, 0x55);

    for (const std::uint32_t size : { 16u, 52u, 56u, 64u, 108u, 124u }) {
        TBMPFields fields = base;
        fields.HeaderSize = size;
        SCOPED_TRACE(size);
        ExpectRejected<EInvalidGraphic>(load(fields), "DIB 无效");
    }

    TBMPFields twoBits = base;
    twoBits.BitCount = 2;
    twoBits.Colors = { 0, 0x555555, 0xAAAAAA, 0xFFFFFF };
    ExpectRejected<EInvalidGraphicOperation>(load(twoBits), "Bitcount in invalid (2)");

    TBMPFields masks444 = base;
    masks444.BitCount = 16;
    masks444.Compression = 3;
    masks444.Masks = { 0x0F00, 0x00F0, 0x000F };
    ExpectRejected<EInvalidGraphicOperation>(load(masks444), "像素格式无效");

    TBMPFields jpeg = base;
    jpeg.Compression = 4;
    ExpectRejected<EInvalidGraphic>(load(jpeg), "DIB 无效");

    // An RLE code must match the bit count it encodes.
    TBMPFields rle8Of24 = base;
    rle8Of24.Compression = 1;
    ExpectRejected<EInvalidGraphic>(load(rle8Of24), "DIB 无效");
    TBMPFields rle4Of8 = base;
    rle4Of8.BitCount = 8;
    rle4Of8.Compression = 2;
    rle4Of8.ColorsUsed = 1;
    rle4Of8.Colors = { 0 };
    ExpectRejected<EInvalidGraphic>(load(rle4Of8), "DIB 无效");

    for (const std::int32_t width : { 0, -2 }) {
        TBMPFields fields = base;
        fields.Width = width;
        ExpectRejected<EInvalidGraphic>(load(fields), "DIB 无效");
    }
    TBMPFields noRows = base;
    noRows.Height = 0;
    ExpectRejected<EInvalidGraphic>(load(noRows), "DIB 无效");
}

TEST(TDIBBMP, FileHeaderMustBeCompleteAndSayBM)
{
    ExpectRejected<EInvalidGraphic>(
        [](TDIB& dib) {
            LoadBytes(dib, { 'B', 'M', 0, 0, 0 });
        },
        "DIB 无效");
    std::vector<std::uint8_t> file = MakeRle8File();
    file[1] = 'A';
    ExpectRejected<EInvalidGraphic>([&](TDIB& dib) { LoadBytes(dib, file); }, "DIB 无效");
    // One to three bytes of a packed DIB's header size.
    ExpectRejected<EInvalidGraphic>(
        [](TDIB& dib) {
            TMemoryStream stream({ 40, 0 });
            dib.ReadData(stream);
        },
        "DIB 无效");
}

TEST(TDIBBMP, EmptyStreams)
{
    // LoadFromStream on a stream with nothing left does nothing...
    TDIB dib = MakeMarker();
    const auto storage = dib.Image();
    TMemoryStream empty;
    dib.LoadFromStream(empty);
    EXPECT_EQ(dib.Image(), storage);
    // ...while ReadData makes the picture empty.
    dib.ReadData(empty);
    EXPECT_TRUE(dib.Empty());
    EXPECT_EQ(dib.Width(), 0);
}

TEST(TDIBBMP, ShortReadsRaiseTheStreamErrorAndKeepThePicture)
{
    TBMPFields fields;
    fields.Width = 3;
    fields.Height = 2;
    fields.BitCount = 8;
    for (std::uint32_t i = 0; i < 256; ++i)
        fields.Colors.push_back(i);
    fields.Pixels.assign(8, 7);
    const std::vector<std::uint8_t> file = MakeBMP(fields);
    // Cut inside the info header, the colour table and the pixel rows.
    for (const std::size_t length : { std::size_t(20), std::size_t(53), std::size_t(60),
             std::size_t(14 + 40 + 1023), file.size() - 1 }) {
        SCOPED_TRACE(length);
        const std::vector<std::uint8_t> cut(file.begin(), file.begin() + length);
        ExpectRejected<EReadError>([&](TDIB& dib) { LoadBytes(dib, cut); }, "Stream read error");
    }
    // An RLE stream shorter than its biSizeImage.
    std::vector<std::uint8_t> rle = MakeRle8File();
    rle.resize(rle.size() - 4);
    ExpectRejected<EReadError>([&](TDIB& dib) { LoadBytes(dib, rle); }, "Stream read error");
}

TEST(TDIBBMP, HugeDimensionsAreRefusedBeforeAllocating)
{
    TBMPFields fields;
    fields.Width = 60000;
    fields.Height = 60000;
    fields.BitCount = 24;
    fields.Pixels.assign(64, 0);
    TDIB dib = MakeMarker();
    const auto file = MakeBMP(fields);
    EXPECT_THROW(LoadBytes(dib, file), EImageTooLarge);
    // Under the bound but far beyond the stream: refused by the stream's size.
    fields.Width = 40000;
    fields.Height = 4000;
    const auto big = MakeBMP(fields);
    ExpectRejected<EReadError>([&](TDIB& d) { LoadBytes(d, big); }, "Stream read error");
    // RowBytes alone beyond the bound, top-down with INT32_MIN rows.
    fields.Width = 0x7FFFFFFF;
    fields.Height = INT32_MIN;
    const auto extreme = MakeBMP(fields);
    EXPECT_THROW(LoadBytes(dib, extreme), EImageTooLarge);
}

TEST(TDIBBMP, TruncatedAndDamagedFilesNeverReadOrWriteOutOfBounds)
{
    // Every prefix and a sweep of single-byte damage over the headers of an
    // RLE file; decoding is forced with Pixel. Sanitizers watch the memory.
    const std::vector<std::uint8_t> file = ReadFileBytes(BMPDataDir() + "bmpsuite/g/pal4rle.bmp");
    auto exercise = [](const std::vector<std::uint8_t>& bytes) {
        TDIB dib = MakeMarker();
        const auto before = dib.Image();
        try {
            LoadBytes(dib, bytes);
        } catch (const std::runtime_error&) {
            EXPECT_EQ(dib.Image(), before);
            return;
        }
        if (dib.Empty())
            return;
        // Whatever the damage, a picture that loads has the layout of its shape
        // and holds palette indices of its depth once decoded.
        EXPECT_GT(dib.Width(), 0);
        EXPECT_EQ(std::int64_t(dib.Size()), std::int64_t(dib.RowBytes()) * dib.Height());
        for (int y = 0; y < dib.Height(); y += 7)
            for (int x = 0; x < dib.Width(); x += 3) {
                if (dib.BitCount() <= 8) {
                    EXPECT_LT(dib.Pixel(x, y), 1u << dib.BitCount());
                }
            }
        EXPECT_FALSE(dib.Compressed());
    };
    for (std::size_t length = 0; length < file.size(); length += 7)
        exercise(std::vector<std::uint8_t>(file.begin(), file.begin() + length));
    for (std::size_t at = 0; at < 120; ++at) {
        // The third bytes of width and height make valid pictures of hundreds
        // of megabytes, which only cost time.
        if (at == 20 || at == 24)
            continue;
        for (const std::uint8_t value : { 0x00, 0x01, 0x7F, 0xFF }) {
            std::vector<std::uint8_t> damaged = file;
            damaged[at] = value;
            exercise(damaged);
        }
    }
}

// ---------------------------------------------------------------------------
// The sample corpora

TEST(TDIBBMP, SampleFilesLoadOrAreRejectedAsListed)
{
    const std::vector<TManifestRow> rows = AllBMPSamples();
    ASSERT_EQ(rows.size(), 106u);
    int compared = 0;
    for (const TManifestRow& row : rows) {
        SCOPED_TRACE(row.Name());
        const std::vector<std::uint8_t> file = ReadFileBytes(row.Path());
        const std::string& expected = row["expected_tdib"];
        if (expected == "reject") {
            const TExpectedError error = ExpectedTDIBError(row);
            // The manifest gives the reader's verdict without the memory
            // bound; a file beyond it is refused before its data is read.
            const bool huge = row["width"] != "?"
                && (std::stoll(row["width"]) * std::stoll(row["bit_count"]) + 31) / 32 * 4
                        * std::llabs(std::stoll(row["height"]))
                    > static_cast<long long>(kMaxPixelBytes);
            if (huge) {
                TDIB dib = MakeMarker();
                EXPECT_THROW(LoadBytes(dib, file), EImageTooLarge);
            } else if (error.ReadError) {
                ExpectRejected<EReadError>(
                    [&](TDIB& dib) { LoadBytes(dib, file); }, "Stream read error");
            } else if (error.Text == "DIB 无效") {
                ExpectRejected<EInvalidGraphic>(
                    [&](TDIB& dib) { LoadBytes(dib, file); }, error.Text);
            } else {
                ExpectRejected<EInvalidGraphicOperation>(
                    [&](TDIB& dib) { LoadBytes(dib, file); }, error.Text);
            }
            continue;
        }

        TDIB dib = MakeMarker();
        ASSERT_NO_THROW(LoadBytes(dib, file));
        EXPECT_EQ(dib.Width(), std::stoi(row["width"]));
        EXPECT_EQ(dib.Height(), std::abs(std::stoi(row["height"])));
        const bool rle = row["compression"] == "BI_RLE8" || row["compression"] == "BI_RLE4";
        EXPECT_EQ(dib.Compressed(), rle);
        if (expected == "load-lazy") {
            // Malformed runs: decoding must clip, whatever it produces.
            for (int y = 0; y < dib.Height(); ++y)
                for (int x = 0; x < dib.Width(); ++x)
                    (void)dib.Pixel(x, y);
            EXPECT_FALSE(dib.Compressed());
            EXPECT_EQ(dib.Size(), dib.RowBytes() * dib.Height());
            continue;
        }
        ASSERT_EQ(expected, "load");
        // Where the loader's reference applies to this reader too, the colours
        // must be the ones the file shows.
        if (row["expected_loader"] != "load" || row["ref_rgba"] == "none"
            || row["notes"].find("colours differ") != std::string::npos)
            continue;
        const std::string mismatch
            = CompareWithReferences(ToRGB(dib), row, ReferenceTolerance(row));
        EXPECT_EQ(mismatch, "");
        ++compared;
    }
    EXPECT_GE(compared, 50);
}
