// What the WebP and APNG writers share: the checks that refuse bad input
// with one clear error, and the atomic file write that a failure leaves
// nothing of.

#include "core/gif/AnimationFrames.h"

#include "APNGTestReader.h"
#include "AnimTestUtil.h"
#include "BMPTestData.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/gif/APNGWriter.h"
#include "core/gif/WebPAnimWriter.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace zx {
namespace {

    namespace fs = std::filesystem;
    using anim_test::MakeAlpha;
    using anim_test::MakeFrame;
    using anim_test::TRgb;
    using test::MakeBMP;
    using test::TBMPFields;

    TDIB Grey(std::int32_t width, std::int32_t height)
    {
        return MakeFrame(width, height, [](auto, auto) { return TRgb { 90, 90, 90 }; });
    }

    TDIB Noisy(std::uint32_t k)
    {
        return MakeFrame(40, 30, [&](std::int32_t x, std::int32_t y) {
            return TRgb { anim_test::Noise(x, y, k), 0, 0 };
        });
    }

    // The two writers, by name, behind one signature.
    struct TWriter {
        const char* Name;
        std::function<std::vector<std::uint8_t>(const TAnimationFrames&)> Encode;
        std::function<void(const std::string&, const TAnimationFrames&)> Save;
    };

    const std::vector<TWriter>& Writers()
    {
        static const std::vector<TWriter> writers = {
            { "APNG", [](const TAnimationFrames& f) { return EncodeAPNG(f); },
                [](const std::string& p, const TAnimationFrames& f) { SaveAPNGFile(p, f); } },
            { "WebP", [](const TAnimationFrames& f) { return EncodeWebPAnimation(f); },
                [](const std::string& p, const TAnimationFrames& f) {
                    SaveWebPAnimationFile(p, f);
                } },
            { "lossless WebP",
                [](const TAnimationFrames& f) {
                    return EncodeWebPAnimation(f, { true, 90 });
                },
                [](const std::string& p, const TAnimationFrames& f) {
                    SaveWebPAnimationFile(p, f, { true, 90 });
                } },
        };
        return writers;
    }

    // Expects the writer to refuse the frames with EInvalidGraphicOperation
    // whose message contains the given text.
    void ExpectRefused(const TAnimationFrames& frames, const std::string& text)
    {
        for (const TWriter& writer : Writers()) {
            try {
                writer.Encode(frames);
                ADD_FAILURE() << writer.Name << " accepted input that should say: " << text;
            } catch (const EInvalidGraphicOperation& error) {
                EXPECT_NE(std::string(error.what()).find(text), std::string::npos)
                    << writer.Name << ": " << error.what();
            }
        }
    }

    TEST(AnimationFrames, BadInputIsRefusedWithOneClearMessage)
    {
        const std::vector<TDIB> two = { Grey(8, 6), Grey(8, 6) };
        TAnimationFrames frames;
        ExpectRefused(frames, "动画中没有帧");

        const std::vector<TDIB> sizes = { Grey(8, 6), Grey(8, 6), Grey(6, 8) };
        frames.Frames = sizes;
        ExpectRefused(frames, "第 3 帧的尺寸与第 1 帧不同 (6 x 8, 8 x 6)");

        TDIB paletted;
        paletted.SetSize(8, 6, 8);
        const std::vector<TDIB> depths = { Grey(8, 6), paletted };
        frames.Frames = depths;
        ExpectRefused(frames, "第 2 帧不是 24 位图像");

        const std::vector<TDIB> tooMany(41, Grey(4, 4));
        frames.Frames = tooMany;
        ExpectRefused(frames, "Frames 41 超出范围 1..40");

        frames.Frames = two;
        const std::vector<TDIB> smallPlane
            = { TDIB(), MakeAlpha(8, 5, [](auto, auto) { return 0; }) };
        frames.Alpha = smallPlane;
        ExpectRefused(frames, "第 2 帧的透明度平面不是帧尺寸的 8 位图像");
        const std::vector<TDIB> colourPlane = { Grey(8, 6) };
        frames.Alpha = colourPlane;
        ExpectRefused(frames, "第 1 帧的透明度平面");
        const std::vector<TDIB> threePlanes(3, MakeAlpha(8, 6, [](auto, auto) { return 9; }));
        frames.Alpha = threePlanes;
        ExpectRefused(frames, "透明度平面多于帧");
        frames.Alpha = {};

        frames.Delay = 0;
        ExpectRefused(frames, "GIFDelay 0 超出范围 1..50");
        frames.Delay = 51;
        ExpectRefused(frames, "GIFDelay 51");
        frames.Delay = 5;
        frames.Loops = 102;
        ExpectRefused(frames, "GIFLoops 102 超出范围 0..101");
        frames.Loops = -1;
        ExpectRefused(frames, "GIFLoops -1");
        frames.Loops = 0;

        // The lossy WebP quality, at both ends.
        for (const int quality : { -1, 101 })
            EXPECT_THROW(EncodeWebPAnimation(frames, { false, quality }), EInvalidGraphicOperation);
        EXPECT_NO_THROW(EncodeWebPAnimation(frames, { false, 0 }));
        EXPECT_NO_THROW(EncodeWebPAnimation(frames, { false, 100 }));
    }

