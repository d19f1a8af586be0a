// The size limit of animated WebP and APNG: the scaler's arithmetic on frames
// with hard and smooth alpha, the fit never over the limit on waved pictures
// from a generous limit down to none that can be met, its files read back by
// libwebp and by the test's own APNG reader, a lossless request that stays
// lossless, and the export job's writer with its progress and cancel.

#include "core/gif/AnimationSizeFit.h"

#include "APNGTestReader.h"
#include "WavedPictureTestUtil.h"
#include "WebPTestDecoder.h"
#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/flag/FlagModel.h"
#include "core/flag/FlagSettings.h"
#include "core/imaging/DefaultImage.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace zx {
namespace {

    using waved_test::WavePicture;

    // The waved picture as the export job hands it to the writers: an alpha
    // plane of 0 off the flag and 255 on it for each frame with background.
    TExportAnimation WavedAnimation(const char* picture, std::int32_t frames = 16,
        std::int32_t width = 80, std::int32_t height = 50)
    {
        const TFitFrames waved = WavePicture(picture, frames, width, height);
        TExportAnimation animation;
        animation.Frames = waved.Frames;
        for (std::size_t i = 0; i < waved.Frames.size(); ++i) {
            TDIB alpha;
            if (waved.Transparent[i]) {
                alpha.SetSize(width, height, 8);
                for (std::int32_t y = 0; y < height; ++y)
                    for (std::int32_t x = 0; x < width; ++x)
                        alpha.ScanLine(y)[x] = waved.Masks[i].ConstScanLine(y)[x] == 255 ? 0 : 255;
            }
            animation.Alpha.push_back(std::move(alpha));
        }
        return animation;
    }

    TAnimationFit Fit(TAnimationFormat format, std::uint64_t limit, bool lossless = false)
    {
        TAnimationFit fit;
        fit.Format = format;
        fit.Delay = 5;
        fit.Loops = 0;
        fit.WebP.Lossless = lossless;
        fit.Limit = limit;
        return fit;
    }

    // Pixel x, y of frame i as straight RGBA, as the decoders give it.
    std::array<std::uint8_t, 4> Pixel(
        const TExportAnimation& animation, std::size_t i, std::int32_t x, std::int32_t y)
    {
        const std::uint8_t* bgr = animation.Frames[i].ConstScanLine(y) + 3 * x;
        const std::uint8_t a
            = animation.Alpha[i].Empty() ? 255 : animation.Alpha[i].ConstScanLine(y)[x];
        return { bgr[2], bgr[1], bgr[0], a };
    }

