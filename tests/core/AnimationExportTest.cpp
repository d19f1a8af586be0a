// The export's side of the animation writers: the format a name asks for, the
// export job's coverage frames, lossless files that decode to them exactly
// (with the picture's own alpha), the job's WebP and APNG files
// equal to the encoders' of the same frames (at scale 1 and 2), their
// progress, and a cancel while the frames are coded that writes nothing.

#include "core/gif/AnimationExport.h"

#include "APNGTestReader.h"
#include "AnimTestUtil.h"
#include "WebPTestDecoder.h"
#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/gif/APNGWriter.h"
#include "core/imaging/DefaultImage.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zx {
namespace {

    namespace fs = std::filesystem;

    TEST(AnimationExport, TheNameGivesTheFormat)
    {
        EXPECT_EQ(AnimationFormatOfName("flag.gif"), TAnimationFormat::Gif);
        EXPECT_EQ(AnimationFormatOfName("/a/b/Flag.GIF"), TAnimationFormat::Gif);
        EXPECT_EQ(AnimationFormatOfName("flag.WebP"), TAnimationFormat::WebP);
        EXPECT_EQ(AnimationFormatOfName("flag.png"), TAnimationFormat::APNG);
        EXPECT_EQ(AnimationFormatOfName("flag.tar.apng"), TAnimationFormat::APNG);
        EXPECT_EQ(AnimationFormatOfName("flag.webp.bak"), std::nullopt);
        EXPECT_EQ(AnimationFormatOfName("pictures.webp/flag"), std::nullopt);
        EXPECT_EQ(AnimationFormatOfName("flag"), std::nullopt);
        EXPECT_EQ(AnimationFormatOfName("flag.pn"), std::nullopt);
        EXPECT_STREQ(AnimationFormatName(TAnimationFormat::APNG), "APNG");
    }

