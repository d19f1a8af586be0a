// Hostile JPEG files: absurd frame sizes, progressive coefficient memory, a
// flood of markers or scans, files cut at every byte. Each input is made here
// with libjpeg. The loader must refuse such a file with its error (before
// allocating anything large), or load it; it must never crash, read or write
// outside its buffers (the sanitizer build watches), or leave its target
// half-changed.

#include "HostileTestUtil.h"
#include "core/Errors.h"
#include "core/Limits.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <limits>
#include <string>
#include <vector>

using namespace zx;
using namespace zx::hostile_test;

namespace {

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
    TMarkedTarget<TDIB> marked;
    TDIB& target = marked.Target;
    try {
        LoadJPEGPicture(file, target);
        if (loaded)
            *loaded = target;
        return {};
    } catch (const EInvalidGraphic& e) {
        marked.ExpectUntouched();
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
            TMarkedTarget<TDIB> marked;
            TDIB& target = marked.Target;
            EXPECT_THROW(
                LoadJPEGPicture(WithDimensions(small, width, height), target), EImageTooLarge);
            marked.ExpectUntouched();
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
    TMarkedTarget<TDIB> marked;
    TDIB& target = marked.Target;
    try {
        LoadJPEGPicture(WithDimensions(full, 11000, 10000), target);
        ADD_FAILURE() << "loaded";
    } catch (const EImageTooLarge& e) {
        EXPECT_STREQ(e.what(), "图像太大: 像素内存超过 512 MiB");
    }
    marked.ExpectUntouched();
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
