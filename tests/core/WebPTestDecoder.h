#pragma once

// Animated WebP files read back by libwebp's own animation decoder
// (libwebpdemux), which composes the frames on the canvas as a viewer does.

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <vector>
#include <webp/demux.h>

namespace zx::webp_test {

struct TDecodedFrame {
    std::vector<std::uint8_t> Rgba;
    int Timestamp = 0; // when the frame ends, in milliseconds
};

struct TDecoded {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t Loops = 0;
    std::vector<TDecodedFrame> Frames;
};

inline TDecoded Decode(const std::vector<std::uint8_t>& file)
{
    WebPAnimDecoderOptions options;
    EXPECT_TRUE(WebPAnimDecoderOptionsInit(&options));
    options.color_mode = MODE_RGBA; // straight alpha
    const WebPData data { file.data(), file.size() };
    const std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(
        WebPAnimDecoderNew(&data, &options), &WebPAnimDecoderDelete);
    TDecoded decoded;
    if (!decoder) {
        ADD_FAILURE() << "libwebp does not read the file";
        return decoded;
    }
    WebPAnimInfo info;
    EXPECT_TRUE(WebPAnimDecoderGetInfo(decoder.get(), &info));
    decoded.Width = info.canvas_width;
    decoded.Height = info.canvas_height;
    decoded.Loops = info.loop_count;
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
        std::uint8_t* pixels = nullptr;
        TDecodedFrame frame;
        EXPECT_TRUE(WebPAnimDecoderGetNext(decoder.get(), &pixels, &frame.Timestamp));
        frame.Rgba.assign(pixels, pixels + std::size_t(info.canvas_width) * info.canvas_height * 4);
        decoded.Frames.push_back(std::move(frame));
    }
    EXPECT_EQ(decoded.Frames.size(), info.frame_count);
    return decoded;
}

} // namespace zx::webp_test
