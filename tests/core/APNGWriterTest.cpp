// The APNG writer against an independent reader (APNGTestReader.h: zlib,
// its own unfiltering and frame composition) and, for frame 0, against
// libspng reading the file as a still PNG.

#include "core/gif/APNGWriter.h"

#include "APNGTestReader.h"
#include "AnimTestUtil.h"
#include "core/Errors.h"
#include "core/imaging/XImageFileUnit.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zx {
namespace {

    using anim_test::ExpectedRGBA;
    using anim_test::MakeAlpha;
    using anim_test::MakeFrame;
    using anim_test::Noise;
    using anim_test::TRgb;

    // Decodes the file and checks every frame against the input, pixel for
    // pixel, with its delay.
    apng_test::TAPNG ExpectRoundTrip(
        const TAnimationFrames& frames, const TAPNGOptions& options = {})
    {
        const apng_test::TAPNG png = apng_test::ReadAPNG(EncodeAPNG(frames, options));
        EXPECT_EQ(png.Canvases.size(), frames.Frames.size());
        for (std::size_t i = 0; i < png.Canvases.size() && i < frames.Frames.size(); ++i) {
            EXPECT_EQ(png.Canvases[i], ExpectedRGBA(frames, i)) << "frame " << i;
            EXPECT_EQ(png.Controls[i].DelayNum, frames.Delay);
            EXPECT_EQ(png.Controls[i].DelayDen, 100);
        }
        return png;
    }

    // Frames with detail everywhere and a few unchanged stretches.
    std::vector<TDIB> NoisyFrames(std::int32_t count, std::int32_t width, std::int32_t height)
    {
        std::vector<TDIB> frames;
        for (std::int32_t k = 0; k < count; ++k)
            frames.push_back(MakeFrame(width, height, [&](std::int32_t x, std::int32_t y) {
                const std::uint32_t moving = x < width / 2 ? std::uint32_t(k) : 0u;
                return TRgb { Noise(x, y, moving), static_cast<std::uint8_t>(x * 9 + y),
                    static_cast<std::uint8_t>(y * 13 + moving * 40) };
            }));
        return frames;
    }

    TEST(APNGWriter, RenderedFramesDecodeExactlyAsRGBWithTheirTimingAndLoops)
    {
        const auto rendered = anim_test::RenderFlagFrames(4, 64, 40, false);
        TAnimationFrames frames;
        frames.Frames = rendered.Frames;
        frames.Delay = 7;
        // Slider positions and the play counts the GIF would store for them.
        for (const auto& [position, plays] : std::vector<std::pair<int, std::uint32_t>> {
                 { 0, 0 }, { 3, 3 }, { 51, 60 }, { 100, 1000 }, { 101, 0 } }) {
            frames.Loops = position;
            const apng_test::TAPNG png = ExpectRoundTrip(frames);
            EXPECT_EQ(png.ColourType, 2); // RGB: every pixel is opaque
            EXPECT_EQ(png.Width, 64u);
            EXPECT_EQ(png.Height, 40u);
            EXPECT_EQ(png.Plays, plays) << "slider position " << position;
        }
    }

    TEST(APNGWriter, AnyPixelBelowFullAlphaMakesEveryFrameRGBA)
    {
        const std::int32_t w = 19;
        const std::int32_t h = 11;
        const std::vector<TDIB> images = NoisyFrames(3, w, h);
        // Frame 0 has no plane, frame 1 an opaque one, frame 2 every alpha
        // value, with colours under alpha 0 that must survive too.
        const std::vector<TDIB> alpha = { TDIB(), MakeAlpha(w, h, [](auto, auto) { return 255; }),
            MakeAlpha(w, h, [&](std::int32_t x, std::int32_t y) {
                return static_cast<std::uint8_t>((y * w + x) * 255 / (w * h - 1));
            }) };
        TAnimationFrames frames;
        frames.Frames = images;
        frames.Alpha = alpha;
        EXPECT_EQ(ExpectRoundTrip(frames).ColourType, 6);

        // The same frames with only the opaque planes stay RGB.
        frames.Frames = std::span<const TDIB>(images).first(2);
        frames.Alpha = std::span<const TDIB>(alpha).first(2);
        EXPECT_EQ(ExpectRoundTrip(frames).ColourType, 2);
    }

