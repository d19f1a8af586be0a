// The size fit: the search on a format whose sizes are known in advance, and
// the GIF's fit on waved pictures, judged by the limit and by giflib.

#include "core/gif/GIFSizeFit.h"

#include "GIFTestUtil.h"
#include "LoadFailureTestUtil.h"
#include "WavedPictureTestUtil.h"
#include "core/Errors.h"
#include "core/gif/XGIFUnitLossy.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <tuple>

namespace zx {
namespace {

    using gif_test::GiflibDecode;
    using waved_test::TransparentOf;
    using waved_test::WavePicture;

    // A format whose file sizes follow a formula: smaller by a factor per
    // frame-size step and per colour step, falling exponentially with the
    // quality, with a ripple so that no two settings give the same size.
    // Sampled tries are off by a fixed factor, as a sample can be.
    struct TModelFormat {
        double Base = 2e6;
        double StepFactor = 0.8;
        double ColourFactor = 0.9;
        double QualitySlope = 0.006;
        double SampleBias = 1.0;
        // How far the format's shape of the loss is off the sizes' (1: not).
        double ShapeScale = 1.0;
        std::int32_t Steps = 20;
        // Any loss at all takes this share off and more loss little more,
        // as on a picture whose few colours leave the loss little to take.
        double Cliff = 0;
        std::int32_t CliffAt = 1;
        // How fast the size falls with more loss after the step.
        double PastTheCliff = 0.0002;
        // The fewest colours make the file this much smaller again, as the
        // last bits do on a flag.
        double LastColours = 1.0;
        std::atomic<int> Calls { 0 };
        // Told of every try: its knobs, whether sampled, its size.
        std::function<void(const TFitKnobs&, bool, std::uint64_t)> Seen;

        std::uint64_t Size(const TFitKnobs& k) const
        {
            const double ripple = 1 + 0.003 * std::sin(k.Quality * 1.7 + k.Colours);
            const double loss = Cliff > 0
                ? (k.Quality >= CliffAt ? 1 - Cliff : 1.0) * std::exp(-PastTheCliff * k.Quality)
                : std::exp(-QualitySlope * k.Quality);
            return std::uint64_t(Base * std::pow(StepFactor, k.Step)
                * std::pow(ColourFactor, 8 - k.Colours) * (k.Colours == 3 ? LastColours : 1.0)
                * loss * ripple);
        }

        TFitFormat Format(std::int32_t quality = 0, std::int32_t colours = 8)
        {
            TFitFormat format;
            format.QualityFirst = quality;
            format.QualityLast = 200;
            format.ColoursFirst = colours;
            format.ColoursLast = 3;
            format.Steps = Steps;
            format.CanSample = true;
            format.Encode = [this](const TFitKnobs& knobs, bool sampled, unsigned) {
                ++Calls;
                TFitTry result;
                if (sampled)
                    result.Size = std::uint64_t(double(Size(knobs)) * SampleBias);
                else
                    result.File.assign(Size(knobs), 0x5A);
                result.Size = sampled ? result.Size : result.File.size();
                if (Seen)
                    Seen(knobs, sampled, result.Size);
                return result;
            };
            format.Describe = [](const TFitKnobs& k) {
                return "q" + std::to_string(k.Quality) + " c" + std::to_string(k.Colours) + " s"
                    + std::to_string(k.Step);
            };
            format.Shape = [this](std::int32_t q) { return -QualitySlope * ShapeScale * q; };
            format.SmallestQualityShare = std::exp(-QualitySlope * 200) * 0.9;
            format.SmallestColourShare = std::pow(ColourFactor, 5) * 0.9 * LastColours;
            return format;
        }

        // The first knobs in the search's order whose size is at most limit.
        std::tuple<std::int32_t, std::int32_t, std::int32_t> FirstFitting(
            std::uint64_t limit, std::int32_t quality = 0) const
        {
            for (std::int32_t s = 0; s < Steps; ++s)
                for (std::int32_t c = 8; c >= 3; --c)
                    for (std::int32_t q = quality; q <= 200; ++q)
                        if (Size({ q, c, s }) <= limit)
                            return { s, 8 - c, q };
            return { Steps, 0, 0 };
        }
    };

