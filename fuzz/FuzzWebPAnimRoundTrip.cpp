// The animated WebP writer against libwebp's animation decoder: frames,
// alpha planes and options from the input (FuzzAnimFrames.h); byte 5 bit 0
// picks lossy coding, bits 1-7 its quality (0..127, taken modulo 101).
//
// Invariants: the file decodes, with the canvas size, frame count, frame end
// times and loop count asked for (one frame makes a still picture, which has
// neither); lossless frames equal their input exactly
// (the colour under alpha 0 included), lossy ones keep their alpha exactly.

#include "FuzzAnimFrames.h"
#include "FuzzTarget.h"
#include "core/gif/WebPAnimWriter.h"

#include <memory>
#include <webp/demux.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 7)
        return 0;
    const zx::fuzz::TFuzzAnimation animation = zx::fuzz::MakeFuzzAnimation(data, size);
    zx::TWebPOptions options;
    options.Lossless = (animation.Options & 1) == 0;
    options.Quality = (animation.Options >> 1) % 101;
    const std::vector<std::uint8_t> file = zx::EncodeWebPAnimation(animation.View, options);

    WebPAnimDecoderOptions decoderOptions;
    ZX_FUZZ_CHECK(WebPAnimDecoderOptionsInit(&decoderOptions));
    decoderOptions.color_mode = MODE_RGBA;
    const WebPData webp { file.data(), file.size() };
    const std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(
        WebPAnimDecoderNew(&webp, &decoderOptions), &WebPAnimDecoderDelete);
    ZX_FUZZ_CHECK(decoder != nullptr);
    WebPAnimInfo info;
    ZX_FUZZ_CHECK(WebPAnimDecoderGetInfo(decoder.get(), &info));
    const zx::TDIB& first = animation.Frames.front();
    ZX_FUZZ_CHECK(info.canvas_width == std::uint32_t(first.Width()));
    ZX_FUZZ_CHECK(info.canvas_height == std::uint32_t(first.Height()));
    ZX_FUZZ_CHECK(info.frame_count == animation.Frames.size());
    const bool still = animation.Frames.size() == 1;
    WebPBitstreamFeatures features;
    ZX_FUZZ_CHECK(WebPGetFeatures(file.data(), file.size(), &features) == VP8_STATUS_OK);
    ZX_FUZZ_CHECK(features.has_animation == !still);
    if (!still)
        ZX_FUZZ_CHECK(info.loop_count == std::uint32_t(zx::LoopCount(animation.View.Loops)));
    for (std::size_t i = 0; i < animation.Frames.size(); ++i) {
        std::uint8_t* pixels = nullptr;
        int timestamp = 0;
        ZX_FUZZ_CHECK(WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp));
        if (!still)
            ZX_FUZZ_CHECK(timestamp == int(i + 1) * animation.View.Delay * 10);
        const std::vector<std::uint8_t> want = zx::fuzz::FuzzExpectedRGBA(animation, i);
        for (std::size_t p = 0; p < want.size(); ++p)
            ZX_FUZZ_CHECK(pixels[p] == want[p] || (!options.Lossless && p % 4 != 3));
    }
    return 0;
}
