// zephyrix-cli export and encode writing animated WebP and APNG: the format
// from the name or --format, the files read back by libwebp's decoder and the
// tests' own APNG reader against the frames command's pictures, the options
// of one format refused for another, and failed writes that lose nothing.

#include "APNGTestReader.h"
#include "AnimTestUtil.h"
#include "CliTestUtil.h"
#include "WebPTestDecoder.h"
#include "core/Stream.h"
#include "core/flag/FlagRenderer.h"
#include "core/imaging/XDIBUnit.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zx {
namespace {

    namespace fs = std::filesystem;

    // Frame i of a frames run as RGBA, top row first, opaque.
    std::vector<std::uint8_t> BmpRGBA(const fs::path& path)
    {
        TMemoryStream stream(ReadFileBytes(path.string()));
        TDIB dib;
        dib.LoadFromStream(stream);
        std::vector<std::uint8_t> rgba;
        for (std::int32_t y = 0; y < dib.Height(); ++y)
            for (std::int32_t x = 0; x < dib.Width(); ++x) {
                const std::uint32_t c = dib.Pixel(x, y);
                rgba.insert(rgba.end(),
                    { std::uint8_t(c), std::uint8_t(c >> 8), std::uint8_t(c >> 16), 255 });
            }
        return rgba;
    }

    class CliAnimFormat : public cli_test::TCliTest {
    protected:
        // The frames command's pictures of the same flag, RGBA.
        std::vector<std::vector<std::uint8_t>> Frames(const std::string& flagOptions)
        {
            const fs::path dir = m_dir / ("frames-" + std::to_string(m_runs++));
            EXPECT_EQ(Run("frames -d " + dir.string() + " " + flagOptions), 0) << Stderr();
            std::vector<std::vector<std::uint8_t>> frames;
            for (int k = 0;; ++k) {
                const fs::path bmp
                    = dir / ((k < 10 ? "frame-0" : "frame-") + std::to_string(k) + ".bmp");
                if (!fs::exists(bmp))
                    break;
                frames.push_back(BmpRGBA(bmp));
            }
            return frames;
        }
        std::vector<std::uint8_t> Bytes(const std::string& name) const
        {
            return ReadFileBytes(Path(name).string());
        }
        // The names in the test's folder that are not frames folders.
        std::vector<std::string> Files() const
        {
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(m_dir)) {
                const std::string name = entry.path().filename().string();
                if (name != "stdout" && name != "stderr" && name.rfind("frames-", 0) != 0)
                    names.push_back(name);
            }
            std::sort(names.begin(), names.end());
            return names;
        }