    // Fits the model to limits from first, each one factor times the last,
    // up to end: every file within its limit, filling at least fill of it,
    // in at most mostTries tries, and check holds. Returns the average tries.
    double SweepLimits(TModelFormat& model, double first, double end, double factor, double fill,
        std::int32_t mostTries, const std::function<void(const TFitResult&)>& check = {})
    {
        std::int32_t tries = 0;
        std::int32_t fits = 0;
        for (double limit = first; factor > 1 ? limit < end : limit > end; limit *= factor) {
            SCOPED_TRACE(testing::Message() << "limit " << limit);
            const TFitResult result = FitToSize(model.Format(), std::uint64_t(limit));
            EXPECT_LE(result.File.size(), limit);
            EXPECT_GE(result.File.size(), fill * limit) << result.Description;
            EXPECT_LE(result.Encodes, mostTries) << result.Description;
            if (check)
                check(result);
            tries += result.Encodes;
            ++fits;
        }
        return double(tries) / double(std::max(fits, 1));
    }

    TEST(FitToSize, StaysWithinTheLimitAndComesClose)
    {
        for (const double bias : { 1.0, 1.015, 0.985 }) {
            TModelFormat model;
            model.SampleBias = bias;
            const std::uint64_t smallest = model.Size({ 200, 3, model.Steps - 1 });
            for (const double limit :
                { 1.9e6, 1.2e6, 6e5, 4e5, 3e5, 1e5, 3e4, 1e4, double(smallest) * 1.01 }) {
                SCOPED_TRACE(testing::Message() << "bias " << bias << " limit " << limit);
                const TFitResult result
                    = FitToSize(model.Format(), static_cast<std::uint64_t>(limit));
                EXPECT_LE(result.File.size(), limit);
                EXPECT_GE(result.File.size(), 0.9 * limit);
                EXPECT_LE(result.Encodes, 8);
                EXPECT_EQ(result.Knobs.Step < model.Steps, true);
            }
        }
    }

    TEST(FitToSize, TakesTheFirstSettingsThatFitInTheKnobsOrder)
    {
        TModelFormat model;
        for (const double limit : { 1.5e6, 5.5e5, 3.1e5, 2.3e5, 9e4, 2e4 }) {
            SCOPED_TRACE(testing::Message() << "limit " << limit);
            const TFitResult result = FitToSize(model.Format(), std::uint64_t(limit));
            const auto chosen = std::make_tuple(
                result.Knobs.Step, 8 - result.Knobs.Colours, result.Knobs.Quality);
            // An estimate within the search's margin of the limit may count as
            // too large, so the frame size and colours lie between those of
            // the first settings that fit and the first that fit 1.5 % below
            // the limit; the quality search stops once it is within 10 %.
            const auto first = model.FirstFitting(std::uint64_t(limit));
            const auto margin = model.FirstFitting(std::uint64_t(limit * 0.985));
            EXPECT_GE(chosen, first);
            EXPECT_LE(std::make_pair(std::get<0>(chosen), std::get<1>(chosen)),
                std::make_pair(std::get<0>(margin), std::get<1>(margin)));
            EXPECT_GE(result.File.size(), 0.9 * limit);
        }
    }

    TEST(FitToSize, SearchesFrameSizeAndColoursInFewTries)
    {
        // At the most loss the colours take little off and the frame size
        // the rest, as on pictures with detail: limits below what the loss
        // and the colours reach at the first frame size turn both. A try
        // that closes a bracket and fits is the file, so the ones the model
        // expects to fit are coded whole, and a bracket is halved only
        // after the model missed.
        TModelFormat model;
        model.StepFactor = 0.86;
        model.ColourFactor = 0.975;
        const double tries = SweepLimits(model, 3.3e5, 5.3e5, 1.013, 0.9, 9,
            [](const TFitResult& result) { EXPECT_GT(result.Knobs.Step, 0); });
        EXPECT_LE(tries, 7);
    }

