// JPEG orientation: a 3 x 2 picture with one marked corner, written by
// libjpeg with an EXIF block, comes out turned or mirrored as each of the
// eight orientations asks; a missing or malformed tag changes nothing.

#include "PictureTestUtil.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <string>
#include <utility>
#include <vector>

using namespace zx;
using namespace zx::picture_test;

namespace {

// A 3 x 2 JPEG (quality 100, no chroma subsampling): white at the top-left
// corner, black elsewhere; app1 is written as an APP1 segment when given.
Bytes MarkedJPEG(const Bytes& app1)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = 3;
    cinfo.image_height = 2;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    for (int c = 0; c < 3; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    if (!app1.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1.data(), unsigned(app1.size()));
    JSAMPLE rows[2][9] = { { 255, 255, 255 }, {} };
    for (JSAMPROW row : { rows[0], rows[1] })
        jpeg_write_scanlines(&cinfo, &row, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// An EXIF block with one IFD entry (TIFF 6.0 §2) in the given byte order.
Bytes Exif(bool bigEndian, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
    std::uint16_t value, std::uint32_t ifdOffset = 8)
{
    Bytes out = { 'E', 'x', 'i', 'f', 0, 0 };
    const auto u16 = [&](std::uint32_t v) {
        if (bigEndian)
            out.insert(out.end(), { std::uint8_t(v >> 8), std::uint8_t(v) });
        else
            out.insert(out.end(), { std::uint8_t(v), std::uint8_t(v >> 8) });
    };
    const auto u32 = [&](std::uint32_t v) {
        if (bigEndian) {
            u16(v >> 16);
            u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF);
            u16(v >> 16);
        }
    };
    out.push_back(bigEndian ? 'M' : 'I');
    out.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(ifdOffset);
    u16(1); // one entry
    u16(tag);
    u16(type);
    u32(count);
    u16(value);
    u16(0); // the rest of the value field
    u32(0); // no next IFD
    return out;
}

// Where the white corner is, and the picture's size.
struct TCorner {
    int Width, Height, X, Y;
    friend bool operator==(const TCorner&, const TCorner&) = default;
};

TCorner Corner(const TDIB& picture)
{
    TCorner corner { picture.Width(), picture.Height(), -1, -1 };
    std::uint32_t brightest = 0;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const std::uint32_t p = picture.Pixel(x, y);
            const std::uint32_t sum = (p & 0xFF) + (p >> 8 & 0xFF) + (p >> 16 & 0xFF);
            if (sum > brightest) {
                brightest = sum;
                corner.X = x;
                corner.Y = y;
            }
        }
    return corner;
}

std::ostream& operator<<(std::ostream& out, const TCorner& c)
{
    return out << c.Width << "x" << c.Height << " corner at " << c.X << "," << c.Y;
}

} // namespace

TEST(XImageFileUnitExif, EveryOrientationTurnsTheMarkedCornerWhereItBelongs)
{
    // The stored picture is 3 x 2 with the mark top-left. Shown as meant:
    const std::pair<int, TCorner> expected[] = {
        { 1, { 3, 2, 0, 0 } }, // as stored
        { 2, { 3, 2, 2, 0 } }, // mirrored left-right
        { 3, { 3, 2, 2, 1 } }, // turned 180 degrees
        { 4, { 3, 2, 0, 1 } }, // mirrored top-bottom
        { 5, { 2, 3, 0, 0 } }, // mirrored along the main diagonal
        { 6, { 2, 3, 1, 0 } }, // turned 90 degrees clockwise
        { 7, { 2, 3, 1, 2 } }, // mirrored along the other diagonal
        { 8, { 2, 3, 0, 2 } }, // turned 90 degrees anticlockwise
    };
    for (const bool bigEndian : { true, false })
        for (const auto& [orientation, corner] : expected) {
            const Bytes jpeg
                = MarkedJPEG(Exif(bigEndian, 0x0112, 3, 1, std::uint16_t(orientation)));
            EXPECT_EQ(ReadExifOrientation(jpeg), orientation);
            TDIB picture;
            ASSERT_NO_THROW(LoadJPEGPicture(jpeg, picture));
            EXPECT_EQ(Corner(picture), corner) << "orientation " << orientation;
        }
}

TEST(XImageFileUnitExif, MissingOrMalformedTagsChangeNothing)
{
    const TCorner asStored { 3, 2, 0, 0 };
    const std::vector<Bytes> blocks = {
        {}, // no EXIF at all
        Exif(true, 0x0112, 3, 1, 9), // out of range
        Exif(true, 0x0112, 3, 1, 0), Exif(true, 0x0112, 4, 1, 6), // LONG, not SHORT
        Exif(true, 0x0112, 3, 2, 6), // two values
        Exif(true, 0x0110, 3, 1, 6), // another tag
        Exif(true, 0x0112, 3, 1, 6, 0xFFFFFFF0u), // IFD far outside the block
        Exif(true, 0x0112, 3, 1, 6, 14), // IFD at a wrong place
        Bytes { 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42 }, // no IFD offset
        Bytes { 'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 0, 42, 0, 0, 0, 8 }, // no byte order
        Bytes { 'E', 'x', 'i', 'f' }, // not even the header
    };
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const Bytes jpeg = MarkedJPEG(blocks[i]);
        EXPECT_EQ(ReadExifOrientation(jpeg), 1) << i;
        TDIB picture;
        ASSERT_NO_THROW(LoadJPEGPicture(jpeg, picture));
        EXPECT_EQ(Corner(picture), asStored) << i;
    }
    // Cut anywhere, the parser never reads past the end (ASan) and finds
    // either the tag or nothing.
    const Bytes whole = MarkedJPEG(Exif(false, 0x0112, 3, 1, 6));
    for (std::size_t cut = 0; cut < 80 && cut < whole.size(); ++cut) {
        const Bytes part(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        const std::int32_t orientation = ReadExifOrientation(part);
        EXPECT_TRUE(orientation == 1 || orientation == 6) << cut;
    }
}

TEST(XImageFileUnitExif, CorpusPhotoIsShownUpright)
{
    // The corpus' orientation-6 photo is stored 64 x 48; shown, it is 48 x 64,
    // and shown pixel (x, y) is stored pixel (y, 47 - x).
    const std::string dir = std::string(ZX_TEST_DATA_DIR) + "/jpeg/";
    TDIB shown;
    ASSERT_NO_THROW(LoadPictureFile(dir + "exif-orientation-6-64x48.jpg", shown));
    ASSERT_EQ(shown.Width(), 48);
    ASSERT_EQ(shown.Height(), 64);
    const Bytes reference = ReadFileBytes(dir + "ref-rgba/exif-orientation-6-64x48.rgba");
    ASSERT_EQ(reference.size(), 64u * 48 * 4);
    int mismatches = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 48; ++x) {
            const std::uint8_t* ref = &reference[std::size_t((47 - x) * 64 + y) * 4];
            const std::uint32_t p = shown.Pixel(x, y);
            for (int c = 0; c < 3; ++c)
                mismatches += std::abs(int(p >> (8 * c) & 0xFF) - int(ref[c])) > 3;
        }
    EXPECT_EQ(mismatches, 0);
}
