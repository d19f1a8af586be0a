// End-to-end runs of zephyrix-cli export and encode, with giflib as the judge.

#include "CliTestUtil.h"
#include "GIFTestUtil.h"
#include "core/Stream.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using zx::gif_test::GiflibDecode;

namespace {

class CliExport : public zx::cli_test::TCliTest { };

} // namespace

TEST_F(CliExport, WritesTheAnimationAskedFor)
{
    const fs::path out = m_dir / "flag.gif";
    ASSERT_EQ(Run("export -o " + out.string()
                  + " --frames 6 --size 120x90 --delay 9 --loops 51 --bits 5"),
        0)
        << Stderr();
    EXPECT_EQ(Stderr(), ""); // progress only on a terminal
    const auto gif = GiflibDecode(zx::ReadFileBytes(out.string()));
    const auto& frames = gif.Frames;
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(gif.Loops, 60);
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.Width, 120);
        EXPECT_EQ(frame.Height, 90);
        EXPECT_EQ(frame.Delay, 9);
        EXPECT_EQ(frame.Disposal, DISPOSE_BACKGROUND);
    }
}

TEST_F(CliExport, StartingAgainWithLargePagesKeepsTheCommand)
{
    // The CLI starts itself once more with its allocator tuned: the same
    // arguments and the same file, whether it does (with or without tunables
    // of the user's) or is told not to, and it does not go on starting.
    const std::string args = " --frames 3 --size 64x40 --text 'a b' --bits 4";
    ASSERT_EQ(Run("export -o " + (m_dir / "plain.gif").string() + args), 0) << Stderr();
    const auto plain = zx::ReadFileBytes((m_dir / "plain.gif").string());
    for (const auto& [name, value] : { std::pair { "ZX_MALLOC_TUNED", "1" },
             std::pair { "GLIBC_TUNABLES", "glibc.malloc.tcache_count=0" } }) {
        SCOPED_TRACE(name);
        const char* before = std::getenv(name);
        const std::string saved = before ? before : "";
        ::setenv(name, value, 1);
        const fs::path out = m_dir / "tuned.gif";
        const int status = Run("export -o " + out.string() + args);
        if (before)
            ::setenv(name, saved.c_str(), 1);
        else
            ::unsetenv(name);
        ASSERT_EQ(status, 0) << Stderr();
        EXPECT_EQ(zx::ReadFileBytes(out.string()), plain);
    }
}

TEST_F(CliExport, OpaqueBackgroundHasNoTransparentIndex)
{
    const fs::path out = m_dir / "opaque.gif";
    ASSERT_EQ(Run("export -o " + out.string() + " --frames 2 --background 336699 --distance 40"), 0)
        << Stderr();
    for (const auto& frame : GiflibDecode(zx::ReadFileBytes(out.string())).Frames)
        EXPECT_EQ(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
}

TEST_F(CliExport, ErrorsWriteNothingAndKeepExistingFiles)
{
    const fs::path out = m_dir / "keep.gif";
    {
        std::ofstream existing(out);
        existing << "precious";
    }
    EXPECT_NE(Run("export -o " + out.string() + " --frames 41"), 0);
    EXPECT_NE(Stderr(), "");
    EXPECT_NE(Run("export " + (m_dir / "missing.bmp").string() + " -o " + out.string()), 0);
    EXPECT_NE(Run("export -o " + (m_dir / "no-such-folder" / "x.gif").string()), 0);
    EXPECT_NE(Run("export"), 0);
    std::ifstream in(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
    // Nothing else appeared: no temporary file left behind.
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(m_dir))
        entries += entry.path().extension() == ".gif"
            || entry.path().string().find(".gif.") != std::string::npos;
    EXPECT_EQ(entries, 1u);
}

TEST_F(CliExport, WriteFailureLeavesTheTargetUntouched)
{
    // The target is a folder: the finished temporary file cannot be renamed
    // over it, and must be cleaned up.
    const fs::path target = m_dir / "target.gif";
    fs::create_directories(target / "inside");
    EXPECT_NE(Run("export -o " + target.string() + " --frames 1"), 0);
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    for (const auto& entry : fs::directory_iterator(m_dir))
        EXPECT_EQ(entry.path().string().find("target.gif."), std::string::npos) << entry.path();
}

TEST_F(CliExport, EncodeBuildsTheGifFromFrames)
{
    // Frames made by the frames command serve as ready-made input.
    ASSERT_EQ(Run("frames -d " + m_dir.string() + " --frames 3 --size 40x30"), 0) << Stderr();
    const fs::path out = m_dir / "encoded.gif";
    std::string frames;
    for (int k = 0; k < 3; ++k)
        frames += (m_dir / ("frame-0" + std::to_string(k) + ".bmp")).string() + " ";
    ASSERT_EQ(Run("encode " + frames + "-o " + out.string() + " --bits 4 --delay 3 --loops 0"), 0)
        << Stderr();
    const auto decoded = GiflibDecode(zx::ReadFileBytes(out.string()));
    ASSERT_EQ(decoded.Frames.size(), 3u);
    EXPECT_EQ(decoded.Loops, 0);
    for (const auto& frame : decoded.Frames) {
        EXPECT_EQ(frame.Width, 40);
        EXPECT_EQ(frame.Delay, 3);
        EXPECT_EQ(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
    }
    // A frame of another size is refused.
    ASSERT_EQ(Run("frames -d " + (m_dir / "small").string() + " --frames 1 --size 20x20"), 0);
    EXPECT_NE(Run("encode " + frames + (m_dir / "small" / "frame-00.bmp").string() + " -o "
                  + (m_dir / "mixed.gif").string()),
        0);
    EXPECT_FALSE(fs::exists(m_dir / "mixed.gif"));
    // The frames are read side by side, but the error is the first one in
    // the order given: the frame of another size before a missing one, and
    // the other way round.
    const std::string small = (m_dir / "small" / "frame-00.bmp").string();
    const std::string missing = (m_dir / "missing.bmp").string();
    EXPECT_NE(Run("encode " + frames + small + " " + missing + " -o " + out.string()), 0);
    EXPECT_NE(Stderr().find(small + " is 20 x 20"), std::string::npos) << Stderr();
    EXPECT_NE(Run("encode " + frames + missing + " " + small + " -o " + out.string()), 0);
    EXPECT_NE(Stderr().find(missing), std::string::npos) << Stderr();
    EXPECT_EQ(Stderr().find("20 x 20"), std::string::npos) << Stderr();
    // A place that cannot be written is refused before any frame is read.
    const std::string nowhere = (m_dir / "no-such-folder" / "x.gif").string();
    EXPECT_NE(Run("encode " + frames + missing + " -o " + nowhere), 0);
    EXPECT_NE(Stderr().find(nowhere), std::string::npos) << Stderr();
    EXPECT_EQ(Stderr().find(missing), std::string::npos) << Stderr();
    // More than 40 frames is refused.
    std::string many;
    for (int k = 0; k < 41; ++k)
        many += (m_dir / "frame-00.bmp").string() + " ";
    EXPECT_NE(Run("encode " + many + "-o " + (m_dir / "many.gif").string()), 0);
    EXPECT_FALSE(fs::exists(m_dir / "many.gif"));
}