    TEST(FitToSize, FindsTheEdgeOfAFlatQualityRange)
    {
        // Every loss gives about the same size, far below none and a little
        // below the share of the limit that ends a search at once: the
        // least loss is the answer, and tries crawling along the flat range
        // to it would run past the tries a fit may take.
        TModelFormat model;
        model.Cliff = 0.4;
        const TFitResult result = FitToSize(model.Format(), 1'326'000);
        EXPECT_EQ(result.Knobs, (TFitKnobs { 1, 8, 0 })) << result.Description;
        EXPECT_LE(result.Encodes, 6) << result.Description;

        // The same, the step further along: the least loss does not fit,
        // and the search must not walk from there one level at a time.
        model.CliffAt = 60;
        const TFitResult further = FitToSize(model.Format(), 1'326'000);
        EXPECT_EQ(further.Knobs, (TFitKnobs { 60, 8, 0 })) << further.Description;
        EXPECT_LE(further.Encodes, 12) << further.Description;
    }

    TEST(FitToSize, StepsAroundACliffWithSmallerFrames)
    {
        // The first settings in the order that fit leave much of the limit
        // unused, because the sizes fall by a step there; the setting before
        // them fits at a smaller frame size and gives the larger file.
        TModelFormat model;
        model.QualitySlope = 0.001;
        model.LastColours = 0.5;
        // The fewest colours without loss: 590 000 bytes, 74 % of the limit;
        // one colour setting more at the most loss is too large at full
        // size.
        const TFitResult colours = FitToSize(model.Format(), 800'000);
        EXPECT_LE(colours.File.size(), 800'000u);
        EXPECT_GE(colours.File.size(), 0.9 * 800'000) << colours.Description;
        EXPECT_EQ(colours.Knobs.Colours, 4) << colours.Description;
        EXPECT_GT(colours.Knobs.Step, 0) << colours.Description;
        EXPECT_LE(colours.Encodes, 12) << colours.Description;

        // The first loss takes 40 % off: with it the file fills 80 % of the
        // limit, without it the frames two steps smaller fill 85 %.
        TModelFormat cliff;
        cliff.Cliff = 0.4;
        const TFitResult loss = FitToSize(cliff.Format(), 1'500'000);
        EXPECT_EQ(loss.Knobs, (TFitKnobs { 0, 8, 2 })) << loss.Description;
        EXPECT_LE(loss.File.size(), 1'500'000u);
        EXPECT_LE(loss.Encodes, 12) << loss.Description;
    }

    TEST(FitToSize, CodesWholeAGuessThatTwoTriesPutInTheWindow)
    {
        // The shape the format gives is off the sizes, as a real format's
        // is: the first guess of the loss misses, the second, drawn through
        // two tries, lands below the limit and is the file, so it is coded
        // whole at once rather than sampled first.
        for (const double scale : { 0.6, 0.8, 1.25, 1.6 }) {
            SCOPED_TRACE(testing::Message() << "scale " << scale);
            TModelFormat model;
            model.ShapeScale = scale;
            const double tries = SweepLimits(model, 1.9e6, 6.2e5, 0.97, 0.9, 4,
                [](const TFitResult& result) { EXPECT_EQ(result.Knobs.Colours, 8); });
            EXPECT_LE(tries, 3.1);
        }
    }

    TEST(FitToSize, TriesTheFirstLossWhereTheSizesDropThere)
    {
        // The first loss takes 30 to 50 % off and more loss less than the
        // format's shape says, as on a dark picture: a first guess along the
        // shape lands far below the limit, and a model through it and no
        // loss puts the next ones among levels of about the same size. On
        // limits from below the lossy sizes to above the lossless one, the
        // search tries the first level and finds the step in few tries.
        // Frame-size steps a fifth apart leave up to a quarter below the
        // limit where the step is stepped around.
        for (const double past : { 0.002, 0.005, 0.01 }) {
            for (const double step : { 0.3, 0.4, 0.5 }) {
                SCOPED_TRACE(testing::Message() << "step " << step << " past " << past);
                TModelFormat model;
                model.Cliff = step;
                model.PastTheCliff = past;
                EXPECT_LE(SweepLimits(model, 1.0e6, 2.0e6, 1.02, 0.75, 9), 7);
            }
        }
    }

    TEST(FitToSize, SpendsWholeTriesWhereTheyMayBeTheFile)
    {
        // Colours that take nothing off at the most loss (a flag of a few
        // colours), samples short: the file is at the second frame size,
        // and whole tries the samples put within the limit miss.
        TModelFormat flat;
        flat.ColourFactor = 1.0;
        flat.SampleBias = 0.95;
        std::atomic<std::int32_t> whole { 0 };
        flat.Seen = [&](const TFitKnobs&, bool sampled, std::uint64_t) { whole += !sampled; };
        for (double limit = 4.9e5; limit < 5.9e5; limit *= 1.04) {
            TFitFormat format = flat.Format();
            format.SmallestColourShare = 0.4;
            whole = 0;
            const TFitResult result = FitToSize(format, std::uint64_t(limit));
            EXPECT_EQ(result.Knobs.Step, 1) << result.Description;
            EXPECT_LE(whole.load(), 3) << result.Description;
        }

        // Samples 6 % short put whole tries beyond the limit, unless the
        // format says so up front.
        TModelFormat shortSamples;
        shortSamples.SampleBias = 1 / 1.06;
        for (const double correction : { 1.0, 1.06 }) {
            std::atomic<std::int32_t> missed { 0 };
            for (double limit = 3e5; limit < 1.9e6; limit *= 1.1) {
                shortSamples.Seen = [&](const TFitKnobs&, bool sampled, std::uint64_t size) {
                    missed += !sampled && size > limit;
                };
                TFitFormat format = shortSamples.Format();
                format.EstimateCorrection = correction;
                const TFitResult result = FitToSize(format, std::uint64_t(limit));
                EXPECT_GE(result.File.size(), 0.9 * limit) << result.Description;
            }
            EXPECT_EQ(missed > 0, correction == 1.0);
        }

        // Sizes falling fast to a fitting level send the search to the
        // first level, unless the format says its first step takes off
        // little.
        TModelFormat cliff;
        cliff.Cliff = 0.4;
        cliff.PastTheCliff = 0.005;
        for (const bool mayDrop : { true, false }) {
            std::atomic<bool> firstLevel { false };
            cliff.Seen = [&](const TFitKnobs& knobs, bool, std::uint64_t) {
                if (knobs.Quality == 1)
                    firstLevel = true;
            };
            TFitFormat format = cliff.Format();
            format.FirstStepMayDrop = mayDrop;
            EXPECT_LE(FitToSize(format, 1'150'000).File.size(), 1'150'000u);
            EXPECT_EQ(firstLevel.load(), mayDrop);
        }
    }

    TEST(FitToSize, StartsFromTheSettingsAskedFor)
    {
        TModelFormat model;
        // Generous: the settings asked for, estimated on a sample, then
        // coded whole.
        TFitResult result = FitToSize(model.Format(30, 7), 4194304);
        EXPECT_EQ(result.Knobs, (TFitKnobs { 30, 7, 0 }));
        EXPECT_EQ(result.Encodes, 2);
        EXPECT_EQ(result.Description,
            "4M: q30 c7 s0, " + GroupDigits(result.File.size()) + " bytes, 2 encodes");
        // Tighter: never less loss or more colours than asked for.
        result = FitToSize(model.Format(30, 7), 600000);
        EXPECT_GE(result.Knobs.Quality, 30);
        EXPECT_LE(result.Knobs.Colours, 7);
        EXPECT_LE(result.File.size(), 600000u);
    }

    TEST(FitToSize, NamesTheSmallestSizeWhenNothingFits)
    {
        TModelFormat model;
        const std::uint64_t smallest = model.Size({ 200, 3, model.Steps - 1 });
        try {
            FitToSize(model.Format(), smallest - 1);
            FAIL() << "no ESizeLimit";
        } catch (const ESizeLimit& e) {
            EXPECT_EQ(e.Smallest(), smallest);
            EXPECT_NE(
                std::string(e.what()).find(GroupDigits(smallest) + " bytes"), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find("q200 c3 s19"), std::string::npos) << e.what();
        }
        EXPECT_THROW(FitToSize(model.Format(), 0), std::invalid_argument);
    }

    TEST(FitToSize, GivesTheSameResultOnAnyNumberOfThreads)
    {
        TModelFormat model;
        model.SampleBias = 1.01;
        for (const std::uint64_t limit : { 700000u, 250000u, 40000u }) {
            const TFitResult one = FitToSize(model.Format(), limit, 1);
            const TFitResult four = FitToSize(model.Format(), limit, 4);
            EXPECT_EQ(one.Knobs, four.Knobs);
            EXPECT_EQ(one.Encodes, four.Encodes);
            EXPECT_EQ(one.File, four.File);
        }
    }

    TEST(FitToSize, CountsItsTriesAsTheyStart)
    {
        TModelFormat model;
        TFitFormat format = model.Format();
        std::vector<std::int32_t> heard;
        // Each round is told before its tries are coded.
        format.Trying = [&](std::int32_t first) {
            heard.push_back(first);
            EXPECT_EQ(model.Calls.load(), first - 1);
        };
        const TFitResult result = FitToSize(format, 250000, 1);
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard.front(), 1);
        EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
        EXPECT_EQ(std::adjacent_find(heard.begin(), heard.end()), heard.end());
        EXPECT_LE(heard.back(), result.Encodes);
        EXPECT_EQ(model.Calls.load(), result.Encodes);
    }

    TEST(FitToSize, PassesTheEncodersFailureOn)
    {
        TModelFormat model;
        TFitFormat format = model.Format();
        format.Encode = [](const TFitKnobs&, bool, unsigned) -> TFitTry {
            throw std::runtime_error("disk full");
        };
        EXPECT_THROW(FitToSize(format, 1000), std::runtime_error);
    }

    TEST(FitSizes, WriteBytesAsTheOptionsDo)
    {
        EXPECT_EQ(FormatSizeLimit(262144), "256K");
        EXPECT_EQ(FormatSizeLimit(8388608), "8M");
        EXPECT_EQ(FormatSizeLimit(1000), "1000");
        EXPECT_EQ(FormatSizeLimit(1536), "1536");
        EXPECT_EQ(FormatSizeLimit(1572864), "1536K");
        EXPECT_EQ(GroupDigits(251904), "251 904");
        EXPECT_EQ(GroupDigits(1159273), "1 159 273");
        EXPECT_EQ(GroupDigits(999), "999");
        EXPECT_EQ(GroupDigits(0), "0");
    }

    TEST(FitFrameSizes, KeepTheProportionsDownToSixteenPixels)
    {
        const auto sizes = FitFrameSizes(320, 200);
        ASSERT_GT(sizes.size(), 10u);
        EXPECT_EQ(sizes[0], (std::array<std::int32_t, 2> { 320, 200 }));
        EXPECT_EQ(sizes[1], (std::array<std::int32_t, 2> { 288, 180 }));
        for (std::size_t i = 1; i < sizes.size(); ++i) {
            EXPECT_LT(sizes[i][0] * sizes[i][1], sizes[i - 1][0] * sizes[i - 1][1]);
            EXPECT_NEAR(double(sizes[i][0]) / sizes[i][1], 1.6, 0.1);
            EXPECT_GE(sizes[i][1], 16);
        }
        EXPECT_LT(sizes.back()[1] * 0.9, 16.5);
        EXPECT_EQ(FitFrameSizes(16, 16).size(), 1u);
    }

    TEST(ScaleFitFrames, AveragesBoxesAndKeepsTheBackgroundApart)
    {
        TFitFrames frames;
        TDIB frame;
        frame.SetSize(4, 2, 24);
        TDIB mask;
        mask.SetSize(4, 2, 8);
        // Left box: four flag pixels (blue 0, 40, 80, 120). Right box: three
        // background pixels and one flag pixel, so it becomes background.
        const std::uint8_t blue[2][4] = { { 0, 40, 200, 200 }, { 80, 120, 200, 10 } };
        const std::uint8_t background[2][4] = { { 0, 0, 255, 255 }, { 0, 0, 255, 0 } };
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 4; ++x) {
                frame.ScanLine(y)[3 * x] = blue[y][x];
                frame.ScanLine(y)[3 * x + 1] = 7;
                frame.ScanLine(y)[3 * x + 2] = 9;
                mask.ScanLine(y)[x] = background[y][x];
            }
        }
        frames.Frames.push_back(frame);
        frames.Masks.push_back(mask);
        frames.Transparent[0] = true;
        const TFitFrames scaled = ScaleFitFrames(frames, 2, 1);
        ASSERT_EQ(scaled.Frames.size(), 1u);
        EXPECT_EQ(scaled.Frames[0].Width(), 2);
        EXPECT_EQ(scaled.Frames[0].ConstScanLine(0)[0], 60); // (0 + 40 + 80 + 120) / 4
        EXPECT_EQ(scaled.Frames[0].ConstScanLine(0)[1], 7);
        EXPECT_EQ(scaled.Masks[0].ConstScanLine(0)[0], 0);
        EXPECT_EQ(scaled.Masks[0].ConstScanLine(0)[1], 255);
        EXPECT_TRUE(scaled.Transparent[0]);
        EXPECT_THROW(ScaleFitFrames(frames, 5, 1), EInvalidGraphicOperation);
    }

