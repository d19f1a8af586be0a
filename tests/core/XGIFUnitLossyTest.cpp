// Lossy GIF coding: the string table against the real LZW coder, the lossy
// export against giflib, its sizes along the levels, and its bad input.

#include "core/gif/XGIFUnitLossy.h"

#include "GIFTestUtil.h"
#include "WavedPictureTestUtil.h"
#include "core/Errors.h"
#include "core/gif/GIFExport.h"
#include "core/gif/XGIFUnitLZW.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <vector>

namespace zx {
namespace {

    using gif_test::GiflibDecode;
    using waved_test::TransparentOf;
    using waved_test::WavePicture;

    // Pixel streams that meet long strings, noise and several table resets;
    // mode 0 is noise, else a random kind.
    std::vector<std::uint8_t> TestPixels(
        std::mt19937& random, std::size_t count, int colours, int mode = -1)
    {
        std::vector<std::uint8_t> pixels(count);
        if (mode < 0)
            mode = static_cast<int>(random() % 3);
        for (std::size_t i = 0; i < count; ++i) {
            if (mode == 0)
                pixels[i] = static_cast<std::uint8_t>(random() % unsigned(colours));
            else if (mode == 1)
                pixels[i] = static_cast<std::uint8_t>(
                    (i / 9 + (random() % 7 == 0 ? 1 : 0)) % unsigned(colours));
            else
                pixels[i] = static_cast<std::uint8_t>((i * i / 17) % unsigned(colours));
        }
        return pixels;
    }

    TEST(TLzwStringTable, CountsTheBytesTheWriterCodes)
    {
        // The writer is the judge: the same pixels through the real encoder.
        std::mt19937 random(23);
        const std::size_t counts[] = { 1, 2, 3, 4, 255, 256, 5000, 40000, 120000 };
        for (std::int32_t codeSize = 2; codeSize <= 8; ++codeSize) {
            for (const std::size_t count : counts) {
                const std::vector<std::uint8_t> pixels
                    = TestPixels(random, count, std::min(1 << codeSize, 256));
                SCOPED_TRACE(testing::Message() << "code size " << codeSize << ", " << count);
                TLzwStringTable table(codeSize);
                for (const std::uint8_t pixel : pixels)
                    table.Push(pixel);
                std::vector<std::uint8_t> coded;
                TLZWEncoder::Encode(pixels, codeSize, 1 << codeSize, coded);
                EXPECT_EQ(table.DataBytes(), coded.size());
                // Started again, it counts the same.
                table.Start();
                for (const std::uint8_t pixel : pixels)
                    table.Push(pixel);
                EXPECT_EQ(table.DataBytes(), coded.size());
            }
        }
    }

    TEST(TLzwStringTable, ListsExactlyTheSymbolsThatContinueTheString)
    {
        std::mt19937 random(5);
        const std::vector<std::uint8_t> pixels = TestPixels(random, 30000, 16, 0);
        TLzwStringTable table(4);
        std::uint32_t generation = table.Generation();
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            table.Push(pixels[i]);
            if (i % 97 != 0)
                continue;
            std::set<std::int32_t> listed;
            for (std::int32_t node = table.FirstChild(table.String()); node >= 0;
                 node = table.NextSibling(node)) {
                EXPECT_TRUE(listed.insert(table.Symbol(node)).second);
                EXPECT_EQ(table.Parent(node), table.String());
                EXPECT_EQ(table.Find(table.Symbol(node)), node);
            }
            for (std::int32_t symbol = 0; symbol < 16; ++symbol)
                EXPECT_EQ(table.Find(symbol) >= 0, listed.count(symbol) == 1);
            generation = table.Generation();
        }
        // 30 000 noisy pixels fill the 4 096 codes several times over.
        EXPECT_GT(generation, 2u);
    }