    // A flag of the built-in picture, 80 x 50 at scale 1.
    class JobAnimation : public ::testing::Test {
    protected:
        void SetUp() override
        {
            m_params.Antialiasing = 1;
            m_params.Distance = 40;
            m_params.Frames = 3;
        }
        TExportSnapshot Snapshot(std::int32_t scale = 1)
        {
            TDIB picture;
            LoadDefaultImage(picture);
            m_model.SetTexture(picture, TDIB());
            return SnapshotOfModel(scale);
        }
        // The snapshot of the model's picture as it was set.
        TExportSnapshot SnapshotOfModel(std::int32_t scale = 1)
        {
            m_model.PrepareTexture();
            m_model.SetFrameSize(80, 50);
            m_model.SetParameters(m_params);
            TSettings settings;
            settings.Flag = m_params;
            return TakeExportSnapshot(m_model, ExportOptionsOf(settings), scale);
        }
        static bool SameRows(const TDIB& a, const TDIB& b)
        {
            if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
                return false;
            const std::size_t bytes = std::size_t(a.Width()) * std::size_t(a.BitCount() / 8);
            for (std::int32_t y = 0; y < a.Height(); ++y)
                if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), bytes) != 0)
                    return false;
            return true;
        }
        static std::vector<std::string> Names(const fs::path& folder)
        {
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(folder))
                names.push_back(entry.path().filename().string());
            return names;
        }

        FlagParameters m_params;
        TFlagModel m_model;
    };

    TEST_F(JobAnimation, TransparentFramesAreTheCoverageFrames)
    {
        m_params.TransparentMode = true;
        for (const std::int32_t scale : { 1, 2 }) {
            SCOPED_TRACE(scale);
            TExportSnapshot snapshot = Snapshot(scale);
            // The renderer's coverage frames of the same flag.
            const std::vector<std::uint16_t> phases { FramePhase(0, 3), FramePhase(1, 3),
                FramePhase(2, 3) };
            const TCoverageFrames want = RenderCoverageFrames(phases, snapshot.Params,
                snapshot.Derived, snapshot.Texture, snapshot.Alpha, snapshot.Light, scale, 1);
            TExportJob job(std::move(snapshot));
            TExportFrames& frames = job.Render();
            const TExportAnimation animation = AnimationOfExportFrames(frames);
            ASSERT_EQ(animation.Frames.size(), 3u);
            ASSERT_EQ(animation.Alpha.size(), 3u);
            for (std::size_t k = 0; k < 3; ++k) {
                ASSERT_TRUE(SameRows(animation.Frames[k], want.Colours[k])) << k;
                ASSERT_TRUE(SameRows(animation.Alpha[k], want.Alpha[k])) << k;
                // Opaque exactly where the ordinary frame is on the flag, and
                // partly covered pixels at its edge.
                const TDIB& mask = frames.Masks()[k];
                const TDIB& alpha = animation.Alpha[k];
                ASSERT_EQ(alpha.Width(), 80 * scale);
                std::int32_t partial = 0;
                for (std::int32_t y = 0; y < alpha.Height(); ++y)
                    for (std::int32_t x = 0; x < alpha.Width(); ++x) {
                        const std::uint32_t a = alpha.Pixel(x, y);
                        EXPECT_EQ(a == 255, mask.Pixel(x, y) == 0) << x << "," << y;
                        partial += a != 0 && a != 255;
                    }
                EXPECT_GT(partial, 10);
            }
            // Asked again, the job gives the frames it has.
            EXPECT_EQ(frames.Coverage().Colours[0].ConstScanLine(0),
                animation.Frames[0].ConstScanLine(0));
            const TAnimationFrames view = animation.View(7, 101);
            EXPECT_EQ(view.Delay, 7);
            EXPECT_EQ(view.Loops, 101);
            EXPECT_TRUE(FrameIsTranslucent(view, 2));
        }
        TExportFrames none;
        EXPECT_THROW(none.Coverage(), EInvalidGraphicOperation);

        // Single-use frames make room for the coverage frames.
        TExportJob job(Snapshot());
        TExportFrames& frames = job.Render();
        frames.SingleUse = true;
        ASSERT_FALSE(frames.Bitmaps()[0].Empty());
        EXPECT_EQ(frames.Coverage().Colours.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_TRUE(frames.Bitmaps()[k].Empty());
            EXPECT_TRUE(frames.Masks()[k].Empty());
            EXPECT_FALSE(frames.Coverage().Colours[k].Empty());
        }
    }

    TEST_F(JobAnimation, LosslessFilesDecodeToTheCoverageFramesExactly)
    {
        m_params.TransparentMode = true;
        m_params.Antialiasing = 2;
        TDIB picture;
        LoadDefaultImage(picture);
        // A picture with soft edges of its own.
        TDIB alpha;
        alpha.SetSize(picture.Width(), picture.Height(), 8);
        for (std::int32_t y = 0; y < alpha.Height(); ++y)
            for (std::int32_t x = 0; x < alpha.Width(); ++x)
                alpha.ScanLine(y)[x] = std::uint8_t(std::min(255, (x + y) * 4));
        m_model.SetTexture(picture, alpha);
        TWebPOptions lossless;
        lossless.Lossless = true;
        for (const TAnimationFormat format : { TAnimationFormat::WebP, TAnimationFormat::APNG }) {
            SCOPED_TRACE(AnimationFormatName(format));
            TExportJob job(SnapshotOfModel());
            const std::vector<std::uint8_t> file
                = job.Encode(AnimationWriter(format, 6, 2, lossless));
            TExportJob again(SnapshotOfModel());
            const TExportAnimation animation = AnimationOfExportFrames(again.Render());
            const TAnimationFrames view = animation.View(6, 2);
            ASSERT_TRUE(FrameIsTranslucent(view, 0));
            std::vector<std::vector<std::uint8_t>> decoded;
            if (format == TAnimationFormat::WebP) {
                const webp_test::TDecoded webp = webp_test::Decode(file);
                EXPECT_EQ(webp.Loops, 2u);
                for (const webp_test::TDecodedFrame& frame : webp.Frames)
                    decoded.push_back(frame.Rgba);
            } else {
                const apng_test::TAPNG apng = apng_test::ReadAPNG(file);
                EXPECT_EQ(apng.Plays, 2u);
                decoded = apng.Canvases;
            }
            ASSERT_EQ(decoded.size(), 3u);
            for (std::size_t k = 0; k < 3; ++k) {
                const std::vector<std::uint8_t> want = anim_test::ExpectedRGBA(view, k);
                ASSERT_EQ(decoded[k].size(), want.size());
                std::set<std::uint8_t> alphas;
                for (std::size_t i = 0; i < want.size(); i += 4) {
                    alphas.insert(want[i + 3]);
                    ASSERT_EQ(0, std::memcmp(&decoded[k][i], &want[i], 4)) << k << " at " << i / 4;
                }
                EXPECT_GT(alphas.size(), 20u) << k;
            }
        }
    }

    TEST_F(JobAnimation, OpaqueFramesHaveNoPlaneAndTheGifHasItsOwnWriter)
    {
        m_params.TransparentMode = false;
        TExportJob job(Snapshot());
        const TExportAnimation animation = AnimationOfExportFrames(job.Render());
        ASSERT_EQ(animation.Alpha.size(), 3u);
        for (const TDIB& alpha : animation.Alpha)
            EXPECT_TRUE(alpha.Empty());
        EXPECT_EQ(FrameAlpha(animation.View(5, 0), 0), nullptr);
        EXPECT_THROW(AnimationWriter(TAnimationFormat::Gif, 5, 0), EInvalidGraphicOperation);
        EXPECT_THROW(
            SaveAnimationFile(TAnimationFormat::Gif, "/nonexistent/x.gif", animation.View(5, 0)),
            EInvalidGraphicOperation);
    }

    TEST_F(JobAnimation, TheJobWritesTheEncodersFileOfItsFramesWithItsProgress)
    {
        m_params.TransparentMode = true;
        const fs::path folder
            = fs::temp_directory_path() / ("zx-job-animation-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        for (const std::int32_t scale : { 1, 2 }) {
            for (const TAnimationFormat format :
                { TAnimationFormat::WebP, TAnimationFormat::APNG }) {
                SCOPED_TRACE(
                    std::string(AnimationFormatName(format)) + " x" + std::to_string(scale));
                const fs::path path = folder / "flag.anim";
                TExportJob job(Snapshot(scale));
                job.Save(path.string(), AnimationWriter(format, 6, 2));
                const std::vector<std::uint8_t> file = ReadFileBytes(path.string());

                // The same frames, rendered and encoded by hand.
                TExportJob again(Snapshot(scale));
                const TExportAnimation animation = AnimationOfExportFrames(again.Render());
                const TAnimationFrames view = animation.View(6, 2);
                EXPECT_EQ(view.Frames[0].Width(), 80 * scale);
                EXPECT_EQ(view.Frames[0].Height(), 50 * scale);
                EXPECT_EQ(file,
                    format == TAnimationFormat::WebP ? EncodeWebPAnimation(view)
                                                     : EncodeAPNG(view));

                const TExportProgress& progress = job.Progress();
                EXPECT_EQ(progress.Stage.load(), TExportStage::Finished);
                EXPECT_EQ(progress.FileBytes.load(), file.size());
                EXPECT_EQ(progress.BytesWritten.load(), file.size());
                // The frames' data is most of the file, never more.
                EXPECT_GT(progress.BytesCoded.load(), file.size() / 2);
                EXPECT_LT(progress.BytesCoded.load(), file.size());
            }
        }
        fs::remove_all(folder);
    }

    TEST_F(JobAnimation, ACancelWhileTheFramesAreCodedWritesNothing)
    {
        // Frames of 480 x 300 take long enough to code that the cancel comes
        // in the middle.
        m_params.Frames = 8;
        const fs::path folder
            = fs::temp_directory_path() / ("zx-job-animation-cancel-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        const fs::path path = folder / "flag.webp";
        const std::vector<std::uint8_t> old { 'o', 'l', 'd' };
        WriteFileAtomic(path.string(), old);
        for (const TAnimationFormat format : { TAnimationFormat::WebP, TAnimationFormat::APNG }) {
            SCOPED_TRACE(AnimationFormatName(format));
            TExportJob job(Snapshot(6));
            bool cancelled = false;
            std::thread canceller([&] {
                while (job.Progress().BytesCoded.load() == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                cancelled = job.Cancel();
            });
            TWebPOptions lossless;
            lossless.Lossless = true;
            EXPECT_THROW(
                job.Save(path.string(), AnimationWriter(format, 5, 0, lossless)), ECancelled);
            canceller.join();
            EXPECT_TRUE(cancelled);
            EXPECT_EQ(job.Progress().Stage.load(), TExportStage::Encoding);
            EXPECT_EQ(ReadFileBytes(path.string()), old);
            EXPECT_EQ(Names(folder), std::vector<std::string> { "flag.webp" });
        }
        fs::remove_all(folder);
    }

    TEST_F(JobAnimation, ACancelBeforeTheCodingStartsCodesNoFrame)
    {
        TExportJob job(Snapshot());
        const TFrameWriter writer = AnimationWriter(TAnimationFormat::APNG, 5, 0);
        const fs::path path = fs::temp_directory_path()
            / ("zx-job-animation-early-" + std::to_string(::getpid()) + ".png");
        EXPECT_THROW(job.Save(path.string(),
                         [&](TExportFrames& frames, TExportProgress& progress) {
                             EXPECT_TRUE(job.Cancel());
                             return writer(frames, progress);
                         }),
            ECancelled);
        EXPECT_EQ(job.Progress().BytesCoded.load(), 0u);
        EXPECT_FALSE(fs::exists(path));
    }

} // namespace
} // namespace zx