    TEST(ScaleFitFrames, ManyFramesAtOnceAreEachFrameScaledAlone)
    {
        // Frames are scaled side by side: each comes out as it does alone,
        // its mask and transparency with it, and one frame too small for the
        // size refuses the whole call.
        std::mt19937 random(5);
        TFitFrames frames;
        for (std::size_t i = 0; i < 9; ++i) {
            TDIB frame, mask;
            frame.SetSize(37, 23, 24);
            mask.SetSize(37, 23, 8);
            for (std::int32_t y = 0; y < 23; ++y)
                for (std::int32_t x = 0; x < 37; ++x) {
                    for (int c = 0; c < 3; ++c)
                        frame.ScanLine(y)[3 * x + c] = std::uint8_t(random());
                    mask.ScanLine(y)[x] = x < std::int32_t(3 * i) ? 255 : 0;
                }
            frames.Frames.push_back(frame);
            frames.Masks.push_back(i % 3 == 0 ? TDIB() : mask);
            frames.Transparent[i] = i % 2 == 0;
        }
        const TFitFrames all = ScaleFitFrames(frames, 13, 8);
        for (std::size_t i = 0; i < 9; ++i) {
            TFitFrames one;
            one.Frames = { frames.Frames[i] };
            one.Masks = { frames.Masks[i] };
            one.Transparent[0] = frames.Transparent[i];
            const TFitFrames alone = ScaleFitFrames(one, 13, 8);
            EXPECT_EQ(load_test::AllRows(all.Frames[i]), load_test::AllRows(alone.Frames[0])) << i;
            EXPECT_EQ(load_test::AllRows(all.Masks[i]), load_test::AllRows(alone.Masks[0])) << i;
            EXPECT_EQ(all.Transparent[i], alone.Transparent[0]) << i;
        }
        frames.Frames[6].SetSize(12, 23, 24);
        EXPECT_THROW(ScaleFitFrames(frames, 13, 8), EInvalidGraphicOperation);
    }

