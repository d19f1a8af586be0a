#pragma once

// Shared by the tests of the PNG, WebP, SVG and EXIF roads and of alpha in
// the renderer: writing PNG files with libspng's encoder, reading a picture's
// pixels back as RGBA; LoadFailureTestUtil.h has the target a failed load must
// leave alone.

#include "LoadFailureTestUtil.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spng.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace zx::picture_test {

using Bytes = std::vector<std::uint8_t>;
using load_test::ExpectLoadFails;

// Writes rgba (width x height pixels of red, green, blue, alpha, top row
// first) as an 8-bit PNG: colour type 6 (RGBA), or 2 (RGB, alpha dropped)
// when withAlpha is false.
inline Bytes EncodePNG(const Bytes& rgba, std::uint32_t width, std::uint32_t height, bool withAlpha,
    bool interlaced = false)
{
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr {};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = withAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    ihdr.interlace_method = interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
    spng_set_ihdr(ctx, &ihdr);
    Bytes samples;
    if (withAlpha) {
        samples = rgba;
    } else {
        for (std::size_t i = 0; i + 3 < rgba.size(); i += 4)
            samples.insert(samples.end(), rgba.begin() + std::ptrdiff_t(i),
                rgba.begin() + std::ptrdiff_t(i + 3));
    }
    const int result = spng_encode_image(
        ctx, samples.data(), samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    std::size_t length = 0;
    int error = 0;
    auto* png = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &length, &error));
    spng_ctx_free(ctx);
    if (result != 0 || !png)
        throw std::runtime_error(std::string("spng encode: ") + spng_strerror(result));
    Bytes out(png, png + length);
    std::free(png);
    return out;
}

// The picture's pixels as RGBA, top row first; alpha 255 without a plane.
inline Bytes PictureRGBA(const TPicture& picture)
{
    Bytes out;
    for (std::int32_t y = 0; y < picture.Color.Height(); ++y) {
        const std::uint8_t* row = picture.Color.ConstScanLine(y);
        const std::uint8_t* alpha = picture.HasAlpha() ? picture.Alpha.ConstScanLine(y) : nullptr;
        for (std::int32_t x = 0; x < picture.Color.Width(); ++x) {
            out.push_back(row[3 * x + 2]);
            out.push_back(row[3 * x + 1]);
            out.push_back(row[3 * x]);
            out.push_back(alpha ? alpha[x] : 255);
        }
    }
    return out;
}

// A folder of its own for the files a test writes, removed afterwards.
class TPictureFolder {
public:
    TPictureFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = std::filesystem::temp_directory_path()
            / ("zx-pictures-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TPictureFolder() { std::filesystem::remove_all(m_path); }
    TPictureFolder(const TPictureFolder&) = delete;
    TPictureFolder& operator=(const TPictureFolder&) = delete;

    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        const std::filesystem::path path = m_path / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }
    std::filesystem::path Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace zx::picture_test
