#include "core/gif/WebPAnimWriter.h"

#include "core/Errors.h"
#include "core/Stream.h"
#include "core/WorkerPool.h"

#include <memory>
#include <webp/encode.h>
#include <webp/mux.h>

namespace zx {

namespace {

    [[noreturn]] void EncoderFailed(bool outOfMemory)
    {
        const std::string message = FormatMessage(AnimationMessages::sEncoderFailed, "WebP");
        if (outOfMemory)
            throw EOutOfResources(message);
        throw EInvalidGraphic(message);
    }

    // The encoder settings, measured on 40 frames of 320 x 200 of waving
    // photographs and flags (bench/anim/writers.sh and BenchAnimWriters.cpp
    // measure them again). Lossy: method 4 codes within 1.5 % of method 5 and
    // 3 % of method 6 at a tenth of the latter's time; full spatial noise
    // shaping takes 4 % off the bytes for a quarter of a dB; sharp RGB to YUV
    // conversion would add 0.8 dB for 5 % more bytes but half again the time,
    // which the standard GIF's time does not leave room for. Lossless: method
    // 3 at effort 50 comes within 2 to 6 % of libwebp's default (method 4,
    // effort 75) in a third of the time.
    WebPConfig MakeConfig(const TWebPOptions& options)
    {
        WebPConfig config;
        if (!WebPConfigInit(&config))
            EncoderFailed(false);
        if (options.Lossless) {
            config.lossless = 1;
            config.quality = 50;
            config.method = 3;
            // Keep the colour under fully transparent pixels too.
            config.exact = 1;
        } else {
            config.quality = static_cast<float>(options.Quality);
            config.method = 4;
            config.sns_strength = 100;
            config.alpha_compression = 1;
            config.alpha_quality = 100;
        }
        if (!WebPValidateConfig(&config))
            EncoderFailed(false);
        return config;
    }

    // Collects the encoder's output.
    struct TWriter {
        std::vector<std::uint8_t> Bytes;

        static int Write(const std::uint8_t* data, std::size_t size, const WebPPicture* picture)
        {
            auto* self = static_cast<TWriter*>(picture->custom_ptr);
            self->Bytes.insert(self->Bytes.end(), data, data + size);
            return 1;
        }
    };

    // Frame i as a stand-alone WebP file (RIFF, with its VP8 or VP8L data and
    // an alpha chunk where the frame is not opaque).
    std::vector<std::uint8_t> EncodeFrame(const TAnimationFrames& frames, std::size_t i,
        const TAnimationShape& shape, const WebPConfig& config)
    {
        const bool translucent = FrameIsTranslucent(frames, i);
        const std::int32_t channels = translucent ? 4 : 3;
        const std::size_t stride = static_cast<std::size_t>(shape.Width) * channels;
        std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(shape.Height));
        CopyFramePixels(frames, i, channels, pixels.data(), stride);

        WebPPicture picture;
        if (!WebPPictureInit(&picture))
            EncoderFailed(false);
        const std::unique_ptr<WebPPicture, decltype(&WebPPictureFree)> owner(
            &picture, &WebPPictureFree);
        picture.width = shape.Width;
        picture.height = shape.Height;
        // Lossless coding works on ARGB; lossy frames are converted to YUV as
        // they are imported, which spares a copy.
        picture.use_argb = config.lossless;
        const int stride32 = static_cast<int>(stride);
        const int imported = translucent ? WebPPictureImportRGBA(&picture, pixels.data(), stride32)
                                         : WebPPictureImportRGB(&picture, pixels.data(), stride32);
        if (!imported)
            EncoderFailed(true);
        TWriter writer;
        picture.writer = &TWriter::Write;
        picture.custom_ptr = &writer;
        if (!WebPEncode(&config, &picture))
            EncoderFailed(picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY
                || picture.error_code == VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY);
        return std::move(writer.Bytes);
    }

    void CheckMux(WebPMuxError error)
    {
        if (error != WEBP_MUX_OK)
            EncoderFailed(error == WEBP_MUX_MEMORY_ERROR);
    }

} // namespace

std::vector<std::uint8_t> EncodeWebPAnimation(
    const TAnimationFrames& frames, const TWebPOptions& options, const TFrameCoded& frameCoded)
{
    const TAnimationShape shape = CheckAnimationFrames(frames, kWebPMaxSide);
    if (!options.Lossless && !kWebPQualityRange.Contains(options.Quality))
        throw EInvalidGraphicOperation("WebPQuality " + std::to_string(options.Quality)
            + " 超出范围 " + std::to_string(kWebPQualityRange.Min) + ".."
            + std::to_string(kWebPQualityRange.Max));
    const WebPConfig config = MakeConfig(options);

    std::vector<std::vector<std::uint8_t>> coded(static_cast<std::size_t>(shape.Count));
    ParallelFor(coded.size(), 0, [&](std::size_t i) {
        coded[i] = EncodeFrame(frames, i, shape, config);
        if (frameCoded)
            frameCoded(coded[i].size());
    });

    const std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxNew(), &WebPMuxDelete);
    if (!mux)
        EncoderFailed(true);
    CheckMux(WebPMuxSetCanvasSize(mux.get(), shape.Width, shape.Height));
    WebPMuxAnimParams animation;
    // Transparent black: a viewer that shows the canvas's background colour
    // behind a transparent flag shows nothing there.
    animation.bgcolor = 0;
    animation.loop_count = LoopCount(frames.Loops);
    CheckMux(WebPMuxSetAnimationParams(mux.get(), &animation));
    for (const std::vector<std::uint8_t>& frame : coded) {
        WebPMuxFrameInfo info {};
        info.bitstream.bytes = frame.data();
        info.bitstream.size = frame.size();
        info.id = WEBP_CHUNK_ANMF;
        info.x_offset = 0;
        info.y_offset = 0;
        info.duration = frames.Delay * 10;
        info.dispose_method = WEBP_MUX_DISPOSE_NONE;
        info.blend_method = WEBP_MUX_NO_BLEND;
        // copy_data 0: the muxer refers to the coded frames, which outlive it.
        CheckMux(WebPMuxPushFrame(mux.get(), &info, 0));
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    CheckMux(WebPMuxAssemble(mux.get(), &assembled));
    std::vector<std::uint8_t> bytes(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return bytes;
}

void SaveWebPAnimationFile(
    const std::string& path, const TAnimationFrames& frames, const TWebPOptions& options)
{
    const std::vector<std::uint8_t> bytes = EncodeWebPAnimation(frames, options);
    WriteFileAtomic(path, bytes);
}

} // namespace zx