    struct TGifFitCase {
        TFitFrames Frames;
        TExportOptions Options;

        explicit TGifFitCase(const char* picture)
            : Frames(WavePicture(picture, 16, 80, 50))
        {
            Options.Frames = 16;
        }

        std::vector<std::uint8_t> Plain() const
        {
            const TExportPalette palette
                = BuildExportPalette(Frames.Frames, Frames.Masks, TransparentOf(Frames), Options);
            TGIFImage gif;
            BuildGifFrames(
                gif, Frames.Frames, Frames.Masks, TransparentOf(Frames), Options, palette);
            return gif.SaveToBytes();
        }
    };

    TEST(FitGifToSize, NeverWritesMoreThanTheLimit)
    {
        for (const char* picture : { "photo-cat.png", "flag-br.png", "gradient-sky.png" }) {
            const TGifFitCase fit(picture);
            const std::vector<std::uint8_t> plain = fit.Plain();
            TSizeOptions size;
            // Generous: the file as without a limit.
            size.MaxSize = plain.size();
            TFitResult result = FitGifToSize(fit.Frames, fit.Options, size);
            EXPECT_EQ(result.File, plain);
            EXPECT_EQ(result.Encodes, 2);

            // The smallest file there is, and limits just above it and between.
            size.MaxSize = 1;
            std::uint64_t smallest = 0;
            try {
                FitGifToSize(fit.Frames, fit.Options, size);
                ADD_FAILURE() << "1 byte fits";
            } catch (const ESizeLimit& e) {
                smallest = e.Smallest();
            }
            ASSERT_GT(smallest, 0u);
            for (const std::uint64_t limit : { smallest, smallest + smallest / 50, plain.size() / 5,
                     plain.size() / 2, plain.size() * 9 / 10 }) {
                SCOPED_TRACE(testing::Message() << picture << " limit " << limit);
                size.MaxSize = limit;
                result = FitGifToSize(fit.Frames, fit.Options, size);
                EXPECT_LE(result.File.size(), limit);
                const auto decoded = GiflibDecode(result.File);
                EXPECT_EQ(decoded.Frames.size(), 16u);
                if (limit >= plain.size() / 5) {
                    EXPECT_GE(double(result.File.size()), 0.8 * double(limit));
                }
            }
        }
    }