    TEST(TLzwStringTable, KnowsHowFarTheLongestStringGoes)
    {
        // 0 0 0 0 0 0 teaches 0-0, 0-0-0 and 0-0-0-0 (one after the other).
        TLzwStringTable table(2);
        for (int i = 0; i < 10; ++i)
            table.Push(0);
        EXPECT_EQ(table.Height(0), 3);
        const std::int32_t twice = table.FirstChild(0);
        ASSERT_GE(twice, 0);
        EXPECT_EQ(table.Height(twice), 2);
        EXPECT_EQ(table.Height(1), 0);
    }

    TEST(XGIFUnitLossy, EntriesOfOneColourStandForTheFirst)
    {
        TColorPalette palette(5);
        palette[0] = { 10, 20, 30, 0 };
        palette[1] = { 1, 2, 3, 0 };
        palette[2] = { 10, 20, 30, 0 };
        palette[3] = { 1, 2, 3, 0 };
        palette[4] = { 1, 2, 4, 0 };
        const auto canonical = CanonicalEntries(palette);
        EXPECT_EQ(canonical[0], 0);
        EXPECT_EQ(canonical[1], 1);
        EXPECT_EQ(canonical[2], 0);
        EXPECT_EQ(canonical[3], 1);
        EXPECT_EQ(canonical[4], 4);
    }

    struct TLossyExport {
        TFitFrames Frames;
        TExportOptions Options;
        TExportPalette Palette;

        TLossyExport(const char* picture, std::int32_t bits = 8, std::int32_t frames = 4,
            TExportQuality quality = TExportQuality::Standard)
            : Frames(WavePicture(picture, frames, 96, 60))
        {
            Options.Frames = frames;
            Options.GIFBits = bits;
            Options.Quality = quality;
            Palette
                = BuildExportPalette(Frames.Frames, Frames.Masks, TransparentOf(Frames), Options);
        }

        std::vector<std::uint8_t> Encode(std::int32_t lossy, unsigned threads = 0) const
        {
            TGIFImage gif;
            AddExportFrames(gif,
                ReduceExportFrames(Frames.Frames, Frames.Masks, TransparentOf(Frames), Options,
                    Palette, lossy, threads),
                TransparentOf(Frames), Options, Palette);
            return gif.SaveToBytes();
        }
    };

    constexpr TExportQuality kLevels[] = { TExportQuality::Standard, TExportQuality::High };

    TEST(XGIFUnitLossy, LevelZeroIsTheLosslessFile)
    {
        for (const TExportQuality quality : kLevels) {
            const TLossyExport cat("photo-cat.png", 8, 4, quality);
            TGIFImage plain;
            BuildGifFrames(plain, cat.Frames.Frames, cat.Frames.Masks, TransparentOf(cat.Frames),
                cat.Options, cat.Palette);
            EXPECT_EQ(cat.Encode(0), plain.SaveToBytes());
        }
    }

    TEST(XGIFUnitLossy, GiflibSeesOnlyPaletteColoursAndTheBackgroundTransparent)
    {
        for (const char* picture : { "photo-cat.png", "flag-br.png" }) {
            for (const auto& [bits, quality] : { std::pair { 8, TExportQuality::Standard },
                     std::pair { 4, TExportQuality::Standard },
                     std::pair { 8, TExportQuality::High },
                     std::pair { 4, TExportQuality::High } }) {
                const TLossyExport frames(picture, bits, 4, quality);
                std::set<std::uint32_t> palette;
                for (const TPaletteEntry& e : frames.Palette.SharedPalette)
                    palette.insert(std::uint32_t(e.Red) << 16 | e.Green << 8 | e.Blue);
                for (const std::int32_t lossy : { 1, 60, 200 }) {
                    SCOPED_TRACE(testing::Message() << picture << " bits " << bits << " lossy "
                                                    << lossy << " level " << int(quality));
                    const auto decoded = GiflibDecode(frames.Encode(lossy));
                    ASSERT_EQ(decoded.Frames.size(), frames.Frames.Frames.size());
                    for (std::size_t i = 0; i < decoded.Frames.size(); ++i) {
                        const auto& frame = decoded.Frames[i];
                        const TDIB& mask = frames.Frames.Masks[i];
                        for (std::int32_t y = 0; y < frame.Height; ++y) {
                            for (std::int32_t x = 0; x < frame.Width; ++x) {
                                const std::uint8_t index
                                    = frame.Pixels[std::size_t(y) * frame.Width + x];
                                const bool background = frames.Frames.Transparent[i]
                                    && mask.ConstScanLine(y)[x] == 255;
                                ASSERT_EQ(index == frame.TransparentIndex, background)
                                    << "frame " << i << " at " << x << "," << y;
                                if (background)
                                    continue;
                                const TGIFColor c = frame.Colours[index];
                                ASSERT_EQ(palette.count(
                                              std::uint32_t(c.Red) << 16 | c.Green << 8 | c.Blue),
                                    1u);
                            }
                        }
                    }
                }
            }
        }
    }

