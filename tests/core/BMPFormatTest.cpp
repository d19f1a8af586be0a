// The picture loader's BMP road: LoadBMPPicture, the parser's lenient mode.

#include "core/imaging/BMPFormat.h"

#include "BMPTestData.h"
#include "LoadFailureTestUtil.h"
#include "core/Errors.h"
#include "core/imaging/XDIBUnit.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace zx;
using namespace zx::test;

namespace {

TRGBPicture ToRGB(const TDIB& dib)
{
    TRGBPicture picture;
    picture.Width = dib.Width();
    picture.Height = dib.Height();
    for (int y = 0; y < dib.Height(); ++y) {
        const std::uint8_t* row = dib.ConstScanLine(y);
        for (int x = 0; x < dib.Width(); ++x)
            picture.Rgb.insert(picture.Rgb.end(), { row[3 * x + 2], row[3 * x + 1], row[3 * x] });
    }
    return picture;
}

// The red, green, blue of pixel (x, y) from the top.
std::vector<int> RGBAt(const TDIB& dib, int x, int y)
{
    const std::uint8_t* p = dib.ConstScanLine(y) + 3 * x;
    return { p[2], p[1], p[0] };
}

// The picture a failed load must leave alone: 2 x 2 at 8 bits.
TDIB MakeMarker()
{
    TDIB dib;
    dib.SetSize(2, 2, 8);
    dib.ScanLine(0)[0] = 9;
    dib.ScanLine(1)[1] = 4;
    return dib;
}

// Loads file into a marked picture and expects the loader's refusal, with the
// picture untouched.
void ExpectRefused(const std::vector<std::uint8_t>& file, const std::string& what)
{
    SCOPED_TRACE(what);
    load_test::ExpectLoadFails<EInvalidGraphic>([&](TDIB& dib) { LoadBMPPicture(file, dib); });
}

TDIB Load(const std::vector<std::uint8_t>& file)
{
    TDIB dib;
    LoadBMPPicture(file, dib);
    return dib;
}

// A 16-bit bit-field file of one row holding the given pixel values.
std::vector<std::uint8_t> Make16(const std::vector<std::uint32_t>& masks,
    const std::vector<std::uint16_t>& pixels, std::uint32_t headerSize = 40)
{
    TBMPFields fields;
    fields.HeaderSize = headerSize;
    fields.Width = static_cast<std::int32_t>(pixels.size());
    fields.BitCount = 16;
    fields.Compression = 3;
    fields.Masks = masks;
    for (const std::uint16_t pixel : pixels)
        AppendU16(fields.Pixels, pixel);
    fields.Pixels.resize((fields.Pixels.size() + 3) / 4 * 4, 0);
    return MakeBMP(fields);
}

} // namespace

// ---------------------------------------------------------------------------
// The sample corpora

TEST(BMPFormat, SampleFilesLoadWithTheirReferenceColoursOrAreRefused)
{
    const std::vector<TManifestRow> rows = AllBMPSamples();
    ASSERT_EQ(rows.size(), 106u);
    int loaded = 0;
    for (const TManifestRow& row : rows) {
        SCOPED_TRACE(row.Name());
        const std::vector<std::uint8_t> file = ReadFileBytes(row.Path());
        const std::string& expected = row["expected_loader"];
        if (expected == "reject") {
            ExpectRefused(file, row.Name());
            continue;
        }
        TDIB dib = MakeMarker();
        if (expected == "either") {
            // Malformed RLE: refusing is fine, and so is a clipped picture.
            try {
                LoadBMPPicture(file, dib);
            } catch (const EInvalidGraphic&) {
                EXPECT_EQ(dib.BitCount(), 8);
                continue;
            }
            EXPECT_EQ(dib.BitCount(), 24);
            EXPECT_EQ(dib.Width(), std::stoi(row["width"]));
            continue;
        }
        ASSERT_EQ(expected, "load");
        ASSERT_NO_THROW(LoadBMPPicture(file, dib));
        EXPECT_EQ(dib.BitCount(), 24);
        EXPECT_EQ(dib.Width(), std::stoi(row["width"]));
        EXPECT_EQ(dib.Height(), std::abs(std::stoi(row["height"])));
        EXPECT_EQ(CompareWithReferences(ToRGB(dib), row, ReferenceTolerance(row)), "");
        ++loaded;
    }
    EXPECT_EQ(loaded, 83);
}

// ---------------------------------------------------------------------------
// Hand-made files