    TEST(FitGifToSize, WritesTheExportAtTheKnobsItChose)
    {
        // The whole try reuses the frames a sampled try at the same knobs
        // reduced; the file must be the one an export at those knobs writes.
        for (const TExportQuality quality : { TExportQuality::Standard, TExportQuality::High }) {
            TGifFitCase fit("photo-cat.png");
            fit.Options.Quality = quality;
            for (const std::uint64_t share : { 2, 4 }) {
                TSizeOptions size;
                size.MaxSize = fit.Plain().size() / share;
                const TFitResult result = FitGifToSize(fit.Frames, fit.Options, size);
                SCOPED_TRACE(result.Description);
                ASSERT_EQ(result.Knobs.Step, 0);
                TExportOptions options = fit.Options;
                options.GIFBits = result.Knobs.Colours;
                const TExportPalette palette = BuildExportPalette(
                    fit.Frames.Frames, fit.Frames.Masks, TransparentOf(fit.Frames), options);
                TGIFImage gif;
                BuildGifFrames(gif, fit.Frames.Frames, fit.Frames.Masks, TransparentOf(fit.Frames),
                    options, palette, result.Knobs.Quality);
                EXPECT_EQ(result.File, gif.SaveToBytes());
            }
        }
    }

    // PSNR over R, G and B of the decoded frames against the frames, the
    // background of transparent frames left out.
    double DecodedPSNR(const std::vector<std::uint8_t>& file, const TFitFrames& frames)
    {
        const auto decoded = GiflibDecode(file);
        double squares = 0;
        std::uint64_t count = 0;
        for (std::size_t i = 0; i < frames.Frames.size(); ++i) {
            const TDIB& frame = frames.Frames[i];
            const auto& out = decoded.Frames.at(i);
            for (std::int32_t y = 0; y < frame.Height(); ++y) {
                const std::uint8_t* bgr = frame.ConstScanLine(y);
                const std::uint8_t* mask
                    = frames.Transparent[i] ? frames.Masks[i].ConstScanLine(y) : nullptr;
                for (std::int32_t x = 0; x < frame.Width(); ++x) {
                    if (mask && mask[x] == 255)
                        continue;
                    const std::uint8_t index = out.Pixels[std::size_t(y) * out.Width + x];
                    const TGIFColor c = out.Colours.at(index);
                    const int d[3]
                        = { c.Blue - bgr[3 * x], c.Green - bgr[3 * x + 1], c.Red - bgr[3 * x + 2] };
                    squares += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
                    count += 3;
                }
            }
        }
        return 10 * std::log10(255.0 * 255.0 * double(count) / std::max(squares, 1.0));
    }