    TEST(XGIFUnitLossy, FilesShrinkAsTheLevelRises)
    {
        for (const TExportQuality quality : kLevels) {
            for (const char* picture : { "photo-cat.png", "flag-br.png", "gradient-sky.png" }) {
                const TLossyExport frames(picture, 8, 4, quality);
                std::uint64_t previous = frames.Encode(0).size();
                const std::uint64_t lossless = previous;
                for (const std::int32_t lossy : { 10, 20, 40, 80, 120, 160, 200 }) {
                    const std::uint64_t size = frames.Encode(lossy).size();
                    EXPECT_LE(size, previous)
                        << picture << " at lossy " << lossy << " level " << int(quality);
                    previous = size;
                }
                // Not just a little: the heaviest level at least halves a
                // photograph's.
                if (std::string(picture) == "photo-cat.png") {
                    EXPECT_LT(previous * 2, lossless) << "level " << int(quality);
                }
            }
        }
    }

    TEST(XGIFUnitLossy, FlagsShrinkWithoutCliffs)
    {
        // Each pixel's slack is the level's, spread over half to one and a
        // half of it, the same on average and never less as the level rises.
        for (std::int32_t level = 0; level <= kLossyMax; ++level) {
            std::int64_t sum = 0;
            for (std::int32_t y = 0; y < 8; ++y) {
                for (std::int32_t x = 0; x < 8; ++x) {
                    const std::int32_t slack = LossySlackAt(level, x + 8 * level, y + 16);
                    sum += slack;
                    ASSERT_GE(2 * slack + 2, LossySlack(level)) << level;
                    ASSERT_LE(2 * slack, 3 * LossySlack(level) + 3) << level;
                    if (level > 0) {
                        ASSERT_GE(slack, LossySlackAt(level - 1, x, y + 16)) << level;
                    }
                }
            }
            // Each pixel's is rounded down, by less than 1.
            EXPECT_LE(double(sum) / 64.0, level * level / 16.0) << level;
            EXPECT_GT(double(sum) / 64.0, level * level / 16.0 - 1.0) << level;
        }
        EXPECT_EQ(LossySlackAt(0, 3, 5), 0);

        // A flag's palette holds its fields' shades a few steps apart: with
        // one slack for every pixel, the level at which it reaches that step
        // let most pixels take another shade at once and the file shrank by
        // 16 % from one even level to the next. Now no step takes more than
        // a tenth, and the levels still take off a third.
        for (const char* picture : { "flag-br.png", "own-flag-cross.png" }) {
            const TLossyExport frames(picture, 8, 8, TExportQuality::High);
            const std::uint64_t lossless = frames.Encode(0).size();
            std::uint64_t previous = lossless;
            for (std::int32_t lossy = 2; lossy <= 40; lossy += 2) {
                const std::uint64_t size = frames.Encode(lossy).size();
                EXPECT_GE(double(size), 0.9 * double(previous)) << picture << " at " << lossy;
                previous = size;
            }
            EXPECT_LT(3 * previous, 2 * lossless) << picture;
        }
    }