    TEST(AnimationFrames, SidesBeyondTheFormatsLimitsAreRefused)
    {
        const std::vector<TDIB> wide = { Grey(16, 2) };
        TAnimationFrames frames;
        frames.Frames = wide;
        EXPECT_NO_THROW(CheckAnimationFrames(frames, 16));
        EXPECT_THROW(CheckAnimationFrames(frames, 15), EInvalidGraphicOperation);

        // WebP frames end at 16383 pixels a side; an APNG takes them.
        const std::vector<TDIB> webpTooWide = { Grey(kWebPMaxSide + 1, 1) };
        frames.Frames = webpTooWide;
        try {
            EncodeWebPAnimation(frames);
            ADD_FAILURE() << "a WebP 16384 pixels wide";
        } catch (const EInvalidGraphicOperation& error) {
            EXPECT_STREQ(error.what(), "动画的宽度或高度超过 16383");
        }
        EXPECT_EQ(apng_test::ReadAPNG(EncodeAPNG(frames)).Canvases.size(), 1u);
    }

    TEST(AnimationFrames, AnRleCompressedAlphaPlaneReadsAsItsPixels)
    {
        // A 4 x 2 plane stored as RLE8: a run of four 255s (the lower row,
        // BMP rows going up), then 0, 128, 9, 200 as an absolute run.
        TBMPFields fields;
        fields.Width = 4;
        fields.Height = 2;
        fields.BitCount = 8;
        fields.Compression = 1;
        for (std::uint32_t i = 0; i < 256; ++i)
            fields.Colors.push_back(i * 0x010101u);
        fields.Pixels = { 4, 255, 0, 0, 0, 4, 0, 128, 9, 200, 0, 1 };
        const std::vector<std::uint8_t> file = MakeBMP(fields);
        TSpanStream stream(file);
        std::vector<TDIB> alpha(2);
        alpha[1].LoadFromStream(stream);
        ASSERT_TRUE(alpha[1].Compressed());
        const std::vector<TDIB> images(2, Grey(4, 2));
        TAnimationFrames frames;
        frames.Frames = images;
        frames.Alpha = alpha;
        const apng_test::TAPNG png = apng_test::ReadAPNG(EncodeAPNG(frames));
        ASSERT_EQ(png.Canvases.size(), 2u);
        std::vector<std::uint8_t> shown;
        for (std::size_t p = 3; p < png.Canvases[1].size(); p += 4)
            shown.push_back(png.Canvases[1][p]);
        EXPECT_EQ(shown, (std::vector<std::uint8_t> { 0, 128, 9, 200, 255, 255, 255, 255 }));
    }

    class AnimationFileWrite : public testing::Test {
    protected:
        void SetUp() override
        {
            m_dir = fs::path(testing::TempDir())
                / ("zx-anim-write-" + std::to_string(::getpid()) + "-"
                    + testing::UnitTest::GetInstance()->current_test_info()->name());
            fs::remove_all(m_dir);
            fs::create_directories(m_dir);
            m_frames.Frames = m_images;
        }
        void TearDown() override { fs::remove_all(m_dir); }

        // The folder holds exactly these names.
        void ExpectEntries(const std::vector<std::string>& names)
        {
            std::vector<std::string> found;
            for (const auto& entry : fs::directory_iterator(m_dir))
                found.push_back(entry.path().filename().string());
            std::sort(found.begin(), found.end());
            EXPECT_EQ(found, names);
        }

        static std::string Contents(const fs::path& path)
        {
            std::ifstream in(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }

        fs::path m_dir;
        std::vector<TDIB> m_images = { Noisy(0), Noisy(1) };
        TAnimationFrames m_frames;
    };

    TEST_F(AnimationFileWrite, AnUnwritableTargetFailsAndLeavesNothing)
    {
        // A folder that does not exist, and a target that is a folder (the
        // finished file cannot be renamed over it).
        fs::create_directories(m_dir / "taken" / "inside");
        for (const TWriter& writer : Writers()) {
            EXPECT_THROW(writer.Save((m_dir / "missing" / "x").string(), m_frames), EStreamError)
                << writer.Name;
            EXPECT_THROW(writer.Save((m_dir / "taken").string(), m_frames), EStreamError)
                << writer.Name;
        }
        EXPECT_TRUE(fs::is_directory(m_dir / "taken" / "inside"));
        ExpectEntries({ "taken" });
    }

    TEST_F(AnimationFileWrite, AFullDiskKeepsTheOldFileWholeAndLeavesNoTemporaryFile)
    {
        const fs::path out = m_dir / "flag";
        {
            std::ofstream existing(out, std::ios::binary);
            existing << "the file from before";
        }
        // The file size limit makes write() fail part-way, as a full disk
        // does (with EFBIG rather than ENOSPC); SIGXFSZ would end the test.
        struct rlimit saved { };
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 100;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        for (const TWriter& writer : Writers()) {
            ASSERT_GT(writer.Encode(m_frames).size(), 100u) << writer.Name;
            EXPECT_THROW(writer.Save(out.string(), m_frames), EWriteError) << writer.Name;
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(Contents(out), "the file from before");
        ExpectEntries({ "flag" });
    }

} // namespace
} // namespace zx