    TEST(FitGifToSize, SmallerFramesShowThePicture)
    {
        // A fit down to a smaller frame size must still be the animation:
        // its frames near the frames scaled to that size, at any colours
        // and loss the search settles on there.
        for (const char* picture : { "flag-br.png", "photo-cat.png", "own-flag-cross.png" }) {
            const TGifFitCase fit(picture);
            const std::uint64_t plain = fit.Plain().size();
            for (const std::uint64_t share : { 4, 5, 7, 10 }) {
                TSizeOptions size;
                size.MaxSize = plain / share;
                TFitResult result;
                try {
                    result = FitGifToSize(fit.Frames, fit.Options, size);
                } catch (const ESizeLimit&) {
                    continue;
                }
                SCOPED_TRACE(testing::Message() << picture << " " << result.Description);
                if (result.Knobs.Step == 0)
                    continue;
                const auto decoded = GiflibDecode(result.File);
                const TFitFrames scaled = ScaleFitFrames(fit.Frames, decoded.Width, decoded.Height);
                EXPECT_GT(DecodedPSNR(result.File, scaled), 18.0);
            }
        }
    }

    TEST(FitGifToSize, ReportsWhatItChose)
    {
        const TGifFitCase fit("photo-cat.png");
        TSizeOptions size;
        size.MaxSize = fit.Plain().size() / 2;
        const TFitResult result = FitGifToSize(fit.Frames, fit.Options, size);
        // "N: --lossy L[ --bits B][ --size WxH], S bytes, E encodes"
        const std::string expected_start
            = std::to_string(size.MaxSize) + ": --lossy " + std::to_string(result.Knobs.Quality);
        EXPECT_EQ(result.Description.rfind(expected_start, 0), 0u) << result.Description;
        EXPECT_NE(result.Description.find(GroupDigits(result.File.size()) + " bytes, "
                      + std::to_string(result.Encodes) + " encodes"),
            std::string::npos)
            << result.Description;
        EXPECT_GT(result.Knobs.Quality, 0);
    }