    TEST(XGIFUnitLossy, TheCoderCountsTheBytesTheWriterWrites)
    {
        const TLossyExport cat("photo-cat.png");
        TLossyCoding coding;
        coding.Level = 50;
        coding.CodeSize = 8;
        coding.TransparentIndex = cat.Palette.TransparentIndex;
        const TLossyFrames lossy = ReduceFramesLossy(cat.Frames.Frames, cat.Frames.Masks,
            TransparentOf(cat.Frames), cat.Palette.SharedPalette, coding);
        for (std::size_t i = 0; i < lossy.Frames.size(); ++i) {
            const TDIB& frame = lossy.Frames[i];
            std::vector<std::uint8_t> pixels;
            for (std::int32_t y = 0; y < frame.Height(); ++y)
                pixels.insert(
                    pixels.end(), frame.ConstScanLine(y), frame.ConstScanLine(y) + frame.Width());
            std::vector<std::uint8_t> coded;
            TLZWEncoder::Encode(pixels, 8, 256, coded);
            EXPECT_EQ(lossy.DataBytes[i], coded.size()) << "frame " << i;
        }
    }

    TEST(XGIFUnitLossy, TheHighLevelCountsTheBytesAndHoldsStillPixelsWithinTheSlack)
    {
        TLossyExport cat("photo-cat.png", 8, 4, TExportQuality::High);
        // The top half of every frame is the first frame's: still.
        for (std::size_t i = 1; i < cat.Frames.Frames.size(); ++i) {
            for (std::int32_t y = 0; y < cat.Frames.Frames[i].Height() / 2; ++y) {
                std::copy_n(cat.Frames.Frames[0].ConstScanLine(y), cat.Frames.Frames[0].Width() * 3,
                    cat.Frames.Frames[i].ScanLine(y));
                std::copy_n(cat.Frames.Masks[0].ConstScanLine(y), cat.Frames.Masks[0].Width(),
                    cat.Frames.Masks[i].ScanLine(y));
            }
        }
        TLossyCoding coding;
        coding.Level = 50;
        coding.CodeSize = 8;
        coding.TransparentIndex = cat.Palette.TransparentIndex;
        const TLossyFrames lossy = ReduceFramesLossyHigh(cat.Frames.Frames, cat.Frames.Masks,
            TransparentOf(cat.Frames), cat.Palette.SharedPalette, coding);
        std::size_t still = 0, same = 0;
        for (std::size_t i = 0; i < lossy.Frames.size(); ++i) {
            const TDIB& frame = lossy.Frames[i];
            std::vector<std::uint8_t> pixels;
            for (std::int32_t y = 0; y < frame.Height(); ++y)
                pixels.insert(
                    pixels.end(), frame.ConstScanLine(y), frame.ConstScanLine(y) + frame.Width());
            std::vector<std::uint8_t> coded;
            TLZWEncoder::Encode(pixels, 8, 256, coded);
            EXPECT_EQ(lossy.DataBytes[i], coded.size()) << "frame " << i;
            // A flag pixel with the colour it had in the first frame has an
            // entry within the slack of the one it had there (the lossy
            // level's flicker), most often that entry itself.
            const TDIB& source = cat.Frames.Frames[i];
            const TDIB& first = cat.Frames.Frames[0];
            for (std::int32_t y = 0; i > 0 && y < frame.Height(); ++y) {
                for (std::int32_t x = 0; x < frame.Width(); ++x) {
                    if (cat.Frames.Masks[i].ConstScanLine(y)[x] == 255
                        || cat.Frames.Masks[0].ConstScanLine(y)[x] == 255
                        || source.Pixel(x, y) != first.Pixel(x, y))
                        continue;
                    ++still;
                    const TPaletteEntry& now = cat.Palette.SharedPalette[frame.ConstScanLine(y)[x]];
                    const TPaletteEntry& then
                        = cat.Palette.SharedPalette[lossy.Frames[0].ConstScanLine(y)[x]];
                    const int dr = now.Red - then.Red, dg = now.Green - then.Green,
                              db = now.Blue - then.Blue;
                    ASSERT_LE(dr * dr + dg * dg + db * db, LossySlackAt(coding.Level, x, y))
                        << "frame " << i << " at " << x << "," << y;
                    same += frame.ConstScanLine(y)[x] == lossy.Frames[0].ConstScanLine(y)[x];
                }
            }
        }
        // The waving flag has still pixels to check.
        EXPECT_GT(still, 100u);
        EXPECT_GT(same, still / 2);
    }