TEST(BMPFormat, ChannelsWidenToEightBitsByRounding)
{
    // 4-4-4 in a V5 header: v * 255 / 15 is exactly v * 17.
    const TDIB dib444
        = Load(Make16({ 0x0F00, 0x00F0, 0x000F, 0xF000 }, { 0x0000, 0xF123, 0x0FFF, 0x0A50 }, 124));
    EXPECT_EQ(RGBAt(dib444, 0, 0), (std::vector<int> { 0, 0, 0 }));
    EXPECT_EQ(RGBAt(dib444, 1, 0), (std::vector<int> { 17, 34, 51 })); // alpha ignored
    EXPECT_EQ(RGBAt(dib444, 2, 0), (std::vector<int> { 255, 255, 255 }));
    EXPECT_EQ(RGBAt(dib444, 3, 0), (std::vector<int> { 170, 85, 0 }));

    // 1-bit red, 10-bit green, 5-bit blue: round(v * 255 / max) for every v.
    std::vector<std::uint16_t> pixels;
    for (std::uint16_t v = 0; v < 1024; v += 31)
        pixels.push_back(static_cast<std::uint16_t>((v & 1) << 15 | v << 5 | (v & 31)));
    const TDIB odd = Load(Make16({ 0x8000, 0x7FE0, 0x001F }, pixels));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int v = static_cast<int>(i) * 31;
        const auto widen
            = [](int value, int max) { return static_cast<int>(std::lround(value * 255.0 / max)); };
        EXPECT_EQ(RGBAt(odd, static_cast<int>(i), 0),
            (std::vector<int> { widen(v & 1, 1), widen(v, 1023), widen(v & 31, 31) }))
            << "v " << v;
    }

    // 16 bits without masks are 5-5-5; the top bit is not alpha.
    TBMPFields plain;
    plain.Width = 1;
    plain.BitCount = 16;
    plain.Pixels = { 0xFF, 0xFF, 0, 0 };
    EXPECT_EQ(RGBAt(Load(MakeBMP(plain)), 0, 0), (std::vector<int> { 255, 255, 255 }));
}

TEST(BMPFormat, MasksMustBeContiguousNonEmptyAndAtMostSixteenBits)
{
    ExpectRefused(Make16({ 0x7C00, 0x03E0, 0 }, { 1 }), "zero mask");
    ExpectRefused(Make16({ 0x7C00, 0x03A0, 0x001F }, { 1 }), "hole in a mask");
    ExpectRefused(Make16({ 0x1F0000, 0x03E0, 0x001F }, { 1 }), "mask outside 16 bits");
    TBMPFields wide;
    wide.Width = 1;
    wide.BitCount = 32;
    wide.Compression = 3;
    wide.Masks = { 0xFFFF8000, 0x7F00, 0xFF };
    wide.Pixels.assign(4, 0);
    ExpectRefused(MakeBMP(wide), "17-bit mask");
    wide.Masks = { 0xFFFF0000, 0xFF00, 0xFF };
    EXPECT_NO_THROW(Load(MakeBMP(wide)));
    // Bit fields only describe 16- and 32-bit pixels.
    wide.BitCount = 24;
    ExpectRefused(MakeBMP(wide), "bit fields at 24 bits");
}

TEST(BMPFormat, IndexedPixelsOfEveryDepthUseThePalette)
{
    // 1, 2, 4 and 8 bits, one row of 5 pixels with indices 0 1 2 3 0 (masked
    // to the depth), a palette of 3 entries: index 3 lies beyond it.
    for (const std::uint16_t bits : { 1, 2, 4, 8 }) {
        SCOPED_TRACE(bits);
        TBMPFields fields;
        fields.Width = 5;
        fields.BitCount = bits;
        fields.ColorsUsed = 3;
        fields.Colors = { 0x112233, 0x445566, 0x778899 };
        const int indices[5] = { 0, 1, 2, 3, 0 };
        std::uint32_t packed = 0;
        int used = 0;
        std::vector<std::uint8_t> row;
        for (const int index : indices) {
            packed = packed << bits | (index & ((1 << bits) - 1));
            used += bits;
            if (used % 8 == 0) {
                row.push_back(static_cast<std::uint8_t>(packed));
                packed = 0;
            }
        }
        if (used % 8 != 0)
            row.push_back(static_cast<std::uint8_t>(packed << (8 - used % 8)));
        row.resize(4 * ((row.size() + 3) / 4), 0);
        fields.Pixels = row;
        const TDIB dib = Load(MakeBMP(fields));
        ASSERT_EQ(dib.Width(), 5);
        const std::vector<int> colours[4]
            = { { 0x11, 0x22, 0x33 }, { 0x44, 0x55, 0x66 }, { 0x77, 0x88, 0x99 }, { 0, 0, 0 } };
        for (int x = 0; x < 5; ++x) {
            const int index = indices[x] & ((1 << bits) - 1);
            EXPECT_EQ(RGBAt(dib, x, 0), colours[index]) << "x " << x;
        }
    }
}

