// The WebP road, against pictures made here with libwebp's own encoder:
// lossless round trips exact, lossy with alpha, the first frame of an
// animation, damaged files refused.

#include "PictureTestUtil.h"
#include "core/Errors.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <webp/encode.h>
#include <webp/mux.h>

using namespace zx;
using namespace zx::picture_test;

namespace {

// A picture with every kind of alpha: 0, below and above 128, 255.
Bytes Pattern(int w, int h, bool withAlpha)
{
    Bytes rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            rgba.push_back(std::uint8_t(x * 9 + y));
            rgba.push_back(std::uint8_t(y * 13));
            rgba.push_back(std::uint8_t(255 - x * 5));
            rgba.push_back(withAlpha ? std::uint8_t((x * 29 + y * 7) % 256) : 255);
        }
    return rgba;
}

// Fills a WebPPicture from RGBA; the caller frees it.
void ImportPicture(WebPPicture& picture, const Bytes& rgba, int w, int h)
{
    ASSERT_TRUE(WebPPictureInit(&picture));
    picture.use_argb = 1;
    picture.width = w;
    picture.height = h;
    ASSERT_TRUE(WebPPictureImportRGBA(&picture, rgba.data(), w * 4));
}

WebPConfig Config(bool lossless)
{
    WebPConfig config;
    EXPECT_TRUE(WebPConfigInit(&config));
    config.lossless = lossless ? 1 : 0;
    config.quality = lossless ? 100.0f : 90.0f;
    // Keep the colours under transparent pixels, which an encoder is
    // otherwise free to change.
    config.exact = 1;
    return config;
}

Bytes EncodeStill(const Bytes& rgba, int w, int h, bool lossless)
{
    const WebPConfig config = Config(lossless);
    WebPPicture picture;
    ImportPicture(picture, rgba, w, h);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool encoded = WebPEncode(&config, &picture) != 0;
    WebPPictureFree(&picture);
    Bytes out(writer.mem, writer.mem + writer.size);
    WebPMemoryWriterClear(&writer);
    EXPECT_TRUE(encoded);
    return out;
}

// An animation of the given frames (each w x h, lossless), 100 ms apart.
Bytes EncodeAnimation(const std::vector<Bytes>& frames, int w, int h)
{
    WebPAnimEncoderOptions options;
    EXPECT_TRUE(WebPAnimEncoderOptionsInit(&options));
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(w, h, &options);
    const WebPConfig config = Config(true);
    int timestamp = 0;
    for (const Bytes& rgba : frames) {
        WebPPicture picture;
        ImportPicture(picture, rgba, w, h);
        EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, timestamp, &config));
        WebPPictureFree(&picture);
        timestamp += 100;
    }
    WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
    WebPData data;
    WebPDataInit(&data);
    EXPECT_TRUE(WebPAnimEncoderAssemble(encoder, &data));
    WebPAnimEncoderDelete(encoder);
    Bytes out(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    return out;
}

Bytes Solid(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    Bytes rgba;
    for (int i = 0; i < w * h; ++i)
        rgba.insert(rgba.end(), { r, g, b, a });
    return rgba;
}

} // namespace

TEST(XImageFileUnitWebP, LosslessRoundTripIsExact)
{
    for (const bool withAlpha : { true, false }) {
        SCOPED_TRACE(withAlpha);
        const Bytes rgba = Pattern(37, 23, withAlpha);
        const Bytes webp = EncodeStill(rgba, 37, 23, true);
        ASSERT_EQ(DetectPictureFormat(webp), TPictureFormat::WebP);
        TPicture picture;
        ASSERT_NO_THROW(LoadWebPPicture(webp, picture));
        EXPECT_EQ(picture.Color.BitCount(), 24);
        EXPECT_EQ(picture.Color.Width(), 37);
        EXPECT_EQ(picture.Color.Height(), 23);
        EXPECT_EQ(picture.HasAlpha(), withAlpha);
        EXPECT_EQ(PictureRGBA(picture), rgba);
    }
}

