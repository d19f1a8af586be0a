// The animated WebP writer, decoded by libwebp's own animation decoder
// (libwebpdemux), which composes the frames on the canvas as a viewer does.

#include "core/gif/WebPAnimWriter.h"

#include "AnimTestUtil.h"
#include "WebPTestDecoder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <vector>
#include <webp/demux.h>

namespace zx {
namespace {

    using anim_test::ExpectedRGBA;
    using anim_test::MakeAlpha;
    using anim_test::MakeFrame;
    using anim_test::Noise;
    using anim_test::TRgb;

    using webp_test::Decode;
    using webp_test::TDecoded;

    // The container's own account of each frame (libwebp's demuxer).
    struct TFrameRecord {
        int X, Y, Width, Height, Duration;
        bool HasAlpha;
        WebPMuxAnimDispose Dispose;
        WebPMuxAnimBlend Blend;
    };

    std::vector<TFrameRecord> Records(const std::vector<std::uint8_t>& file)
    {
        const WebPData data { file.data(), file.size() };
        const std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demux(
            WebPDemux(&data), &WebPDemuxDelete);
        std::vector<TFrameRecord> records;
        if (!demux) {
            ADD_FAILURE() << "libwebp does not demux the file";
            return records;
        }
        EXPECT_TRUE(WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG);
        WebPIterator it;
        if (WebPDemuxGetFrame(demux.get(), 1, &it)) {
            do
                records.push_back({ it.x_offset, it.y_offset, it.width, it.height, it.duration,
                    it.has_alpha != 0, it.dispose_method, it.blend_method });
            while (WebPDemuxNextFrame(&it));
            WebPDemuxReleaseIterator(&it);
        }
        return records;
    }

