// The WebP road of the picture loader, through libwebp.
//
// A still picture without alpha is decoded straight into the rows of the
// 24-bit picture (blue, green, red, bottom row first: libwebp's vertical
// flip). One with alpha goes through an RGBA buffer into the two planes. Of
// an animation we take the first frame as libwebp's animation decoder
// composes it on the canvas, the way the GIF road takes a GIF's first frame.

#include "core/Errors.h"
#include "core/Limits.h"
#include "core/imaging/XImageFileUnit.h"
#include "core/imaging/XImageFileUnitMessages.h"
#include "core/imaging/XImageFileUnitRGBA.h"

#include <memory>
#include <vector>
#include <webp/decode.h>
#include <webp/demux.h>

namespace zx {

namespace {

    const char* StatusText(VP8StatusCode status)
    {
        switch (status) {
        case VP8_STATUS_OK:
            return "ok";
        case VP8_STATUS_OUT_OF_MEMORY:
            return "out of memory";
        case VP8_STATUS_INVALID_PARAM:
            return "invalid parameter";
        case VP8_STATUS_BITSTREAM_ERROR:
            return "bitstream error";
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return "unsupported feature";
        case VP8_STATUS_SUSPENDED:
            return "suspended";
        case VP8_STATUS_USER_ABORT:
            return "aborted";
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return "not enough data";
        }
        return "unknown error";
    }

    [[noreturn]] void Fail(const char* reason)
    {
        throw EInvalidGraphic(FormatMessage(ImageFileMessages::sInvalidWebP, reason));
    }

    struct TAnimDecoderFree {
        void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
    };

    void LoadFirstFrame(
        std::span<const std::uint8_t> file, const WebPBitstreamFeatures& features, TPicture& target)
    {
        // The animation decoder keeps two canvases of 4 bytes per pixel.
        CheckPixelMemory(std::uint64_t(features.width), std::uint64_t(features.height), 8);
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options))
            Fail("library version mismatch");
        options.color_mode = MODE_RGBA;
        options.use_threads = 0;
        const WebPData data { file.data(), file.size() };
        const std::unique_ptr<WebPAnimDecoder, TAnimDecoderFree> decoder(
            WebPAnimDecoderNew(&data, &options));
        if (!decoder)
            Fail("invalid animation");
        WebPAnimInfo info {};
        if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || info.frame_count == 0)
            Fail("animation without frames");
        std::uint8_t* canvas = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas)
            Fail("invalid first frame");

        TRGBAPictureBuilder builder(info.canvas_width, info.canvas_height, true,
            FormatMessage(ImageFileMessages::sInvalidWebP, "empty image"));
        const std::size_t stride = std::size_t(info.canvas_width) * 4;
        for (std::int32_t y = 0; y < builder.Height(); ++y)
            builder.SetRow(y, canvas + std::size_t(y) * stride);
        builder.Finish(target);
    }

    void LoadStill(
        std::span<const std::uint8_t> file, const WebPBitstreamFeatures& features, TPicture& target)
    {
        const std::string empty = FormatMessage(ImageFileMessages::sInvalidWebP, "empty image");
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config))
            Fail("library version mismatch");
        config.output.is_external_memory = 1;

        if (!features.has_alpha) {
            TPicture picture;
            {
                // Gone before the pixels are written, so that they are not
                // shared and Bits() makes no copy.
                TRGBAPictureBuilder builder(features.width, features.height, false, empty);
                builder.Finish(picture);
            }
            config.output.colorspace = MODE_BGR;
            config.options.flip = 1;
            config.output.u.RGBA.rgba = picture.Color.Bits();
            config.output.u.RGBA.stride = picture.Color.RowBytes();
            config.output.u.RGBA.size = std::size_t(picture.Color.Size());
            const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
            WebPFreeDecBuffer(&config.output);
            if (status != VP8_STATUS_OK)
                Fail(StatusText(status));
            target.Color = picture.Color;
            target.Alpha = TDIB();
            return;
        }

        TRGBAPictureBuilder builder(features.width, features.height, true, empty);
        CheckPixelMemory(std::uint64_t(features.width), std::uint64_t(features.height), 4);
        const std::size_t stride = std::size_t(builder.Width()) * 4;
        std::vector<std::uint8_t> rgba(stride * std::size_t(builder.Height()));
        config.output.colorspace = MODE_RGBA;
        config.output.u.RGBA.rgba = rgba.data();
        config.output.u.RGBA.stride = static_cast<int>(stride);
        config.output.u.RGBA.size = rgba.size();
        const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
        WebPFreeDecBuffer(&config.output);
        if (status != VP8_STATUS_OK)
            Fail(StatusText(status));
        for (std::int32_t y = 0; y < builder.Height(); ++y)
            builder.SetRow(y, rgba.data() + std::size_t(y) * stride);
        builder.Finish(target);
    }

} // namespace

void LoadWebPPicture(std::span<const std::uint8_t> file, TPicture& target)
{
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(file.data(), file.size(), &features);
    if (status != VP8_STATUS_OK)
        Fail(StatusText(status));
    if (features.width <= 0 || features.height <= 0)
        Fail("empty image");
    // Decoded apart from target, so that a failure leaves it alone.
    TPicture picture;
    if (features.has_animation)
        LoadFirstFrame(file, features, picture);
    else
        LoadStill(file, features, picture);
    target.Color = picture.Color;
    target.Alpha = picture.Alpha;
}

} // namespace zx