        int m_runs = 0;
    };

    const std::string kFlag = "--frames 4 --size 64x40 --antialias 2";

    TEST_F(CliAnimFormat, LosslessWebPAndAPNGHoldTheRenderedFramesExactly)
    {
        const auto frames = Frames(kFlag + " --opaque");
        ASSERT_EQ(frames.size(), 4u);
        ASSERT_EQ(Run("export -o " + Path("flag.webp").string() + " --lossless --delay 7 --loops 3 "
                      + kFlag + " --opaque"),
            0)
            << Stderr();
        const webp_test::TDecoded webp = webp_test::Decode(Bytes("flag.webp"));
        EXPECT_EQ(webp.Width, 64u);
        EXPECT_EQ(webp.Height, 40u);
        EXPECT_EQ(webp.Loops, 3u);
        ASSERT_EQ(webp.Frames.size(), 4u);
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_EQ(webp.Frames[k].Rgba, frames[k]) << "frame " << k;
            EXPECT_EQ(webp.Frames[k].Timestamp, 70 * int(k + 1));
        }

        // .PNG in capitals is an APNG too; slider position 101 loops for ever.
        ASSERT_EQ(Run("export -o " + Path("flag.PNG").string() + " --delay 7 --loops 101 " + kFlag
                      + " --opaque"),
            0)
            << Stderr();
        const apng_test::TAPNG apng = apng_test::ReadAPNG(Bytes("flag.PNG"));
        EXPECT_EQ(apng.ColourType, 2); // every pixel opaque: RGB
        EXPECT_EQ(apng.Plays, 0u);
        ASSERT_EQ(apng.Canvases.size(), 4u);
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_EQ(apng.Canvases[k], frames[k]) << "frame " << k;
            EXPECT_EQ(apng.Controls[k].DelayNum, 7);
            EXPECT_EQ(apng.Controls[k].DelayDen, 100);
        }
        EXPECT_EQ(Files(), (std::vector<std::string> { "flag.PNG", "flag.webp" }));
    }

    TEST_F(CliAnimFormat, TheScaleMakesLargerWebPAndAPNGFramesOfTheFramesCommand)
    {
        // --scale reaches the other formats through the same export job.
        const std::string flag = kFlag + " --opaque --scale 2";
        const auto frames = Frames(flag);
        ASSERT_EQ(frames.size(), 4u);
        ASSERT_EQ(frames[0].size(), std::size_t(128 * 80 * 4));
        ASSERT_EQ(Run("export -q -o " + Path("big.webp").string() + " --lossless " + flag), 0)
            << Stderr();
        const webp_test::TDecoded webp = webp_test::Decode(Bytes("big.webp"));
        EXPECT_EQ(webp.Width, 128u);
        EXPECT_EQ(webp.Height, 80u);
        ASSERT_EQ(webp.Frames.size(), 4u);
        ASSERT_EQ(Run("export -q -o " + Path("big.png").string() + " " + flag), 0) << Stderr();
        const apng_test::TAPNG apng = apng_test::ReadAPNG(Bytes("big.png"));
        ASSERT_EQ(apng.Canvases.size(), 4u);
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_EQ(webp.Frames[k].Rgba, frames[k]) << "frame " << k;
            EXPECT_EQ(apng.Canvases[k], frames[k]) << "frame " << k;
        }
        // Too large at the scale: refused before anything is written.
        EXPECT_EQ(Run("export -o " + Path("huge.webp").string() + " --size 1000x97 --scale 2"), 1);
        EXPECT_EQ(Files(), (std::vector<std::string> { "big.png", "big.webp" }));
    }

    TEST_F(CliAnimFormat, TransparentModeGivesCoverageAlpha)
    {
        const auto frames = Frames(kFlag + " --distance 40");
        ASSERT_EQ(frames.size(), 4u);
        ASSERT_EQ(
            Run("export -o " + Path("flag.apng").string() + " " + kFlag + " --distance 40"), 0)
            << Stderr();
        const apng_test::TAPNG apng = apng_test::ReadAPNG(Bytes("flag.apng"));
        EXPECT_EQ(apng.ColourType, 6);
        ASSERT_EQ(apng.Canvases.size(), 4u);
        for (std::size_t k = 0; k < 4; ++k) {
            const auto& got = apng.Canvases[k];
            ASSERT_EQ(got.size(), frames[k].size());
            std::size_t clear = 0, partial = 0;
            for (std::size_t p = 0; p < got.size(); p += 4) {
                const std::uint8_t a = got[p + 3];
                if (a == 0) {
                    // Nothing of the flag, and no checkerboard grey either.
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(got[p + c], 0) << p;
                    ++clear;
                } else if (a == 255) {
                    // Wholly on the flag: the frame's own colour.
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(got[p + c], frames[k][p + c]) << p;
                } else {
                    ++partial;
                }
            }
            EXPECT_GT(clear, 0u);
            EXPECT_LT(clear, got.size() / 4);
            EXPECT_GT(partial, 0u);
        }

        // The lossy WebP keeps the same alpha exactly, whatever the quality.
        ASSERT_EQ(Run("export -o " + Path("flag.webp").string() + " --webp-quality 20 " + kFlag
                      + " --distance 40"),
            0)
            << Stderr();
        const webp_test::TDecoded webp = webp_test::Decode(Bytes("flag.webp"));
        ASSERT_EQ(webp.Frames.size(), 4u);
        for (std::size_t k = 0; k < 4; ++k)
            for (std::size_t p = 3; p < frames[k].size(); p += 4)
                ASSERT_EQ(webp.Frames[k].Rgba[p], apng.Canvases[k][p]) << k << " " << p;
    }

    TEST_F(CliAnimFormat, FormatOptionOverridesAnUnknownNameAndLeavesTheGifAsItWas)
    {
        ASSERT_EQ(Run("export -o " + Path("plain.gif").string() + " " + kFlag), 0) << Stderr();
        ASSERT_EQ(Run("export -o " + Path("named.GIF").string() + " --format gif " + kFlag), 0);
        ASSERT_EQ(Run("export -o " + Path("other.out").string() + " " + kFlag), 0);
        EXPECT_EQ(Bytes("named.GIF"), Bytes("plain.gif"));
        EXPECT_EQ(Bytes("other.out"), Bytes("plain.gif"));

        ASSERT_EQ(Run("export -o " + Path("anim.bin").string() + " --format=webp " + kFlag), 0);
        const auto webp = Bytes("anim.bin");
        ASSERT_GT(webp.size(), 12u);
        EXPECT_EQ(std::string(webp.begin() + 8, webp.begin() + 12), "WEBP");
        ASSERT_EQ(Run("export -o " + Path("anim.dat").string() + " --format apng " + kFlag), 0);
        EXPECT_EQ(apng_test::ReadAPNG(Bytes("anim.dat")).Canvases.size(), 4u);
    }

    TEST_F(CliAnimFormat, OptionsOfAnotherFormatAreRefusedWithOneLine)
    {
        {
            std::ofstream(Path("keep.webp"), std::ios::binary) << "old webp";
            std::ofstream(Path("keep.png"), std::ios::binary) << "old png";
            std::ofstream(Path("keep.gif"), std::ios::binary) << "old gif";
        }
        struct TCase {
            std::string Target;
            std::string Options;
            std::string Message;
        };
        const std::vector<TCase> cases = {
            { "keep.webp", "--bits 5", "--bits applies to GIF only, not to WebP" },
            { "keep.png", "--quality high", "--quality applies to GIF only, not to APNG" },
            { "keep.png", "--webp-quality 50", "--webp-quality applies to WebP only, not to APNG" },
            { "keep.gif", "--webp-quality 50", "--webp-quality applies to WebP only, not to GIF" },
            { "keep.gif", "--lossless", "--lossless applies to WebP only, not to GIF" },
            { "keep.png", "--lossless", "--lossless applies to WebP only, not to APNG" },
            { "keep.webp", "--lossless --webp-quality 80",
                "--webp-quality applies to lossy WebP only, not with --lossless" },
            { "keep.gif", "--format webp", "names a GIF file, but --format webp was given" },
            { "keep.webp", "--format png", "--format must be gif, webp or apng, not \"png\"" },
            { "keep.webp", "--webp-quality 101", "--webp-quality" },
            { "keep.webp", "--lossless=1", "--lossless takes no value" },
        };
        for (const TCase& c : cases) {
            for (const std::string command : { "export --frames 2", "encode frame.bmp" }) {
                const std::string line
                    = command + " -o " + Path(c.Target).string() + " " + c.Options;
                EXPECT_EQ(Run(line), 1) << line;
                const std::string err = Stderr();
                EXPECT_NE(err.find(c.Message), std::string::npos) << line << ": " << err;
                EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << line << ": " << err;
            }
        }
        EXPECT_EQ(ReadText(Path("keep.webp")), "old webp");
        EXPECT_EQ(ReadText(Path("keep.png")), "old png");
        EXPECT_EQ(ReadText(Path("keep.gif")), "old gif");
        EXPECT_EQ(Files(), (std::vector<std::string> { "keep.gif", "keep.png", "keep.webp" }));
    }

    TEST_F(CliAnimFormat, FailedWritesKeepTheOldFileAndLeaveNoTemporaryFile)
    {
        for (const std::string name : { "old.webp", "old.png" }) {
            std::ofstream(Path(name), std::ios::binary) << "the file from before";
            // A file size limit of one block makes the write fail part-way, as
            // a full disk does; the shell ignores SIGXFSZ for the CLI.
            const std::string limited = "trap '' XFSZ; ulimit -f 1; " + Quote(ZX_CLI_PATH)
                + " export -o " + Quote(Path(name).string()) + " --frames 3 --size 160x100 >"
                + Quote(Path("stdout").string()) + " 2>" + Quote(Path("stderr").string());
            const int status = std::system(("sh -c " + Quote(limited)).c_str());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << name;
            EXPECT_NE(Stderr(), "") << name;
            EXPECT_EQ(ReadText(Path(name)), "the file from before") << name;

            // A target that is a folder cannot be replaced.
            fs::create_directories(Path("dir-" + name) / "inside");
            EXPECT_EQ(Run("export -o " + Path("dir-" + name).string() + " --frames 1 --format "
                          + (name == "old.webp" ? "webp" : "apng")),
                1);
            EXPECT_TRUE(fs::is_directory(Path("dir-" + name) / "inside"));
            // A folder that does not exist.
            EXPECT_EQ(Run("export -o " + (m_dir / "missing" / name).string() + " --frames 1"), 1);
        }
        EXPECT_EQ(Files(),
            (std::vector<std::string> { "dir-old.png", "dir-old.webp", "old.png", "old.webp" }));
    }

    TEST_F(CliAnimFormat, EncodeWritesTheGivenFramesLosslessly)
    {
        const auto frames = Frames("--frames 3 --size 48x32");
        ASSERT_EQ(frames.size(), 3u);
        std::string list;
        for (int k = 0; k < 3; ++k)
            list += (m_dir / "frames-0" / ("frame-0" + std::to_string(k) + ".bmp")).string() + " ";
        ASSERT_EQ(Run("encode " + list + "-o " + Path("e.webp").string()
                      + " --lossless --delay 4 --loops 0"),
            0)
            << Stderr();
        const webp_test::TDecoded webp = webp_test::Decode(Bytes("e.webp"));
        ASSERT_EQ(webp.Frames.size(), 3u);
        EXPECT_EQ(webp.Loops, 0u);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(webp.Frames[k].Rgba, frames[k]);
            EXPECT_EQ(webp.Frames[k].Timestamp, 40 * int(k + 1));
        }
        ASSERT_EQ(Run("encode " + list + "-o " + Path("e.png").string() + " --loops 12"), 0)
            << Stderr();
        const apng_test::TAPNG apng = apng_test::ReadAPNG(Bytes("e.png"));
        EXPECT_EQ(apng.Plays, 12u);
        ASSERT_EQ(apng.Canvases.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(apng.Canvases[k], frames[k]);
        // Lossy WebP: the default quality is 90, and --webp-quality reaches
        // the encoder (a lower quality: a smaller file, further from the frames).
        ASSERT_EQ(Run("encode " + list + "-o " + Path("q90.webp").string()), 0) << Stderr();
        ASSERT_EQ(
            Run("encode " + list + "-o " + Path("explicit.webp").string() + " --webp-quality=90"),
            0);
        ASSERT_EQ(
            Run("encode " + list + "-o " + Path("q10.webp").string() + " --webp-quality 10"), 0);
        EXPECT_EQ(Bytes("q90.webp"), Bytes("explicit.webp"));
        EXPECT_LT(Bytes("q10.webp").size(), Bytes("q90.webp").size());
        const webp_test::TDecoded q90 = webp_test::Decode(Bytes("q90.webp"));
        const webp_test::TDecoded q10 = webp_test::Decode(Bytes("q10.webp"));
        ASSERT_EQ(q90.Frames.size(), 3u);
        ASSERT_EQ(q10.Frames.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NE(q90.Frames[k].Rgba, frames[k]);
            EXPECT_GT(anim_test::RgbPsnr(q90.Frames[k].Rgba, frames[k]),
                anim_test::RgbPsnr(q10.Frames[k].Rgba, frames[k]) + 1.0);
        }
    }

} // namespace
} // namespace zx
