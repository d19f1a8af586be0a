// zephyrix-cli's --quality: the standard level writes exactly the bytes the
// program wrote before the high level existed, the high level writes a valid
// GIF, and anything else is refused.

#include "CliTestUtil.h"
#include "GIFTestUtil.h"
#include "core/Stream.h"

#include <cstdint>
#include <filesystem>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

using zx::cli_test::TCliTest;
using zx::gif_test::GiflibDecode;

namespace {

std::uint64_t Fnv1a(const std::vector<std::uint8_t>& bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// The words joined by blanks.
std::string Words(std::initializer_list<std::string> words)
{
    std::string line;
    for (const std::string& word : words)
        line.append(word).append(" ");
    return line;
}

class CliQuality : public TCliTest {
protected:
    std::uint64_t HashOf(const std::string& name) const
    {
        return Fnv1a(zx::ReadFileBytes(Path(name).string()));
    }
};

} // namespace

TEST_F(CliQuality, StandardIsTheDefaultAndWritesTheEarlierBytes)
{
    // FNV-1a of the files written by the build before --quality existed.
    struct TCase {
        std::string Arguments;
        std::uint64_t Hash;
    };
    const TCase cases[] = {
        { "", 0x13893a0c8d27778dull },
        { "--bits 3 --frames 5", 0xaf1a70979fa48d07ull },
        { "--opaque --bits 4 --size 120x80 --frames 6", 0x01675df076ebf98aull },
        { "--size 320x200 --frames 12 --bits 7 --delay 9 --loops 60", 0x42a6d916045b37fbull },
    };
    for (const TCase& c : cases) {
        ASSERT_EQ(Run(Words({ "export", c.Arguments, "-o", Path("a.gif").string() })), 0)
            << Stderr();
        ASSERT_EQ(
            Run(Words({ "export", c.Arguments, "--quality standard -o", Path("b.gif").string() })),
            0)
            << Stderr();
        EXPECT_EQ(HashOf("a.gif"), c.Hash) << c.Arguments;
        EXPECT_EQ(HashOf("b.gif"), c.Hash) << c.Arguments;
    }
    ASSERT_EQ(Run("frames -d " + Path("fr").string() + " --frames 4 --size 64x40"), 0) << Stderr();
    const std::string frames = Path("fr").string() + "/frame-0*.bmp";
    ASSERT_EQ(
        Run("encode " + frames + " --bits 5 --quality standard -o " + Path("e.gif").string()), 0)
        << Stderr();
    EXPECT_EQ(HashOf("e.gif"), 0xb8740ae96bf11078ull);
}

TEST_F(CliQuality, HighWritesAValidAnimationOnExportAndEncode)
{
    ASSERT_EQ(Run("export --quality high --frames 5 --bits 4 -o " + Path("x.gif").string()), 0)
        << Stderr();
    const auto exported = GiflibDecode(zx::ReadFileBytes(Path("x.gif").string()));
    ASSERT_EQ(exported.Frames.size(), 5u);
    EXPECT_EQ(exported.GlobalColours.size(), 16u);
    for (const auto& frame : exported.Frames)
        EXPECT_EQ(frame.TransparentIndex, 15); // the built-in flag leaves background

    ASSERT_EQ(Run("frames -d " + Path("fr").string() + " --frames 3 --size 48x30"), 0) << Stderr();
    const std::string frames = Path("fr").string() + "/frame-0*.bmp";
    ASSERT_EQ(Run("encode " + frames + " --quality=high -o " + Path("e.gif").string()), 0)
        << Stderr();
    const auto encoded = GiflibDecode(zx::ReadFileBytes(Path("e.gif").string()));
    ASSERT_EQ(encoded.Frames.size(), 3u);
    EXPECT_EQ(encoded.GlobalColours.size(), 256u);
    for (const auto& frame : encoded.Frames)
        EXPECT_EQ(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
    // Not the standard level's bytes.
    ASSERT_EQ(Run("encode " + frames + " -o " + Path("s.gif").string()), 0) << Stderr();
    EXPECT_NE(HashOf("e.gif"), HashOf("s.gif"));
}

TEST_F(CliQuality, HighWithLossWritesTheBytesItWroteBefore)
{
    // FNV-1a of the files the high level's lossy coding wrote before its
    // searches were shared between frames and its look-ahead's nearest
    // entries kept for the coded pixels: those only save time.
    struct TCase {
        std::string Arguments;
        std::uint64_t Hash;
    };
    const TCase cases[] = {
        { "--lossy 60 --frames 6 --size 160x100", 0x4b28ef279a47f8f5ull },
        { "--lossy 150 --bits 4 --frames 5 --antialias 1", 0xd6eb494270e2c0ffull },
    };
    for (const TCase& c : cases) {
        ASSERT_EQ(
            Run(Words({ "export --quality high", c.Arguments, "-o", Path("a.gif").string() })), 0)
            << Stderr();
        EXPECT_EQ(HashOf("a.gif"), c.Hash) << c.Arguments;
    }
}

TEST_F(CliQuality, OtherValuesAreRefusedAndWriteNothing)
{
    for (const std::string value : { "best", "High", "" }) {
        EXPECT_NE(Run("export --quality '" + value + "' -o " + Path("x.gif").string()), 0);
        EXPECT_NE(Stderr().find("--quality"), std::string::npos) << Stderr();
        EXPECT_FALSE(std::filesystem::exists(Path("x.gif")));
    }
    EXPECT_NE(Run("export -o " + Path("x.gif").string() + " --quality"), 0);
    EXPECT_FALSE(std::filesystem::exists(Path("x.gif")));
    ASSERT_EQ(Run("encode --help"), 0);
    EXPECT_NE(Stdout().find("--quality standard|high"), std::string::npos);
}