    TEST(ScaleAnimation, WeighsTheColoursByTheirAlpha)
    {
        TExportAnimation animation;
        TDIB frame;
        frame.SetSize(4, 2, 24);
        TDIB alpha;
        alpha.SetSize(4, 2, 8);
        // Left box: a flag pixel of blue 200 at alpha 255 and one of blue 0
        // at alpha 85 over two transparent red pixels, which must not tint
        // it. Right box: all transparent, blues 10, 20, 30, 40.
        const std::uint8_t blue[2][4] = { { 200, 0, 10, 20 }, { 0, 0, 30, 40 } };
        const std::uint8_t red[2][4] = { { 0, 0, 50, 50 }, { 255, 255, 50, 50 } };
        const std::uint8_t alphas[2][4] = { { 255, 85, 0, 0 }, { 0, 0, 0, 0 } };
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 4; ++x) {
                frame.ScanLine(y)[3 * x] = blue[y][x];
                frame.ScanLine(y)[3 * x + 1] = 7;
                frame.ScanLine(y)[3 * x + 2] = red[y][x];
                alpha.ScanLine(y)[x] = alphas[y][x];
            }
        }
        animation.Frames = { frame, frame };
        // The second frame is opaque: it keeps no plane.
        animation.Alpha = { alpha, TDIB() };
        const TExportAnimation scaled = ScaleAnimation(animation, 2, 1);
        ASSERT_EQ(scaled.Frames.size(), 2u);
        ASSERT_EQ(scaled.Frames[0].Width(), 2);
        ASSERT_EQ(scaled.Frames[0].Height(), 1);
        // (200 x 255 + 0 x 85) / 340 = 150; alpha (255 + 85) / 4 = 85.
        EXPECT_EQ(Pixel(scaled, 0, 0, 0), (std::array<std::uint8_t, 4> { 0, 7, 150, 85 }));
        // Nothing covers the right box: the plain mean, alpha 0.
        EXPECT_EQ(Pixel(scaled, 0, 1, 0), (std::array<std::uint8_t, 4> { 50, 7, 25, 0 }));
        EXPECT_TRUE(scaled.Alpha[1].Empty());
        // (200 + 0 + 0 + 0) / 4 = 50, red (255 + 255) / 4 = 128.
        EXPECT_EQ(Pixel(scaled, 1, 0, 0), (std::array<std::uint8_t, 4> { 128, 7, 50, 255 }));

        EXPECT_THROW(ScaleAnimation(animation, 5, 1), EInvalidGraphicOperation);
        EXPECT_THROW(ScaleAnimation(animation, 2, 0), EInvalidGraphicOperation);
        animation.Alpha[1].SetSize(3, 2, 8);
        EXPECT_THROW(ScaleAnimation(animation, 2, 1), EInvalidGraphicOperation);
    }

    TEST(ScaleAnimation, LeavesNoFringeOfTheBackgroundOnAnEdge)
    {
        // A green flag on a magenta background that is transparent: scaled
        // down by odd factors, no pixel with any coverage takes on magenta,
        // and the coverage falls from the flag to the background.
        TExportAnimation animation;
        TDIB frame;
        frame.SetSize(30, 10, 24);
        TDIB alpha;
        alpha.SetSize(30, 10, 8);
        for (std::int32_t y = 0; y < 10; ++y) {
            for (std::int32_t x = 0; x < 30; ++x) {
                const bool flag = x < 13;
                // Smooth coverage at the edge, as an antialiased border has.
                const std::uint8_t a = flag ? 255 : x == 13 ? 128 : 0;
                std::uint8_t* p = frame.ScanLine(y) + 3 * x;
                p[0] = a ? 0 : 255;
                p[1] = a ? 200 : 0;
                p[2] = a ? 0 : 255;
                alpha.ScanLine(y)[x] = a;
            }
        }
        animation.Frames = { frame };
        animation.Alpha = { alpha };
        for (const std::int32_t width : { 29, 17, 11, 7 }) {
            const TExportAnimation scaled = ScaleAnimation(animation, width, 5);
            std::uint8_t last = 255;
            for (std::int32_t x = 0; x < width; ++x) {
                const auto p = Pixel(scaled, 0, x, 2);
                if (p[3] > 0) {
                    EXPECT_EQ(p[0], 0) << width << " " << x;
                    EXPECT_EQ(p[1], 200) << width << " " << x;
                }
                EXPECT_LE(p[3], last) << width << " " << x;
                last = p[3];
            }
            EXPECT_EQ(Pixel(scaled, 0, 0, 0)[3], 255);
            EXPECT_EQ(Pixel(scaled, 0, width - 1, 0)[3], 0);
        }
    }

    // The plain file of the animation and the smallest that any setting
    // gives (from the error of a limit of one byte).
    struct TFitCase {
        TExportAnimation Animation;
        std::vector<std::uint8_t> Plain;
        std::uint64_t Smallest = 0;

        TFitCase(const char* picture, TAnimationFormat format, bool lossless = false)
            : Animation(WavedAnimation(picture))
        {
            TAnimationFit fit = Fit(format, 0, lossless);
            Plain = EncodeSizedAnimation(Animation, fit).File;
            fit.Limit = 1;
            try {
                FitAnimationToSize(Animation, fit);
                ADD_FAILURE() << "one byte fits";
            } catch (const ESizeLimit& e) {
                Smallest = e.Smallest();
            }
        }
    };

    // The file's frames as libwebp or the test's APNG reader shows them.
    struct TShown {
        std::uint32_t Width = 0;
        std::uint32_t Height = 0;
        std::vector<std::vector<std::uint8_t>> Frames;
    };

    TShown Decode(TAnimationFormat format, const std::vector<std::uint8_t>& file)
    {
        TShown shown;
        if (format == TAnimationFormat::WebP) {
            const webp_test::TDecoded decoded = webp_test::Decode(file);
            shown.Width = decoded.Width;
            shown.Height = decoded.Height;
            for (const auto& frame : decoded.Frames)
                shown.Frames.push_back(frame.Rgba);
        } else {
            const apng_test::TAPNG decoded = apng_test::ReadAPNG(file);
            shown.Width = decoded.Width;
            shown.Height = decoded.Height;
            shown.Frames = decoded.Canvases;
        }
        return shown;
    }

    TEST(FitAnimationToSize, NeverWritesMoreThanTheLimit)
    {
        for (const TAnimationFormat format : { TAnimationFormat::WebP, TAnimationFormat::APNG }) {
            for (const char* picture : { "photo-cat.png", "flag-br.png", "gradient-sky.png" }) {
                const TFitCase fit(picture, format);
                ASSERT_GT(fit.Smallest, 0u);
                ASSERT_LT(fit.Smallest, fit.Plain.size() / 2);
                // Generous: the file as without a limit, estimated on a
                // sample, then coded whole.
                TFitResult result
                    = FitAnimationToSize(fit.Animation, Fit(format, fit.Plain.size()));
                EXPECT_EQ(result.File, fit.Plain);
                EXPECT_EQ(result.Encodes, 2);
                // Just reachable, tight and roomy: the lossless frames
                // compress alike at any size, so their smallest file is a
                // good share of the largest.
                const std::uint64_t plain = fit.Plain.size();
                const std::uint64_t roomy = fit.Smallest + (plain - fit.Smallest) / 3;
                for (const std::uint64_t limit : { fit.Smallest, fit.Smallest + fit.Smallest / 50,
                         roomy, (roomy + plain) / 2, plain - 1 }) {
                    SCOPED_TRACE(testing::Message()
                        << AnimationFormatName(format) << " " << picture << " limit " << limit);
                    result = FitAnimationToSize(fit.Animation, Fit(format, limit));
                    EXPECT_LE(result.File.size(), limit);
                    const TShown shown = Decode(format, result.File);
                    EXPECT_EQ(shown.Frames.size(), 16u);
                    const auto size = AnimationFitSizes(
                        Fit(format, limit), 80, 50)[std::size_t(result.Knobs.Step)];
                    EXPECT_EQ(shown.Width, std::uint32_t(size[0]));
                    EXPECT_EQ(shown.Height, std::uint32_t(size[1]));
                    // Fine knobs fill a reachable limit to 90 % in a few
                    // tries: a WebP's quality, an APNG's fine frame-size
                    // steps. (Just above the smallest file, where a step of
                    // the frame size changes little, the search may take a
                    // try or two more.)
                    if (limit >= roomy) {
                        EXPECT_GE(double(result.File.size()), 0.9 * double(limit));
                        EXPECT_LE(result.Encodes, 8);
                    } else {
                        EXPECT_LE(result.Encodes, 10);
                    }
                }
            }
        }
    }

    TEST(FitAnimationToSize, LowersTheWebPQualityBeforeTheFrameSize)
    {
        const TFitCase fit("photo-cat.png", TAnimationFormat::WebP);
        TAnimationFit asked = Fit(TAnimationFormat::WebP, fit.Plain.size() / 2);
        asked.WebP.Quality = 80;
        const TFitResult result = FitAnimationToSize(fit.Animation, asked);
        EXPECT_EQ(result.Knobs.Step, 0);
        EXPECT_LT(result.Knobs.Quality, 80);
        EXPECT_EQ(result.Description.rfind(std::to_string(asked.Limit) + ": --webp-quality "
                          + std::to_string(result.Knobs.Quality) + ", "
                          + GroupDigits(result.File.size()) + " bytes, ",
                      0),
            0u)
            << result.Description;
        EXPECT_GE(double(result.File.size()), 0.9 * double(asked.Limit));
        // The quality chosen gives exactly the file written, and the one
        // before it in the search's order a larger file.
        TWebPOptions chosen;
        chosen.Quality = result.Knobs.Quality;
        EXPECT_EQ(EncodeWebPAnimation(fit.Animation.View(5, 0), chosen), result.File);
        chosen.Quality = result.Knobs.Quality + 1;
        EXPECT_GT(EncodeWebPAnimation(fit.Animation.View(5, 0), chosen).size(), result.File.size());

        // Below what quality 0 gives, the frame size goes down too; a limit
        // that quality 0 meets (beyond the estimates' margin) keeps the
        // full size.
        chosen.Quality = 0;
        const std::uint64_t lowest = EncodeWebPAnimation(fit.Animation.View(5, 0), chosen).size();
        ASSERT_GT(lowest * 9 / 10, fit.Smallest);
        const TFitResult smaller
            = FitAnimationToSize(fit.Animation, Fit(TAnimationFormat::WebP, lowest * 9 / 10));
        EXPECT_GT(smaller.Knobs.Step, 0);
        EXPECT_LE(smaller.File.size(), lowest * 9 / 10);
        const TFitResult lowestFits
            = FitAnimationToSize(fit.Animation, Fit(TAnimationFormat::WebP, lowest * 21 / 20));
        EXPECT_EQ(lowestFits.Knobs.Step, 0) << lowestFits.Description;
        EXPECT_NE(smaller.Description.find(" --size "), std::string::npos) << smaller.Description;
    }

    TEST(FitAnimationToSize, ALosslessFileStaysLossless)
    {
        // Lossless WebP and APNG only shrink their frames: what the file
        // shows is exactly the scaled frames, colour under transparency
        // included (WebP's exact mode; APNG keeps every byte).
        for (const TAnimationFormat format : { TAnimationFormat::WebP, TAnimationFormat::APNG }) {
            const TFitCase fit("flag-br.png", format, true);
            TAnimationFit asked = Fit(format, fit.Plain.size() * 6 / 10, true);
            const TFitResult result = FitAnimationToSize(fit.Animation, asked);
            ASSERT_GT(result.Knobs.Step, 0);
            EXPECT_LE(result.File.size(), asked.Limit);
            EXPECT_EQ(result.Description.find("--webp-quality"), std::string::npos);
            const auto size = AnimationFitSizes(asked, 80, 50)[std::size_t(result.Knobs.Step)];
            const TExportAnimation scaled = ScaleAnimation(fit.Animation, size[0], size[1]);
            const TShown shown = Decode(format, result.File);
            ASSERT_EQ(shown.Frames.size(), 16u);
            for (std::size_t i = 0; i < 16; ++i) {
                for (std::int32_t y = 0; y < size[1]; ++y) {
                    for (std::int32_t x = 0; x < size[0]; ++x) {
                        const auto expected = Pixel(scaled, i, x, y);
                        const std::uint8_t* got
                            = shown.Frames[i].data() + 4 * (std::size_t(y) * size[0] + x);
                        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), got))
                            << AnimationFormatName(format) << " frame " << i << " at " << x << ","
                            << y;
                    }
                }
            }
        }
    }

    TEST(FitAnimationToSize, NamesTheSmallestFileWhenNothingFits)
    {
        const TFitCase fit("photo-cat.png", TAnimationFormat::WebP);
        try {
            FitAnimationToSize(fit.Animation, Fit(TAnimationFormat::WebP, fit.Smallest - 1));
            FAIL() << "no ESizeLimit";
        } catch (const ESizeLimit& e) {
            EXPECT_EQ(e.Smallest(), fit.Smallest);
            const std::string text = e.what();
            const auto last = FitFrameSizes(80, 50).back();
            EXPECT_NE(text.find("no setting fits; the smallest file, with --webp-quality 0 --size "
                          + std::to_string(last[0]) + "x" + std::to_string(last[1]) + ", has "
                          + GroupDigits(fit.Smallest) + " bytes"),
                std::string::npos)
                << text;
        }
        // At the smallest size there is, the limit of its file fits.
        EXPECT_LE(FitAnimationToSize(fit.Animation, Fit(TAnimationFormat::WebP, fit.Smallest))
                      .File.size(),
            fit.Smallest);
    }

    TEST(FitAnimationToSize, RefusesWhatItCannotFit)
    {
        const TExportAnimation animation = WavedAnimation("flag-br.png", 2, 32, 20);
        EXPECT_THROW(FitAnimationToSize(animation, Fit(TAnimationFormat::Gif, 1000)),
            EInvalidGraphicOperation);
        EXPECT_THROW(FitAnimationToSize(animation, Fit(TAnimationFormat::WebP, 0)),
            EInvalidGraphicOperation);
        TAnimationFit bad = Fit(TAnimationFormat::WebP, 1000);
        bad.WebP.Quality = 101;
        EXPECT_THROW(FitAnimationToSize(animation, bad), EInvalidGraphicOperation);
        bad = Fit(TAnimationFormat::APNG, 1000);
        bad.Delay = 0;
        EXPECT_THROW(FitAnimationToSize(animation, bad), EInvalidGraphicOperation);
        EXPECT_THROW(
            FitAnimationToSize({}, Fit(TAnimationFormat::APNG, 1000)), EInvalidGraphicOperation);
    }

    // The export job with the sized writer: the fit's file of the job's
    // frames, the tries counted in the progress, and a cancel during a try
    // that writes nothing.
    TEST(SizedAnimationWriter, FitsTheJobsFramesAndStopsOnACancel)
    {
        namespace fs = std::filesystem;
        FlagParameters params;
        params.Frames = 12;
        params.Antialiasing = 1;
        params.TransparentMode = true;
        TDIB picture;
        LoadDefaultImage(picture);
        TFlagModel model;
        model.SetTexture(picture, TDIB());
        model.PrepareTexture();
        model.SetFrameSize(96, 60);
        model.SetParameters(params);
        TSettings settings;
        settings.Flag = params;
        const auto snapshot
            = [&] { return TakeExportSnapshot(model, ExportOptionsOf(settings), 1); };
        const fs::path folder
            = fs::temp_directory_path() / ("zx-sized-animation-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        const fs::path path = folder / "flag.anim";

        for (const TAnimationFormat format : { TAnimationFormat::WebP, TAnimationFormat::APNG }) {
            SCOPED_TRACE(AnimationFormatName(format));
            TExportJob plainJob(snapshot());
            const TExportAnimation animation = AnimationOfExportFrames(plainJob.Render());
            TAnimationFit fit = Fit(format, 0);
            const std::uint64_t plain = EncodeSizedAnimation(animation, fit).File.size();
            fit.Limit = plain / 2;

            TExportJob job(snapshot());
            auto result = std::make_shared<TSizedGif>();
            job.Save(path.string(), SizedAnimationWriter(fit, result));
            const std::vector<std::uint8_t> file = ReadFileBytes(path.string());
            EXPECT_EQ(file, EncodeSizedAnimation(animation, fit).File);
            EXPECT_LE(file.size(), fit.Limit);
            EXPECT_TRUE(result->Fitted);
            EXPECT_EQ(result->Report, FitAnimationToSize(animation, fit).Description);
            EXPECT_EQ(job.Progress().FitTry.load(), 0);
            EXPECT_EQ(job.Progress().FileBytes.load(), file.size());

            // A cancel once the second try runs: nothing written.
            const std::vector<std::uint8_t> old = { 'o', 'l', 'd' };
            WriteFileAtomic(path.string(), old);
            TExportJob cancelled(snapshot());
            std::atomic<bool> stop { false };
            std::thread watcher([&] {
                while (!stop && cancelled.Progress().FitTry.load() < 2)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                if (!stop)
                    cancelled.Cancel();
            });
            EXPECT_THROW(cancelled.Save(path.string(), SizedAnimationWriter(fit)), ECancelled);
            stop = true;
            watcher.join();
            EXPECT_EQ(ReadFileBytes(path.string()), old);
            std::size_t files = 0;
            for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
                ++files;
            EXPECT_EQ(files, 1u);
        }
        fs::remove_all(folder);
    }

} // namespace
} // namespace zx