    TEST(FitGifToSize, AsksTheRendererForSmallerFrames)
    {
        const TGifFitCase fit("flag-br.png");
        std::vector<std::array<std::int32_t, 2>> asked;
        const TFitRender render = [&](std::int32_t w, std::int32_t h) {
            asked.push_back({ w, h });
            return WavePicture("flag-br.png", 16, w, h);
        };
        TSizeOptions size;
        size.MaxSize = fit.Plain().size() / 8;
        const TFitResult result = FitGifToSize(fit.Frames, fit.Options, size, render);
        EXPECT_LE(result.File.size(), size.MaxSize);
        ASSERT_GT(result.Knobs.Step, 0);
        const auto sizes = FitFrameSizes(80, 50);
        EXPECT_NE(std::find(asked.begin(), asked.end(), sizes[std::size_t(result.Knobs.Step)]),
            asked.end());
        const auto decoded = GiflibDecode(result.File);
        EXPECT_EQ(decoded.Width, sizes[std::size_t(result.Knobs.Step)][0]);
    }

    TEST(FitGifToSize, RefusesBadOptions)
    {
        const TGifFitCase fit("flag-br.png");
        TSizeOptions size;
        EXPECT_THROW(FitGifToSize(fit.Frames, fit.Options, size), EInvalidGraphicOperation);
        size.MaxSize = 1000;
        size.Lossy = 300;
        EXPECT_THROW(FitGifToSize(fit.Frames, fit.Options, size), EInvalidGraphicOperation);
        size.Lossy = 0;
        TExportOptions options = fit.Options;
        options.Frames = 3;
        EXPECT_THROW(FitGifToSize(fit.Frames, options, size), EInvalidGraphicOperation);
    }

} // namespace
} // namespace zx