    TEST(XGIFUnitLossy, TheHighLevelKeepsFieldsOfPaletteColoursBesideNoise)
    {
        // Two flat fields whose colours the palette holds, far from every
        // other entry, and a band of bright noise between them whose error
        // runs into them. Each frame moves the band, so that no pixel is
        // still and every frame codes its own.
        constexpr std::int32_t kWidth = 64, kHeight = 24;
        const TPaletteEntry red { 200, 30, 30, 0 }, blue { 30, 30, 200, 0 };
        const TColorPalette palette { red, blue, { 200, 70, 30, 0 }, { 30, 70, 200, 0 },
            { 0, 0, 0, 0 }, { 255, 255, 255, 0 }, { 120, 200, 120, 0 }, { 240, 240, 60, 0 } };
        std::mt19937 random(7);
        std::vector<TDIB> frames;
        for (std::int32_t k = 0; k < 3; ++k) {
            TDIB frame;
            frame.SetSize(kWidth, kHeight, 24);
            for (std::int32_t y = 0; y < kHeight; ++y) {
                std::uint8_t* row = frame.ScanLine(y);
                for (std::int32_t x = 0; x < kWidth; ++x) {
                    TPaletteEntry c = x < kWidth / 2 ? red : blue;
                    if (std::abs(x - 20 - 8 * k) < 3)
                        c = { std::uint8_t(random() % 2 * 255), std::uint8_t(200 + random() % 56),
                            std::uint8_t(random() % 256), 0 };
                    row[3 * x] = c.Blue;
                    row[3 * x + 1] = c.Green;
                    row[3 * x + 2] = c.Red;
                }
            }
            frames.push_back(std::move(frame));
        }
        TLossyCoding coding;
        coding.Level = 40;
        coding.CodeSize = 3;
        coding.TransparentIndex = 7;
        std::vector<char> transparent(frames.size(), 0);
        const std::span<const bool> opaque(
            reinterpret_cast<const bool*>(transparent.data()), transparent.size());
        const TLossyFrames lossy = ReduceFramesLossyHigh(frames, {}, opaque, palette, coding);
        std::size_t field = 0, noise = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            for (std::int32_t y = 0; y < kHeight; ++y) {
                const std::uint8_t* source = frames[i].ConstScanLine(y);
                for (std::int32_t x = 0; x < kWidth; ++x) {
                    const TPaletteEntry c { source[3 * x + 2], source[3 * x + 1], source[3 * x],
                        0 };
                    const std::uint8_t index = lossy.Frames[i].ConstScanLine(y)[x];
                    if (c == red || c == blue) {
                        ++field;
                        ASSERT_EQ(index, c == red ? 0 : 1)
                            << "frame " << i << " at " << x << "," << y;
                    } else {
                        ++noise;
                    }
                }
            }
        }
        EXPECT_GT(noise, 300u);
        EXPECT_GT(field, 4000u);
    }

    TEST(XGIFUnitLossy, TheResultDoesNotDependOnTheThreads)
    {
        for (const TExportQuality quality : kLevels) {
            const TLossyExport flag("flag-br.png", 8, 6, quality);
            const auto one = flag.Encode(70, 1);
            EXPECT_EQ(flag.Encode(70, 2), one);
            EXPECT_EQ(flag.Encode(70, 5), one);
        }
    }

    TEST(XGIFUnitLossy, RefusesLevelsOutOfRange)
    {
        const TLossyExport flag("flag-br.png", 8, 1);
        EXPECT_THROW(flag.Encode(-1), EInvalidGraphicOperation);
        EXPECT_THROW(flag.Encode(201), EInvalidGraphicOperation);
        TSizeOptions size;
        size.Lossy = 201;
        EXPECT_THROW(CheckSizeOptions(size), EInvalidGraphicOperation);
        size.Lossy = 200;
        EXPECT_NO_THROW(CheckSizeOptions(size));
    }

} // namespace
} // namespace zx
