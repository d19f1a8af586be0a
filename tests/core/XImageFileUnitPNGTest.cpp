// The PNG road: PngSuite as its manifest says, alpha planes only where the
// file has transparency, damaged files refused, the memory bound.

#include "ManifestTestUtil.h"
#include "PictureTestUtil.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using namespace zx;
using namespace zx::picture_test;

namespace {

const std::string kPNGDir = std::string(ZX_TEST_DATA_DIR) + "/png/";

struct TSuiteRow {
    std::string File;
    std::string Expected;
    int Width = 0, Height = 0;
    std::string Reference;
    int Tolerance = 0;
    std::string Notes;
};

std::vector<TSuiteRow> ReadSuiteManifest()
{
    std::vector<TSuiteRow> rows;
    for (const auto& cells : zx::test::ReadManifestCells(kPNGDir + "MANIFEST.tsv")) {
        if (cells.size() < 7)
            continue;
        TSuiteRow row;
        row.File = cells[0];
        row.Expected = cells[1];
        if (row.Expected == "load") {
            row.Width = std::stoi(cells[2]);
            row.Height = std::stoi(cells[3]);
            row.Reference = cells[4];
            row.Tolerance = std::stoi(cells[5]);
        }
        row.Notes = cells[6];
        rows.push_back(row);
    }
    return rows;
}

// The bytes of chunk type in a PNG file: where its length field starts.
std::size_t ChunkOffset(const Bytes& png, const char* type)
{
    for (std::size_t at = 8; at + 8 <= png.size();) {
        const std::size_t length = std::size_t(png[at]) << 24 | std::size_t(png[at + 1]) << 16
            | std::size_t(png[at + 2]) << 8 | png[at + 3];
        if (std::equal(type, type + 4, png.begin() + std::ptrdiff_t(at + 4)))
            return at;
        at += 12 + length;
    }
    return 0;
}

Bytes Gradient(std::uint32_t w, std::uint32_t h, bool transparentLeft)
{
    Bytes rgba;
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            rgba.push_back(std::uint8_t(x * 7));
            rgba.push_back(std::uint8_t(y * 11));
            rgba.push_back(std::uint8_t(x + y));
            rgba.push_back(transparentLeft && x < w / 2 ? std::uint8_t(x * 3) : 255);
        }
    return rgba;
}

} // namespace

TEST(XImageFileUnitPNG, PngSuiteLoadsToItsReferencesOrIsRefused)
{
    const std::vector<TSuiteRow> rows = ReadSuiteManifest();
    ASSERT_EQ(rows.size(), 175u);
    int loaded = 0, refused = 0;
    for (const TSuiteRow& row : rows) {
        SCOPED_TRACE(row.File);
        const std::string path = kPNGDir + "pngsuite/" + row.File;
        if (row.Expected == "reject") {
            // Through the file loader: a damaged signature is no PNG at all
            // and ends in the extension's reader, the rest in libspng.
            ExpectLoadFails<EInvalidGraphic>(
                [&](TPicture& target) { LoadPictureFile(path, target); });
            ++refused;
            continue;
        }
        TPicture picture;
        ASSERT_NO_THROW(LoadPictureFile(path, picture));
        ASSERT_EQ(picture.Color.BitCount(), 24);
        ASSERT_EQ(picture.Color.Width(), row.Width);
        ASSERT_EQ(picture.Color.Height(), row.Height);
        const Bytes reference = ReadFileBytes(kPNGDir + row.Reference);
        const Bytes got = PictureRGBA(picture);
        ASSERT_EQ(got.size(), reference.size());
        int mismatches = 0;
        bool anyTransparent = false;
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (i % 4 == 3 && reference[i] != 255)
                anyTransparent = true;
            if (std::abs(int(got[i]) - int(reference[i])) > row.Tolerance && ++mismatches <= 3)
                ADD_FAILURE() << "pixel " << i / 4 << " channel " << i % 4 << ": " << int(got[i])
                              << " != " << int(reference[i]);
        }
        EXPECT_EQ(mismatches, 0);
        // An alpha plane exactly where some pixel is not opaque.
        EXPECT_EQ(picture.HasAlpha(), anyTransparent);
        if (picture.HasAlpha()) {
            EXPECT_EQ(picture.Alpha.BitCount(), 8);
            EXPECT_EQ(picture.Alpha.Width(), row.Width);
            EXPECT_EQ(picture.Alpha.Height(), row.Height);
        }
        ++loaded;
    }
    EXPECT_EQ(loaded, 161);
    EXPECT_EQ(refused, 14);
}