    TEST(APNGWriter, EveryFilterChoiceAndLevelDecodesExactly)
    {
        const std::vector<TDIB> images = NoisyFrames(3, 23, 9);
        const std::vector<TDIB> alpha
            = { MakeAlpha(23, 9, [](std::int32_t x, std::int32_t y) { return Noise(x, y, 5); }) };
        for (const bool withAlpha : { false, true }) {
            TAnimationFrames frames;
            frames.Frames = images;
            if (withAlpha)
                frames.Alpha = alpha;
            using F = TPNGFilterChoice;
            for (const F filter : { F::None, F::Sub, F::Up, F::Average, F::Paeth, F::SmallestSum,
                     F::SmallestEntropy, F::Trial })
                for (const std::int32_t level : { kAPNGAutomaticLevel, 1, 12 }) {
                    SCOPED_TRACE(testing::Message() << "filter " << int(filter) << " level "
                                                    << level << " alpha " << withAlpha);
                    const apng_test::TAPNG png = ExpectRoundTrip(frames, { filter, level, true });
                    // A single filter type is used on every row.
                    if (int(filter) <= int(F::Paeth)) {
                        for (const auto& control : png.Controls)
                            for (const std::uint8_t type : control.Filters)
                                EXPECT_EQ(type, int(filter));
                    }
                }
        }
    }

    TEST(APNGWriter, PerRowChoiceUsesSeveralFilterTypes)
    {
        // Rows that each suit one filter: a constant row (any type but Sub
        // leaves more than zeros after the first pixel: Sub wins), a row
        // equal to the one above (Up), and noise.
        const TDIB image = MakeFrame(32, 6, [](std::int32_t x, std::int32_t y) -> TRgb {
            if (y == 0)
                return { 200, 100, 50 };
            if (y == 1)
                return { Noise(x, 1, 0), Noise(x, 1, 1), Noise(x, 1, 2) };
            if (y == 2)
                return { Noise(x, 1, 0), Noise(x, 1, 1), Noise(x, 1, 2) };
            return { static_cast<std::uint8_t>(x * 8), static_cast<std::uint8_t>(x * 8),
                static_cast<std::uint8_t>(x * 8) };
        });
        TAnimationFrames frames;
        frames.Frames = std::span<const TDIB>(&image, 1);
        const auto png = ExpectRoundTrip(frames, { TPNGFilterChoice::SmallestSum, 9, true });
        const std::vector<std::uint8_t>& filters = png.Controls[0].Filters;
        EXPECT_EQ(filters[2], 2); // Up: the row repeats the one above
        EXPECT_EQ(filters[4], 2); // the ramp repeats too
        EXPECT_EQ(filters[0], 1); // Sub: a constant row
    }

