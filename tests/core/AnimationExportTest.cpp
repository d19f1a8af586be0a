// The export's side of the animation writers: the format a name asks for, the
// export job's frames with their alpha planes, the job's WebP and APNG files
// equal to the encoders' of the same frames (at scale 1 and 2), their
// progress, and a cancel while the frames are coded that writes nothing.

#include "core/gif/AnimationExport.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/gif/APNGWriter.h"
#include "core/imaging/DefaultImage.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
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
            m_model.PrepareTexture();
            m_model.SetFrameSize(80, 50);
            m_model.SetParameters(m_params);
            TSettings settings;
            settings.Flag = m_params;
            return TakeExportSnapshot(m_model, ExportOptionsOf(settings), scale);
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

    TEST_F(JobAnimation, TransparentFramesGetTheirMaskAsAlpha)
    {
        m_params.TransparentMode = true;
        TExportJob job(Snapshot());
        const TExportFrames& frames = job.Render();
        const TExportAnimation animation = AnimationOfExportFrames(frames);
        ASSERT_EQ(animation.Frames.size(), 3u);
        ASSERT_EQ(animation.Alpha.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            ASSERT_TRUE(frames.Transparent()[k]);
            const TDIB& mask = frames.Masks()[k];
            const TDIB& alpha = animation.Alpha[k];
            ASSERT_EQ(alpha.Width(), 80);
            ASSERT_EQ(alpha.Height(), 50);
            EXPECT_EQ(alpha.BitCount(), 8);
            std::int32_t clear = 0;
            for (std::int32_t y = 0; y < 50; ++y)
                for (std::int32_t x = 0; x < 80; ++x) {
                    const std::uint32_t a = alpha.Pixel(x, y);
                    EXPECT_EQ(a, mask.Pixel(x, y) == 255 ? 0u : 255u) << x << "," << y;
                    clear += a == 0;
                    EXPECT_EQ(animation.Frames[k].Pixel(x, y), frames.Bitmaps()[k].Pixel(x, y));
                }
            EXPECT_GT(clear, 0);
            EXPECT_LT(clear, 80 * 50);
        }
        const TAnimationFrames view = animation.View(7, 101);
        EXPECT_EQ(view.Delay, 7);
        EXPECT_EQ(view.Loops, 101);
        EXPECT_EQ(view.Frames.size(), 3u);
        EXPECT_TRUE(FrameIsTranslucent(view, 2));
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