    TEST(WebPAnimWriter, LosslessFramesDecodeExactlyWithTheirTimingAndLoops)
    {
        const std::int32_t w = 33;
        const std::int32_t h = 17;
        std::vector<TDIB> images;
        for (std::uint32_t k = 0; k < 3; ++k)
            images.push_back(MakeFrame(w, h, [&](std::int32_t x, std::int32_t y) {
                return TRgb { Noise(x, y, k), static_cast<std::uint8_t>(x * 7),
                    static_cast<std::uint8_t>(k * 60) };
            }));
        // Every alpha value, noise colours under alpha 0, and one opaque frame.
        const std::vector<TDIB> alpha = {
            MakeAlpha(w, h,
                [&](std::int32_t x, std::int32_t y) {
                    return static_cast<std::uint8_t>((y * w + x) % 256);
                }),
            TDIB(),
            MakeAlpha(w, h, [](std::int32_t x, std::int32_t y) { return Noise(x, y, 9); }),
        };
        TAnimationFrames frames;
        frames.Frames = images;
        frames.Alpha = alpha;
        frames.Delay = 12;
        for (const auto& [position, loops] : std::vector<std::pair<int, std::uint32_t>> {
                 { 0, 0 }, { 7, 7 }, { 95, 500 }, { 96, 600 }, { 101, 0 } }) {
            frames.Loops = position;
            const std::vector<std::uint8_t> file = EncodeWebPAnimation(frames, { true, 90 });
            const TDecoded decoded = Decode(file);
            EXPECT_EQ(decoded.Width, std::uint32_t(w));
            EXPECT_EQ(decoded.Height, std::uint32_t(h));
            EXPECT_EQ(decoded.Loops, loops) << "slider position " << position;
            ASSERT_EQ(decoded.Frames.size(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(decoded.Frames[i].Rgba, ExpectedRGBA(frames, i)) << "frame " << i;
                EXPECT_EQ(decoded.Frames[i].Timestamp, int(i + 1) * 120);
            }
        }
    }

    TEST(WebPAnimWriter, EveryFrameCoversTheCanvasAndReplacesIt)
    {
        const auto rendered = anim_test::RenderFlagFrames(3, 64, 40, true);
        TAnimationFrames frames;
        frames.Frames = rendered.Frames;
        // Frame 1 opaque: it needs no alpha chunk.
        const std::vector<TDIB> alpha = { rendered.Alpha[0], TDIB(), rendered.Alpha[2] };
        frames.Alpha = alpha;
        for (const bool lossless : { false, true }) {
            const std::vector<TFrameRecord> records
                = Records(EncodeWebPAnimation(frames, { lossless, 90 }));
            ASSERT_EQ(records.size(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                const TFrameRecord& r = records[i];
                EXPECT_EQ(r.X, 0);
                EXPECT_EQ(r.Y, 0);
                EXPECT_EQ(r.Width, 64);
                EXPECT_EQ(r.Height, 40);
                EXPECT_EQ(r.Duration, 50);
                EXPECT_EQ(r.Dispose, WEBP_MUX_DISPOSE_NONE);
                EXPECT_EQ(r.Blend, WEBP_MUX_NO_BLEND);
                EXPECT_EQ(r.HasAlpha, i != 1) << "frame " << i << " lossless " << lossless;
            }
        }
    }

    TEST(WebPAnimWriter, LossyFramesKeepTheirAlphaExactlyAndFollowTheQuality)
    {
        // A smooth picture: the built-in one is dithered to 256 colours, which
        // no lossy coder keeps close.
        const TDIB picture = MakeFrame(160, 100, [](std::int32_t x, std::int32_t y) {
            return TRgb { static_cast<std::uint8_t>(x * 255 / 159),
                static_cast<std::uint8_t>(y * 255 / 99),
                static_cast<std::uint8_t>(128 + 60 * std::sin(x / 9.0)) };
        });
        const auto rendered = anim_test::RenderFlagFrames(2, 96, 60, true, &picture);
        TAnimationFrames frames;
        frames.Frames = rendered.Frames;
        // Soft edges: alpha falling off over the left columns, and every
        // alpha value in the top rows, which lossy alpha coding would merge.
        std::vector<TDIB> alpha = rendered.Alpha;
        for (TDIB& plane : alpha)
            for (std::int32_t y = 0; y < plane.Height(); ++y)
                for (std::int32_t x = 0; x < plane.Width(); ++x) {
                    std::uint8_t& a = plane.ScanLine(y)[x];
                    if (y < 8)
                        a = static_cast<std::uint8_t>(y * 32 + x % 32);
                    else if (x < 12)
                        a = static_cast<std::uint8_t>(x * 21 * a / 255);
                }
        frames.Alpha = alpha;

        std::size_t previousSize = 0;
        double previousPsnr = 0;
        for (const int quality : { 10, 50, 90 }) {
            const std::vector<std::uint8_t> file = EncodeWebPAnimation(frames, { false, quality });
            const TDecoded decoded = Decode(file);
            ASSERT_EQ(decoded.Frames.size(), 2u);
            double psnr = 0;
            for (std::size_t i = 0; i < 2; ++i) {
                const std::vector<std::uint8_t> want = ExpectedRGBA(frames, i);
                const std::vector<std::uint8_t>& got = decoded.Frames[i].Rgba;
                for (std::size_t p = 3; p < want.size(); p += 4)
                    ASSERT_EQ(got[p], want[p]) << "alpha of pixel " << p / 4 << ", frame " << i;
                // Colours count only where they show.
                std::vector<std::uint8_t> shownWant = want;
                std::vector<std::uint8_t> shownGot = got;
                for (std::size_t p = 3; p < want.size(); p += 4)
                    if (want[p] == 0)
                        for (std::size_t c = 1; c <= 3; ++c)
                            shownWant[p - c] = shownGot[p - c] = 0;
                psnr += anim_test::RgbPsnr(shownWant, shownGot) / 2;
            }
            EXPECT_GT(file.size(), previousSize) << "quality " << quality;
            EXPECT_GT(psnr, previousPsnr) << "quality " << quality;
            previousSize = file.size();
            previousPsnr = psnr;
        }
        // At the default quality the flag is close to the rendered frames
        // (38 dB with libwebp 1.2.4).
        EXPECT_GT(previousPsnr, 36.0);
    }

    TEST(WebPAnimWriter, ASingleFrameIsAStillPictureThatDecodesExactly)
    {
        const TDIB image = MakeFrame(21, 13, [](std::int32_t x, std::int32_t y) {
            return TRgb { Noise(x, y, 1), Noise(x, y, 2), Noise(x, y, 3) };
        });
        const TDIB alpha = MakeAlpha(
            21, 13, [](std::int32_t x, std::int32_t) { return static_cast<std::uint8_t>(x * 12); });
        TAnimationFrames frames;
        frames.Frames = std::span<const TDIB>(&image, 1);
        frames.Alpha = std::span<const TDIB>(&alpha, 1);
        const std::vector<std::uint8_t> file = EncodeWebPAnimation(frames, { true, 90 });
        WebPBitstreamFeatures features;
        ASSERT_EQ(WebPGetFeatures(file.data(), file.size(), &features), VP8_STATUS_OK);
        EXPECT_FALSE(features.has_animation);
        EXPECT_TRUE(features.has_alpha);
        const TDecoded decoded = Decode(file);
        ASSERT_EQ(decoded.Frames.size(), 1u);
        EXPECT_EQ(decoded.Frames[0].Rgba, ExpectedRGBA(frames, 0));
    }

} // namespace
} // namespace zx