    TEST(APNGWriter, LaterFramesCoverOnlyTheirChangedRectangle)
    {
        const std::int32_t w = 30;
        const std::int32_t h = 20;
        const auto base = [](std::int32_t x, std::int32_t y) {
            return TRgb { Noise(x, y, 0), Noise(x, y, 1), Noise(x, y, 2) };
        };
        std::vector<TDIB> images;
        images.push_back(MakeFrame(w, h, base));
        // Frame 1 changes pixels (4, 3) and (11, 8): the rectangle is 8 x 6
        // at (4, 3).
        images.push_back(MakeFrame(w, h, [&](std::int32_t x, std::int32_t y) {
            TRgb c = base(x, y);
            if ((x == 4 && y == 3) || (x == 11 && y == 8))
                c[1] ^= 1;
            return c;
        }));
        images.push_back(images.back()); // unchanged: one pixel
        std::vector<TDIB> alpha(3);
        // Frame 3 only changes alpha, in the bottom-right corner.
        images.push_back(images.back());
        alpha.push_back(MakeAlpha(w, h, [&](std::int32_t x, std::int32_t y) {
            return static_cast<std::uint8_t>(x == w - 1 && y == h - 1 ? 77 : 255);
        }));
        TAnimationFrames frames;
        frames.Frames = images;
        frames.Alpha = alpha;
        const apng_test::TAPNG png = ExpectRoundTrip(frames);
        ASSERT_EQ(png.Controls.size(), 4u);
        const auto rect = [&](std::size_t i) {
            const auto& c = png.Controls[i];
            return std::vector<std::uint32_t> { c.X, c.Y, c.Width, c.Height };
        };
        EXPECT_EQ(rect(0), (std::vector<std::uint32_t> { 0, 0, 30, 20 }));
        EXPECT_EQ(rect(1), (std::vector<std::uint32_t> { 4, 3, 8, 6 }));
        EXPECT_EQ(rect(2), (std::vector<std::uint32_t> { 0, 0, 1, 1 }));
        EXPECT_EQ(rect(3), (std::vector<std::uint32_t> { 29, 19, 1, 1 }));
        for (const auto& control : png.Controls) {
            EXPECT_EQ(control.Dispose, 0); // none: the canvas keeps the frame
            EXPECT_EQ(control.Blend, 0); // source: the rectangle is replaced
        }

        // Whole frames when asked.
        for (const auto& control :
            ExpectRoundTrip(frames, { TPNGFilterChoice::Trial, 0, false }).Controls)
            EXPECT_EQ(control.Width * control.Height, std::uint32_t(w * h));
    }

    TEST(APNGWriter, ChunksComeInOrderWithTheirSequenceAndAStillReaderSeesFrameZero)
    {
        const auto rendered = anim_test::RenderFlagFrames(3, 48, 30, true);
        TAnimationFrames frames;
        frames.Frames = rendered.Frames;
        frames.Alpha = rendered.Alpha;
        const std::vector<std::uint8_t> file = EncodeAPNG(frames);
        // The reader checks every CRC and that sequence numbers run 0, 1, 2...
        const apng_test::TAPNG png = apng_test::ReadAPNG(file);
        EXPECT_EQ(png.Chunks,
            (std::vector<std::string> {
                "IHDR", "acTL", "fcTL", "IDAT", "fcTL", "fdAT", "fcTL", "fdAT", "IEND" }));
        EXPECT_EQ(png.ColourType, 6);

        // libspng, which knows nothing of animation, shows frame 0.
        TPicture still;
        LoadPNGPicture(file, still);
        ASSERT_EQ(still.Color.Width(), 48);
        ASSERT_EQ(still.Alpha.Width(), 48);
        for (std::int32_t y = 0; y < 30; ++y)
            for (std::int32_t x = 0; x < 48; ++x) {
                ASSERT_EQ(still.Color.Pixel(x, y), rendered.Frames[0].Pixel(x, y));
                ASSERT_EQ(still.Alpha.Pixel(x, y), rendered.Alpha[0].Pixel(x, y));
            }
    }

    TEST(APNGWriter, EveryDamagedByteIsCaughtByTheChunkChecks)
    {
        const std::vector<TDIB> images = NoisyFrames(2, 8, 4);
        TAnimationFrames frames;
        frames.Frames = images;
        const std::vector<std::uint8_t> file = EncodeAPNG(frames);
        ASSERT_NO_THROW(apng_test::ReadAPNG(file));
        // Past the signature every byte belongs to a chunk's length, type,
        // data or CRC; flipping any one bit must be noticed.
        for (std::size_t i = 8; i < file.size(); ++i) {
            std::vector<std::uint8_t> damaged = file;
            damaged[i] ^= 0x10;
            EXPECT_ANY_THROW(apng_test::ReadAPNG(damaged)) << "byte " << i;
        }
    }

} // namespace
} // namespace zx