TEST(BMPFormat, RleRunsIntoTheRowPaddingAreDropped)
{
    // Width 3: each row's run covers four pixels, as some writers pad.
    TBMPFields fields;
    fields.Width = 3;
    fields.Height = 2;
    fields.BitCount = 8;
    fields.Compression = 1;
    fields.ColorsUsed = 3;
    fields.Colors = { 0x000000, 0xFF0000, 0x0000FF };
    fields.Pixels = { 4, 1, 0, 0, 4, 2, 0, 0, 0, 1 };
    const TDIB dib = Load(MakeBMP(fields));
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(RGBAt(dib, x, 0), (std::vector<int> { 0, 0, 255 }));
        EXPECT_EQ(RGBAt(dib, x, 1), (std::vector<int> { 255, 0, 0 }));
    }
}

TEST(BMPFormat, RefusesWhatNoBitmapReaderReads)
{
    TBMPFields base;
    base.Width = 2;
    base.Height = 2;
    base.BitCount = 24;
    base.Pixels.assign(16, 0x40);
    EXPECT_NO_THROW(Load(MakeBMP(base)));

    auto refuse = [&](auto change, const char* what) {
        TBMPFields fields = base;
        change(fields);
        ExpectRefused(MakeBMP(fields), what);
    };
    refuse([](TBMPFields& s) { s.Planes = 2; }, "two planes");
    refuse([](TBMPFields& s) { s.Height = 0; }, "no rows");
    refuse([](TBMPFields& s) { s.Width = 0; }, "no columns");
    refuse([](TBMPFields& s) { s.Width = -2; }, "negative width");
    refuse([](TBMPFields& s) { s.BitCount = 64; }, "64 bits");
    refuse([](TBMPFields& s) { s.Compression = 4; }, "BI_JPEG");
    refuse([](TBMPFields& s) { s.Compression = 5; }, "BI_PNG");
    refuse([](TBMPFields& s) { s.HeaderSize = 20; }, "unknown header size");
    refuse([](TBMPFields& s) { s.Pixels.resize(15); }, "truncated rows");
    refuse(
        [](TBMPFields& s) {
            s.BitCount = 8;
            s.Compression = 1;
            s.Height = -2;
            s.ColorsUsed = 1;
            s.Colors = { 0 };
            s.Pixels = { 2, 0, 0, 0, 2, 0, 0, 1 };
        },
        "top-down RLE");
    refuse(
        [](TBMPFields& s) {
            s.BitCount = 8;
            s.Compression = 1;
            s.ColorsUsed = 1;
            s.Colors = { 0 };
            s.Pixels = { 2, 0, 0, 1 };
            s.ImageSize = 40;
        },
        "RLE shorter than its image size");
    ExpectRefused({}, "empty file");
    ExpectRefused({ 'B', 'M', 1 }, "short file header");
}

TEST(BMPFormat, HugeDimensionsAreRefusedBeforeAllocating)
{
    TBMPFields fields;
    fields.Width = 60000;
    fields.Height = 60000;
    fields.BitCount = 24;
    fields.Pixels.assign(64, 0);
    TDIB dib = MakeMarker();
    EXPECT_THROW(LoadBMPPicture(MakeBMP(fields), dib), EImageTooLarge);
    // RLE costs nothing in the file for any size, so the bound is all there is.
    fields.BitCount = 8;
    fields.Compression = 1;
    fields.ColorsUsed = 1;
    fields.Colors = { 0 };
    fields.Pixels = { 0, 1 };
    EXPECT_THROW(LoadBMPPicture(MakeBMP(fields), dib), EImageTooLarge);
    EXPECT_EQ(dib.BitCount(), 8);
}

TEST(BMPFormat, TruncatedAndDamagedFilesFailCleanlyOrLoadWhole)
{
    // Every prefix and single-byte damage over the headers of an RLE4 and a
    // bit-field file; a picture that loads is 24 bits of its header's size.
    for (const char* name : { "bmpsuite/g/pal4rle.bmp", "bmpsuite/q/rgba16-1924.bmp" }) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> file = ReadFileBytes(BMPDataDir() + name);
        auto exercise = [](const std::vector<std::uint8_t>& bytes) {
            TDIB dib;
            try {
                LoadBMPPicture(bytes, dib);
            } catch (const EInvalidGraphic&) {
                EXPECT_TRUE(dib.Empty());
                return;
            }
            EXPECT_EQ(dib.BitCount(), 24);
        };
        for (std::size_t length = 0; length < file.size(); length += 5)
            exercise(std::vector<std::uint8_t>(file.begin(), file.begin() + length));
        for (std::size_t at = 0; at < 160 && at < file.size(); ++at) {
            // The third bytes of width and height only make large valid pictures.
            if (at == 20 || at == 24)
                continue;
            for (const std::uint8_t value : { 0x00, 0x01, 0x7F, 0xFF }) {
                std::vector<std::uint8_t> damaged = file;
                damaged[at] = value;
                exercise(damaged);
            }
        }
    }
}