TEST(XImageFileUnitWebP, LossyPicturesKeepTheirAlpha)
{
    // The left half transparent; WebP codes alpha losslessly even in a lossy
    // picture, so the plane comes back exact, the colours close.
    // A smooth picture, as lossy coding is meant for.
    Bytes rgba = Solid(32, 16, 0, 0, 0, 255);
    for (int i = 0; i < 32 * 16; ++i) {
        rgba[std::size_t(i) * 4] = std::uint8_t(i % 32 * 6);
        rgba[std::size_t(i) * 4 + 1] = std::uint8_t(i / 32 * 12);
        rgba[std::size_t(i) * 4 + 2] = 128;
    }
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            rgba[std::size_t(y * 32 + x) * 4 + 3] = 0;
    TPicture picture;
    ASSERT_NO_THROW(LoadWebPPicture(EncodeStill(rgba, 32, 16, false), picture));
    ASSERT_TRUE(picture.HasAlpha());
    const Bytes got = PictureRGBA(picture);
    int worst = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (i % 4 == 3)
            EXPECT_EQ(got[i], rgba[i]) << "pixel " << i / 4;
        else if (rgba[i - i % 4 + 3] == 255)
            worst = std::max(worst, std::abs(int(got[i]) - int(rgba[i])));
    }
    EXPECT_LE(worst, 40);

    // Lossy without alpha decodes straight into the picture's rows: the top
    // row must come out on top.
    Bytes stripes = Solid(32, 32, 0, 0, 255, 255);
    for (std::size_t i = 0; i < 32 * 16; ++i) {
        stripes[i * 4] = 255;
        stripes[i * 4 + 2] = 0;
    }
    TPicture still;
    ASSERT_NO_THROW(LoadWebPPicture(EncodeStill(stripes, 32, 32, false), still));
    EXPECT_FALSE(still.HasAlpha());
    EXPECT_GT(still.Color.Pixel(5, 2) & 0xFF, 200u); // red on top
    EXPECT_GT(still.Color.Pixel(5, 29) >> 16, 200u); // blue below
}

TEST(XImageFileUnitWebP, AnimationGivesItsFirstFrame)
{
    const Bytes red = Solid(20, 10, 255, 0, 0, 255);
    const Bytes blue = Solid(20, 10, 0, 0, 255, 255);
    Bytes holed = red;
    holed[3] = 0; // the top-left pixel transparent
    for (const auto& frames :
        { std::vector<Bytes> { red, blue }, std::vector<Bytes> { holed, blue } }) {
        const Bytes webp = EncodeAnimation(frames, 20, 10);
        TPicture picture;
        ASSERT_NO_THROW(LoadPictureFile(TPictureFolder().Write("a.webp", webp), picture));
        ASSERT_EQ(picture.Color.Width(), 20);
        ASSERT_EQ(picture.Color.Height(), 10);
        EXPECT_EQ(picture.Color.Pixel(10, 5), 0x0000FFu);
        EXPECT_EQ(picture.HasAlpha(), frames[0][3] == 0);
        if (picture.HasAlpha()) {
            EXPECT_EQ(picture.Alpha.Pixel(0, 0), 0u);
        }
    }
}

TEST(XImageFileUnitWebP, DamagedFilesAreRefused)
{
    const Bytes whole = EncodeStill(Pattern(40, 30, true), 40, 30, true);
    for (std::size_t cut = 0; cut + 1 < whole.size(); cut += (cut < 64 ? 1 : 13)) {
        const Bytes part(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        const std::string message = ExpectLoadFails<EInvalidGraphic>(
            [&](TPicture& target) { LoadWebPPicture(part, target); });
        EXPECT_EQ(message.rfind("WebP 文件无效: ", 0), 0u) << cut << ": " << message;
    }
    Bytes noise = whole;
    for (std::size_t i = 40; i < noise.size(); ++i)
        noise[i] = std::uint8_t(i * 37);
    ExpectLoadFails<EInvalidGraphic>([&](TPicture& target) { LoadWebPPicture(noise, target); });
}