TEST(XImageFileUnitPNG, DamagedChunksAreRefusedWithTheReason)
{
    // The suite's IDAT and IHDR CRC errors, read by content.
    for (const std::string name : { "xcsn0g01.png", "xhdn0g08.png" }) {
        const Bytes png = ReadFileBytes(kPNGDir + "pngsuite/" + name);
        ASSERT_EQ(DetectPictureFormat(png), TPictureFormat::PNG) << name;
        const std::string message = ExpectLoadFails<EInvalidGraphic>(
            [&](TPicture& target) { LoadPNGPicture(png, target); });
        EXPECT_EQ(message.rfind("PNG 文件无效: ", 0), 0u) << message;
    }
    // A damaged ancillary chunk (tRNS) fails too, rather than lose the
    // transparency it carries.
    Bytes png = EncodePNG(Gradient(8, 4, true), 8, 4, true);
    TPicture good;
    ASSERT_NO_THROW(LoadPNGPicture(png, good));
    ASSERT_TRUE(good.HasAlpha());
    Bytes palette = ReadFileBytes(kPNGDir + "pngsuite/tbbn3p08.png");
    const std::size_t trns = ChunkOffset(palette, "tRNS");
    ASSERT_GT(trns, 0u);
    palette[trns + 8] ^= 0x01; // first byte of the chunk's data
    ExpectLoadFails<EInvalidGraphic>([&](TPicture& target) { LoadPNGPicture(palette, target); });
}

TEST(XImageFileUnitPNG, TruncatedFilesAreRefusedAtEveryCut)
{
    const Bytes whole = EncodePNG(Gradient(40, 30, true), 40, 30, true);
    const std::size_t idat = ChunkOffset(whole, "IDAT");
    ASSERT_GT(idat, 0u);
    // Every cut before the end of the image data fails, none crashes.
    const std::size_t iend = ChunkOffset(whole, "IEND");
    for (std::size_t cut = 0; cut < iend; cut += (cut < idat + 16 ? 1 : 7)) {
        const Bytes part(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        ExpectLoadFails<EInvalidGraphic>([&](TPicture& target) { LoadPNGPicture(part, target); });
    }
}

TEST(XImageFileUnitPNG, AlphaPlaneOnlyWhenSomePixelIsNotOpaque)
{
    // RGBA with every alpha 255: no plane, the same colours as the RGB file.
    const Bytes opaque = Gradient(9, 5, false);
    TPicture fromRGBA, fromRGB;
    LoadPNGPicture(EncodePNG(opaque, 9, 5, true), fromRGBA);
    LoadPNGPicture(EncodePNG(opaque, 9, 5, false), fromRGB);
    EXPECT_FALSE(fromRGBA.HasAlpha());
    EXPECT_FALSE(fromRGB.HasAlpha());
    EXPECT_EQ(PictureRGBA(fromRGBA), opaque);
    EXPECT_EQ(PictureRGBA(fromRGB), opaque);

    // Some transparency: the plane holds it, the colours stay as stored
    // (not multiplied by alpha), also through Adam7.
    const Bytes half = Gradient(9, 5, true);
    for (const bool interlaced : { false, true }) {
        TPicture picture;
        LoadPNGPicture(EncodePNG(half, 9, 5, true, interlaced), picture);
        ASSERT_TRUE(picture.HasAlpha());
        EXPECT_EQ(PictureRGBA(picture), half) << interlaced;
    }
}

TEST(XImageFileUnitPNG, PictureBeyondTheMemoryBoundIsRefusedBeforeDecoding)
{
    // A tiny file claiming 30000 x 30000 pixels (2.5 GiB at 3 bytes), and one
    // just over the bound with alpha: the IHDR is rewritten and its CRC fixed.
    Bytes png = EncodePNG(Gradient(4, 4, true), 4, 4, true);
    const auto withSize = [&](std::uint32_t w, std::uint32_t h) {
        Bytes out = png;
        for (int i = 0; i < 4; ++i) {
            out[16 + i] = std::uint8_t(w >> (24 - 8 * i));
            out[20 + i] = std::uint8_t(h >> (24 - 8 * i));
        }
        // CRC-32 of the chunk type and data (PNG 5.5), bit by bit.
        std::uint32_t crc = 0xFFFFFFFFu;
        for (std::size_t i = 12; i < 12 + 4 + 13; ++i) {
            crc ^= out[i];
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        crc ^= 0xFFFFFFFFu;
        for (int i = 0; i < 4; ++i)
            out[29 + i] = std::uint8_t(crc >> (24 - 8 * i));
        return out;
    };
    // The rewrite itself is sound: at the same size the file still loads.
    TPicture same;
    ASSERT_NO_THROW(LoadPNGPicture(withSize(4, 4), same));
    for (const auto& [w, h] : { std::pair { 30000u, 30000u }, std::pair { 12000u, 11200u } }) {
        const Bytes huge = withSize(w, h);
        ExpectLoadFails<EImageTooLarge>([&](TPicture& target) { LoadPNGPicture(huge, target); });
    }
}
