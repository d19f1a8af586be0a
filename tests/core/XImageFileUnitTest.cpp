#include "core/imaging/XImageFileUnit.h"

#include "LoadFailureTestUtil.h"
#include "ManifestTestUtil.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <jerror.h>
#include <jpeglib.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zx;
namespace fs = std::filesystem;

namespace {

const std::string kJPEGDir = std::string(ZX_TEST_DATA_DIR) + "/jpeg/";

std::vector<std::uint8_t> Bytes(const std::string& path)
{
    return ReadFileBytes(path);
}

// A folder of its own for files a test writes, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = fs::temp_directory_path()
            / ("zx-picture-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempFolder() { fs::remove_all(m_path); }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        const fs::path path = m_path / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }
    std::string Path(const std::string& name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

// A picture with storage of its own and known pixels, as the target of a load.
TDIB MarkerPicture()
{
    return load_test::TMarkedTarget<TDIB>().Target;
}

using load_test::AllRows;

bool IsJPEGError(const std::string& message)
{
    return message.rfind("JPEG-Fehler #", 0) == 0;
}

std::string JPEGError(int code)
{
    return "JPEG-Fehler #" + std::to_string(code);
}

// Pixels decoded by the libjpeg-turbo that made the references match them
// exactly; other builds may round differently by a few steps.
int ReferenceTolerance()
{
#if defined(LIBJPEG_TURBO_VERSION_NUMBER) && LIBJPEG_TURBO_VERSION_NUMBER == 2001005
    return 0;
#else
    return 3;
#endif
}

// Compares a 24-bit picture with a raw RGBA reference (top row first).
void ExpectPixels(const TDIB& dib, const std::vector<std::uint8_t>& rgba, const std::string& what)
{
    ASSERT_EQ(rgba.size(), std::size_t(dib.Width()) * std::size_t(dib.Height()) * 4) << what;
    const int tolerance = ReferenceTolerance();
    int mismatches = 0;
    for (int y = 0; y < dib.Height(); ++y) {
        const std::uint8_t* row = dib.ConstScanLine(y);
        for (int x = 0; x < dib.Width(); ++x) {
            const std::uint8_t* ref
                = &rgba[(std::size_t(y) * std::size_t(dib.Width()) + std::size_t(x)) * 4];
            const int got[3] = { row[3 * x + 2], row[3 * x + 1], row[3 * x] };
            for (int c = 0; c < 3; ++c)
                if (std::abs(got[c] - ref[c]) > tolerance && ++mismatches <= 5)
                    ADD_FAILURE() << what << " pixel " << x << "," << y << " channel " << c << ": "
                                  << got[c] << " != " << int(ref[c]);
        }
    }
    EXPECT_EQ(mismatches, 0) << what;
}

struct ManifestRow {
    std::string File;
    int Width = 0, Height = 0;
    std::string Expected;
    std::string Reference;
};

std::vector<ManifestRow> ReadManifest()
{
    std::vector<ManifestRow> rows;
    for (const auto& cells : zx::test::ReadManifestCells(kJPEGDir + "MANIFEST.tsv")) {
        if (cells.size() < 11)
            continue;
        ManifestRow row;
        row.File = cells[0];
        row.Width = cells[2] == "-" ? 0 : std::stoi(cells[2]);
        row.Height = cells[3] == "-" ? 0 : std::stoi(cells[3]);
        row.Expected = cells[8];
        row.Reference = cells[10];
        rows.push_back(row);
    }
    return rows;
}

// The offset just past the SOS segment's header: where the entropy-coded
// data of the first scan begins.
std::size_t ScanDataStart(const std::vector<std::uint8_t>& jpeg)
{
    for (std::size_t i = 2; i + 3 < jpeg.size();) {
        if (jpeg[i] != 0xFF)
            return 0;
        const std::uint8_t marker = jpeg[i + 1];
        const std::size_t length = std::size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (marker == 0xDA)
            return i + 2 + length;
        i += 2 + length;
    }
    return 0;
}

// Rewrites the frame header's (SOF0..SOF2) height and width.
std::vector<std::uint8_t> WithFrameSize(std::vector<std::uint8_t> jpeg, int width, int height)
{
    for (std::size_t i = 2; i + 8 < jpeg.size();) {
        const std::uint8_t marker = jpeg[i + 1];
        const std::size_t length = std::size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (marker >= 0xC0 && marker <= 0xC2) {
            jpeg[i + 5] = std::uint8_t(height >> 8);
            jpeg[i + 6] = std::uint8_t(height);
            jpeg[i + 7] = std::uint8_t(width >> 8);
            jpeg[i + 8] = std::uint8_t(width);
            return jpeg;
        }
        i += 2 + length;
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

// A 2 x 2, 24-bit BMP file: top row red, white; bottom row blue, green.
std::vector<std::uint8_t> TinyBMP()
{
    return {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, // file header: size 70, pixels at 54
        40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, // info header: 40 bytes, 2 x 2 (bottom-up)
        1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, // 1 plane, 24 bits, BI_RGB, 16 bytes of pixels
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // resolution, colours
        255, 0, 0, 0, 255, 0, 0, 0, // bottom row: blue, green, padding
        0, 0, 255, 255, 255, 255, 0, 0, // top row: red, white, padding
    };
}

} // namespace

// ---------------------------------------------------------------------------
// The JPEG road against the reference corpus

TEST(XImageFileUnit, EveryCorpusJPEGLoadsOrFailsAsListed)
{
    const std::vector<ManifestRow> rows = ReadManifest();
    ASSERT_EQ(rows.size(), 23u);
    for (const ManifestRow& row : rows) {
        SCOPED_TRACE(row.File);
        const std::string path = kJPEGDir + row.File;
        if (row.Expected == "load") {
            TDIB target = MarkerPicture();
            EXPECT_NO_THROW(LoadPictureFile(path, target));
            ASSERT_EQ(target.BitCount(), 24);
            if (ReadExifOrientation(Bytes(path)) != 1) {
                // Shown upright, not as stored: XImageFileUnitExifTest checks it.
                EXPECT_EQ(target.Width(), row.Height);
                EXPECT_EQ(target.Height(), row.Width);
                continue;
            }
            ASSERT_EQ(target.Width(), row.Width);
            ASSERT_EQ(target.Height(), row.Height);
            ExpectPixels(target, Bytes(kJPEGDir + row.Reference), row.File);
        } else {
            ASSERT_EQ(row.Expected, "error");
            const std::string message = load_test::ExpectLoadFails<EInvalidGraphic>(
                [&](TDIB& target) { LoadPictureFile(path, target); });
            EXPECT_TRUE(IsJPEGError(message)) << message;
        }
    }
}

TEST(XImageFileUnit, CorruptScanDataFailsWithTheWarningsCode)
{
    // libjpeg only warns about damaged entropy-coded data; the first such
    // warning is the error. A missing EOI alone is no error (corpus above).
    EXPECT_EQ(load_test::ExpectLoadFails<EInvalidGraphic>([](TDIB& target) {
        LoadPictureFile(kJPEGDir + "corrupt-scan-data-333x77.jpg", target);
    }),
        JPEGError(JWRN_HUFF_BAD_CODE));
    EXPECT_EQ(load_test::ExpectLoadFails<EInvalidGraphic>([](TDIB& target) {
        LoadPictureFile(kJPEGDir + "truncated-half-333x77.jpg", target);
    }),
        JPEGError(JWRN_HIT_MARKER));
    EXPECT_EQ(load_test::ExpectLoadFails<EInvalidGraphic>(
                  [](TDIB& target) { LoadPictureFile(kJPEGDir + "empty.jpg", target); }),
        JPEGError(JERR_INPUT_EMPTY));
}

TEST(XImageFileUnit, CorruptProgressiveDataFailsToo)
{
    // A progressive file is decoded scan by scan before the first scanline
    // comes out, so its warnings arrive while decompression starts. The noise
    // has no 0xFF byte: no false marker, only bad Huffman codes, which libjpeg
    // merely warns about.
    std::vector<std::uint8_t> jpeg = Bytes(kJPEGDir + "odd-333x77-444-progressive.jpg");
    const std::size_t scan = ScanDataStart(jpeg);
    ASSERT_GT(scan, 0u);
    std::uint32_t noise = 7;
    for (std::size_t i = scan + 40; i < scan + 104; ++i) {
        noise = noise * 1664525u + 1013904223u;
        jpeg[i] = std::uint8_t(noise >> 24 & 0x7F);
    }
    EXPECT_EQ(load_test::ExpectLoadFails<EInvalidGraphic>(
                  [&](TDIB& target) { LoadJPEGPicture(jpeg, target); }),
        JPEGError(JWRN_HUFF_BAD_CODE));
}

TEST(XImageFileUnit, JPEGWhoseDataBreaksOffFails)
{
    const std::vector<std::uint8_t> whole = Bytes(kJPEGDir + "odd-333x77-420.jpg");
    const std::size_t scan = ScanDataStart(whole);
    ASSERT_GT(scan, 100u);
    // Cut right after the headers, and at many places inside the scan: every
    // cut fails, none crashes or reads past the data (ASan).
    for (std::size_t cut = scan; cut < whole.size() - 2; cut += (cut == scan ? 1 : 211)) {
        const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        const std::string message = load_test::ExpectLoadFails<EInvalidGraphic>(
            [&](TDIB& target) { LoadJPEGPicture(part, target); });
        EXPECT_TRUE(IsJPEGError(message)) << "cut at " << cut << ": " << message;
    }
    // Cuts inside the headers fail as well.
    for (std::size_t cut = 0; cut < scan; cut += 37) {
        const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        const std::string message = load_test::ExpectLoadFails<EInvalidGraphic>(
            [&](TDIB& target) { LoadJPEGPicture(part, target); });
        EXPECT_TRUE(IsJPEGError(message)) << "cut at " << cut << ": " << message;
    }
}

TEST(XImageFileUnit, JPEGAbovePixelMemoryBoundIsRefusedBeforeDecoding)
{
    const std::vector<std::uint8_t> small = Bytes(kJPEGDir + "baseline-444-64x48.jpg");
    // 30000 x 30000 at 3 bytes is 2.5 GiB; 65500 x 2733 is just above 512 MiB
    // (rows of 196500 bytes).
    for (const auto& [w, h] : { std::pair { 30000, 30000 }, std::pair { 65500, 2733 } }) {
        const std::vector<std::uint8_t> huge = WithFrameSize(small, w, h);
        load_test::ExpectLoadFails<EImageTooLarge>(
            [&](TDIB& target) { LoadJPEGPicture(huge, target); });
    }
    // A size just within the bound is decoded (and fails only on the data,
    // which is far too short for it).
    const std::vector<std::uint8_t> wide = WithFrameSize(small, 4000, 3000);
    const std::string message = load_test::ExpectLoadFails<EInvalidGraphic>(
        [&](TDIB& target) { LoadJPEGPicture(wide, target); });
    EXPECT_TRUE(IsJPEGError(message)) << message;
}

// ---------------------------------------------------------------------------
// Choosing the road

TEST(XImageFileUnit, ExtensionIsTheUpperCasedPartAfterTheLastDotOfTheName)
{
    EXPECT_EQ(PictureFileExtension("a.JpG"), ".JPG");
    EXPECT_EQ(PictureFileExtension("photo.jpeg"), ".JPEG");
    EXPECT_EQ(PictureFileExtension("archive.tar.gif"), ".GIF");
    EXPECT_EQ(PictureFileExtension("no-extension"), "");
    EXPECT_EQ(PictureFileExtension("dir.jpg/picture"), "");
    EXPECT_EQ(PictureFileExtension("C:\\pics.gif\\flag"), "");
    EXPECT_EQ(PictureFileExtension("C:flag.bmp"), ".BMP");
    EXPECT_EQ(PictureFileExtension("dir/.jpg"), ".JPG");
    EXPECT_EQ(PictureFileExtension("trailing."), ".");
    // Only ASCII letters change.
    EXPECT_EQ(PictureFileExtension("bild.jpgä"), ".JPGä");
}

TEST(XImageFileUnit, ContentChoosesTheReaderBeforeTheExtension)
{
    TempFolder folder;
    const std::vector<std::uint8_t> jpeg = Bytes(kJPEGDir + "baseline-420-64x48.jpg");

    // A JPEG loads as JPEG whatever its name says, also below a folder
    // named .gif.
    for (const std::string name :
        { "a.JpG", "b.jpg", "x.gif/C.JPG", "photo.jpeg", "PHOTO.JPE", "a", "a.bmp", "a.png" }) {
        TDIB target = MarkerPicture();
        EXPECT_NO_THROW(LoadPictureFile(folder.Write(name, jpeg), target)) << name;
        EXPECT_EQ(target.Width(), 64) << name;
        EXPECT_EQ(target.Height(), 48) << name;
        EXPECT_EQ(target.BitCount(), 24) << name;
    }
    // A BMP file named .jpg is read as the BMP it is.
    TDIB bmp = MarkerPicture();
    ASSERT_NO_THROW(LoadPictureFile(folder.Write("tiny.jpg", TinyBMP()), bmp));
    EXPECT_EQ(bmp.Pixel(0, 0), 0x0000FFu);
}

TEST(XImageFileUnit, UnrecognisedContentFallsBackToTheExtensionWithItsMessages)
{
    TempFolder folder;
    std::vector<std::uint8_t> garbage(300);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = std::uint8_t(i * 7 + 3);
    // ".jpg" still goes to libjpeg, ".gif" to the GIF reader, anything else
    // (".jpeg" and ".png" included) to the BMP reader.
    EXPECT_TRUE(IsJPEGError(load_test::ExpectLoadFails<EInvalidGraphic>(
        [&](TDIB& target) { LoadPictureFile(folder.Write("a.JPG", garbage), target); })));
    EXPECT_EQ(load_test::ExpectLoadFails<GIFException>(
                  [&](TDIB& target) { LoadPictureFile(folder.Write("a.gif", garbage), target); }),
        "无效的 GIF 标识信号");
    for (const std::string name : { "a.bmp", "a.jpeg", "a.jpe", "a.png", "a.webp", "a.svg", "a" })
        EXPECT_EQ(load_test::ExpectLoadFails<EInvalidGraphic>(
                      [&](TDIB& target) { LoadPictureFile(folder.Write(name, garbage), target); }),
            "DIB 无效")
            << name;
    // Content that only starts like a format is not that format.
    EXPECT_EQ(
        DetectPictureFormat(std::vector<std::uint8_t> { 0xFF, 0xD8 }), TPictureFormat::Unknown);
    EXPECT_EQ(DetectPictureFormat(std::vector<std::uint8_t>(garbage.begin(), garbage.begin() + 1)),
        TPictureFormat::Unknown);
    const std::string gif87 = "GIF87b";
    const std::vector<std::uint8_t> riff
        = { 'R', 'I', 'F', 'F', 0x10, 0, 0, 0, 'W', 'A', 'V', 'E' };
    EXPECT_EQ(DetectPictureFormat(std::vector<std::uint8_t>(gif87.begin(), gif87.end())),
        TPictureFormat::Unknown);
    EXPECT_EQ(DetectPictureFormat(riff), TPictureFormat::Unknown);
    EXPECT_EQ(PictureFormatFor("x.gif", garbage), TPictureFormat::GIF);
    EXPECT_EQ(PictureFormatFor("x.gif", TinyBMP()), TPictureFormat::BMP);
}

TEST(XImageFileUnit, BMPRoadLoadsOtherExtensionsAsTwentyFourBitPictures)
{
    TempFolder folder;
    for (const std::string name : { "tiny.bmp", "tiny", "tiny.BMP", "tiny.png" }) {
        TDIB target = MarkerPicture();
        ASSERT_NO_THROW(LoadPictureFile(folder.Write(name, TinyBMP()), target)) << name;
        ASSERT_EQ(target.BitCount(), 24) << name;
        ASSERT_EQ(target.Width(), 2);
        ASSERT_EQ(target.Height(), 2);
        // Pixel() gives red in the low byte.
        EXPECT_EQ(target.Pixel(0, 0), 0x0000FFu) << name;
        EXPECT_EQ(target.Pixel(1, 0), 0xFFFFFFu) << name;
        EXPECT_EQ(target.Pixel(0, 1), 0xFF0000u) << name;
        EXPECT_EQ(target.Pixel(1, 1), 0x00FF00u) << name;
    }
}

TEST(XImageFileUnit, GIFRoadGivesTheLogicalScreenWithTheFirstFrame)
{
    TempFolder folder;
    const std::string gifDir = std::string(ZX_TEST_DATA_DIR) + "/gif/crafted/";
    const std::vector<std::uint8_t> gif = Bytes(gifDir + "valid-4x3.gif");
    const std::vector<std::uint8_t> reference = Bytes(gifDir + "valid-4x3.rgba");
    for (const std::string name : { "a.gif", "b.GiF" }) {
        TDIB target = MarkerPicture();
        ASSERT_NO_THROW(LoadPictureFile(folder.Write(name, gif), target)) << name;
        ASSERT_EQ(target.BitCount(), 24);
        ASSERT_EQ(target.Width(), 4);
        ASSERT_EQ(target.Height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const std::uint8_t* ref = &reference[std::size_t(4 * (4 * y + x))];
                EXPECT_EQ(target.Pixel(x, y), std::uint32_t(ref[0] | ref[1] << 8 | ref[2] << 16))
                    << name << " " << x << "," << y;
            }
    }
    // The content decides: a GIF named .bmp is read as GIF.
    TDIB gifAsBmp = MarkerPicture();
    ASSERT_NO_THROW(LoadPictureFile(folder.Write("gif.bmp", gif), gifAsBmp));
    EXPECT_EQ(gifAsBmp.Width(), 4);
}

TEST(XImageFileUnit, FailedLoadOfEveryRoadLeavesTheTargetAlone)
{
    TempFolder folder;
    std::vector<std::uint8_t> garbage(300);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = std::uint8_t(i * 7 + 3);
    for (const std::string name : { "bad.jpg", "bad.gif", "bad.bmp", "bad" }) {
        const std::string path = folder.Write(name, garbage);
        load_test::ExpectLoadFails<std::exception>(
            [&](TDIB& target) { LoadPictureFile(path, target); });
    }
    // A missing file is the file-open error.
    load_test::ExpectLoadFails<EFOpenError>(
        [&](TDIB& target) { LoadPictureFile(folder.Path("missing.jpg"), target); });
    load_test::ExpectLoadFails<EFOpenError>(
        [&](TDIB& target) { LoadPictureFile(folder.Path("missing.bmp"), target); });
}

TEST(XImageFileUnit, SuccessfulLoadReplacesTheTargetsStorageOnly)
{
    TDIB target = MarkerPicture();
    const TDIB sharer = target; // shares the marker's storage
    ASSERT_NO_THROW(LoadPictureFile(kJPEGDir + "grey-64x48.jpg", target));
    EXPECT_EQ(target.Width(), 64);
    EXPECT_NE(target.Image(), sharer.Image());
    EXPECT_EQ(AllRows(sharer), AllRows(MarkerPicture()));
}

// ---------------------------------------------------------------------------
// ImportBitmap

TEST(XImageFileUnit, ImportBitmapGivesATwentyFourBitCopyAtTheOrigin)
{
    TDIB bitmap;
    bitmap.SetSize(5, 3, 8);
    for (int i = 0; i < 256; ++i)
        bitmap.ColorTable()[std::size_t(i)]
            = TRGBQuad { std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2), 0 };
    bitmap.UpdatePalette();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            bitmap.ScanLine(y)[x] = std::uint8_t(40 * y + 7 * x);

    TDIB target = MarkerPicture();
    ImportBitmap(bitmap, target);
    ASSERT_EQ(target.BitCount(), 24);
    ASSERT_EQ(target.Width(), 5);
    ASSERT_EQ(target.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const int i = 40 * y + 7 * x;
            EXPECT_EQ(target.Pixel(x, y), std::uint32_t(i / 2 | (255 - i) << 8 | i << 16))
                << x << "," << y;
        }

    // The bitmap may be the target itself.
    const std::uint32_t corner = bitmap.ColorTable()[bitmap.Pixel(4, 2)].Red;
    ImportBitmap(bitmap, bitmap);
    EXPECT_EQ(bitmap.BitCount(), 24);
    EXPECT_EQ(bitmap.Pixel(4, 2) & 0xFF, corner);

    // An empty bitmap leaves an empty picture.
    ImportBitmap(TDIB(), target);
    EXPECT_TRUE(target.Empty());
}
