// zephyrix-cli's --lossy, --max-size and --verbose on export and encode: level
// 0 and no limit change no byte, a limit is never exceeded (GIF, WebP, APNG)
// and the choice is told on stderr, a limit nothing meets writes nothing, and
// the sizes the option reads.

#include "APNGTestReader.h"
#include "CliTestUtil.h"
#include "GIFTestUtil.h"
#include "WebPTestDecoder.h"
#include "core/Stream.h"
#include "core/flag/FlagSettings.h"
#include "core/flag/FlagSettingsOptions.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using zx::cli_test::TCliTest;
using zx::gif_test::GiflibDecode;

namespace {

class CliSize : public TCliTest {
protected:
    std::vector<std::uint8_t> Bytes(const std::string& name) const
    {
        return zx::ReadFileBytes(Path(name).string());
    }
    // "-o" and the file in the test's folder.
    std::string Out(const std::string& name) const { return "-o " + Quote(Path(name).string()); }
    std::uint64_t SizeOf(const std::string& name) const
    {
        return std::filesystem::file_size(Path(name));
    }
    // The digits of a number grouped by blanks, as the CLI writes them.
    static std::string Grouped(std::uint64_t value)
    {
        std::string digits = std::to_string(value);
        for (std::ptrdiff_t at = std::ptrdiff_t(digits.size()) - 3; at > 0; at -= 3)
            digits.insert(std::size_t(at), " ");
        return digits;
    }
    // Frames for encode: a few of the export's, written as BMP by frames.
    std::vector<std::string> Frames(const std::string& options)
    {
        EXPECT_EQ(Run("frames -d " + Quote(Path("frames").string()) + " " + options), 0)
            << Stderr();
        std::vector<std::string> paths;
        for (const auto& entry : std::filesystem::directory_iterator(Path("frames")))
            paths.push_back(entry.path().string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

} // namespace

TEST_F(CliSize, LevelZeroAndNoLimitWriteTheBytesOfTheOptionsAlone)
{
    for (const std::string options : { "--frames 5", "--quality high --frames 4 --bits 6",
             "--opaque --size 120x80 --frames 3" }) {
        ASSERT_EQ(Run("export " + Out("plain.gif") + " " + options), 0) << Stderr();
        ASSERT_EQ(Run("export " + Out("zero.gif") + " --lossy 0 --max-size 0 " + options), 0)
            << Stderr();
        EXPECT_EQ(Bytes("plain.gif"), Bytes("zero.gif")) << options;
        // Nothing new on stderr without --verbose and without a limit.
        EXPECT_EQ(Stderr(), "") << options;
    }
    const std::vector<std::string> frames = Frames("--frames 3 --size 64x40");
    std::string list;
    for (const std::string& frame : frames)
        list += " " + Quote(frame);
    ASSERT_EQ(Run("encode " + Out("plain.gif") + " " + list), 0) << Stderr();
    ASSERT_EQ(Run("encode " + Out("zero.gif") + " --lossy 0" + list), 0) << Stderr();
    EXPECT_EQ(Bytes("plain.gif"), Bytes("zero.gif"));
}

TEST_F(CliSize, LossyFilesAreSmallerAndDecode)
{
    for (const std::string quality : { "standard", "high" }) {
        const std::string options = " --frames 4 --size 200x120 --quality " + quality;
        ASSERT_EQ(Run("export " + Out("plain.gif") + " " + options), 0) << Stderr();
        ASSERT_EQ(Run("export " + Out("lossy.gif") + " --lossy 80" + options), 0) << Stderr();
        EXPECT_LT(SizeOf("lossy.gif"), SizeOf("plain.gif")) << quality;
        const auto decoded = GiflibDecode(Bytes("lossy.gif"));
        EXPECT_EQ(decoded.Frames.size(), 4u) << quality;
    }
}

TEST_F(CliSize, TheLimitIsNeverExceededAndTheChoiceIsTold)
{
    const std::string options = " --frames 6 --size 200x120";
    ASSERT_EQ(Run("export " + Out("plain.gif") + " " + options), 0) << Stderr();
    const std::uint64_t plain = SizeOf("plain.gif");
    // Generous (the file as it is), reachable with loss, reachable only with
    // fewer colours or a smaller frame.
    for (const std::uint64_t limit :
        { plain * 2, plain * 7 / 10, plain / 2, plain / 4, plain / 12 }) {
        ASSERT_EQ(Run("export " + Out("fit.gif") + " --verbose --max-size " + std::to_string(limit)
                      + options),
            0)
            << Stderr();
        const std::uint64_t size = SizeOf("fit.gif");
        EXPECT_LE(size, limit);
        const std::string err = Stderr();
        // "LIMIT: --lossy N ..., SIZE bytes, K encodes", then the bytes written.
        EXPECT_EQ(err.rfind(std::to_string(limit) + ": --lossy ", 0), 0u) << err;
        EXPECT_NE(err.find(", " + Grouped(size) + " bytes, "), std::string::npos) << err;
        EXPECT_NE(err.find("fit.gif: " + Grouped(size) + " bytes written\n"), std::string::npos)
            << err;
        // At the full frame size the loss and the colours come in fine
        // steps; the frame size steps by about a fifth of the area, so below
        // that the file may fall further short.
        const bool fullSize = err.find("--size") == std::string::npos;
        if (limit >= plain) {
            EXPECT_EQ(Bytes("fit.gif"), Bytes("plain.gif"));
        } else if (fullSize) {
            EXPECT_GE(size * 10, limit * 9) << "limit " << limit << ": " << err;
        }
        EXPECT_EQ(GiflibDecode(Bytes("fit.gif")).Frames.size(), 6u);
    }
    // K and M, on encode too.
    const std::vector<std::string> frames = Frames("--frames 3 --size 160x100");
    std::string list;
    for (const std::string& frame : frames)
        list += " " + Quote(frame);
    ASSERT_EQ(Run("encode " + Out("fit.gif") + " --max-size 20K" + list), 0) << Stderr();
    EXPECT_LE(SizeOf("fit.gif"), 20u * 1024);
    EXPECT_EQ(Stderr().rfind("20K: --lossy ", 0), 0u) << Stderr();
}

TEST_F(CliSize, ALimitNothingMeetsWritesNothingAndKeepsTheFile)
{
    {
        std::ofstream(Path("kept.gif"), std::ios::binary) << "earlier file";
    }
    EXPECT_EQ(Run("export " + Out("kept.gif") + " --frames 3 --max-size 100"), 1);
    const std::string err = Stderr();
    EXPECT_NE(err.find("100: no setting fits; the smallest file, with --lossy 200 --bits 3"),
        std::string::npos)
        << err;
    EXPECT_EQ(ReadText(Path("kept.gif")), "earlier file");
    EXPECT_EQ(Run("export " + Out("new.gif") + " --frames 3 --max-size 100"), 1);
    EXPECT_FALSE(std::filesystem::exists(Path("new.gif")));
}

TEST_F(CliSize, BadLevelsAndSizesAreRefused)
{
    for (const std::string bad : { "--lossy 201", "--lossy -1", "--lossy x", "--max-size 12Q",
             "--max-size K", "--max-size -5", "--max-size 3G", "--max-size 2048M" }) {
        EXPECT_EQ(Run("export " + Out("x.gif") + " " + bad), 1) << bad;
        EXPECT_NE(Stderr().find(bad.substr(0, bad.find(' '))), std::string::npos)
            << bad << ": " << Stderr();
        EXPECT_FALSE(std::filesystem::exists(Path("x.gif"))) << bad;
    }
}

TEST(CliSizeOptions, SizesReadWithTheirUnits)
{
    EXPECT_EQ(zx::ParseByteSize("--max-size", "0"), 0);
    EXPECT_EQ(zx::ParseByteSize("--max-size", "1000"), 1000);
    EXPECT_EQ(zx::ParseByteSize("--max-size", "256K"), 262144);
    EXPECT_EQ(zx::ParseByteSize("--max-size", "8M"), 8388608);
    EXPECT_EQ(zx::ParseByteSize("--max-size", "3k"), 3072);
    for (const char* bad : { "", "K", "1.5M", "12KB", " 12", "-1", "1234567890123" })
        EXPECT_THROW(zx::ParseByteSize("--max-size", bad), zx::EUsageError) << bad;

    // The stored KB, and the bytes of --max-size, which win.
    zx::TSettings settings;
    EXPECT_EQ(zx::SizeOptionsOf(settings).MaxSize, 0u);
    settings.MaxSizeKB = 256;
    settings.Lossy = 40;
    EXPECT_EQ(zx::SizeOptionsOf(settings).MaxSize, 262144u);
    EXPECT_EQ(zx::SizeOptionsOf(settings).Lossy, 40);
    settings.MaxSizeBytes = 1000;
    EXPECT_EQ(zx::SizeOptionsOf(settings).MaxSize, 1000u);
}

TEST_F(CliSize, WebPAndAPNGStayWithinTheLimitAndTellTheChoice)
{
    const std::string options = " --frames 6 --size 200x120";
    for (const std::string name : { "fit.webp", "fit.png" }) {
        const bool webp = name == "fit.webp";
        const std::string plainName = webp ? "plain.webp" : "plain.png";
        ASSERT_EQ(Run("export " + Out(plainName) + options), 0) << Stderr();
        const std::uint64_t plain = SizeOf(plainName);
        for (const std::uint64_t limit : { plain * 2, plain / 2, plain / 5 }) {
            SCOPED_TRACE(name + " limit " + std::to_string(limit));
            ASSERT_EQ(Run("export " + Out(name) + " --verbose --max-size " + std::to_string(limit)
                          + options),
                0)
                << Stderr();
            const std::uint64_t size = SizeOf(name);
            EXPECT_LE(size, limit);
            const std::string err = Stderr();
            // "LIMIT: --webp-quality Q[ --size WxH], SIZE bytes, K encodes",
            // the APNG's without the quality.
            EXPECT_EQ(err.rfind(std::to_string(limit) + (webp ? ": --webp-quality " : ": "), 0), 0u)
                << err;
            EXPECT_NE(err.find(Grouped(size) + " bytes, "), std::string::npos) << err;
            EXPECT_NE(err.find(name + ": " + Grouped(size) + " bytes written\n"), std::string::npos)
                << err;
            if (limit >= plain) {
                EXPECT_EQ(Bytes(name), Bytes(plainName));
            }
            const std::vector<std::uint8_t> file = Bytes(name);
            if (webp) {
                EXPECT_EQ(zx::webp_test::Decode(file).Frames.size(), 6u);
            } else {
                EXPECT_EQ(zx::apng_test::ReadAPNG(file).Canvases.size(), 6u);
            }
        }
    }
    // encode, with a size in K; --lossy stays a GIF's option.
    const std::vector<std::string> frames = Frames("--frames 3 --size 160x100");
    std::string list;
    for (const std::string& frame : frames)
        list += " " + Quote(frame);
    ASSERT_EQ(Run("encode " + Out("fit.webp") + " --max-size 8K" + list), 0) << Stderr();
    EXPECT_LE(SizeOf("fit.webp"), 8u * 1024);
    EXPECT_EQ(Stderr().rfind("8K: --webp-quality ", 0), 0u) << Stderr();
    EXPECT_EQ(zx::webp_test::Decode(Bytes("fit.webp")).Frames.size(), frames.size());
    EXPECT_EQ(Run("export " + Out("lossy.webp") + " --lossy 20 --max-size 8K"), 1);
    EXPECT_NE(Stderr().find("--lossy applies to GIF only, not to WebP"), std::string::npos)
        << Stderr();
}

TEST_F(CliSize, AWebPOrAPNGLimitNothingMeetsWritesNothing)
{
    for (const std::string name : { "kept.webp", "kept.png" }) {
        {
            std::ofstream(Path(name), std::ios::binary) << "earlier file";
        }
        const std::string extra = name == "kept.webp" ? " --lossless" : "";
        EXPECT_EQ(Run("export " + Out(name) + extra + " --frames 3 --max-size 100"), 1) << name;
        const std::string err = Stderr();
        EXPECT_NE(err.find("100: no setting fits; the smallest file, with "
                      + std::string(extra.empty() ? "" : "--lossless ") + "--size "),
            std::string::npos)
            << err;
        EXPECT_EQ(ReadText(Path(name)), "earlier file");
        const std::string fresh = "new" + name.substr(name.find('.'));
        EXPECT_EQ(Run("export " + Out(fresh) + " --frames 3 --max-size 100"), 1);
        EXPECT_NE(Stderr().find("no setting fits"), std::string::npos) << Stderr();
        EXPECT_FALSE(std::filesystem::exists(Path(fresh)));
        // Nothing is left behind in the folder but the earlier file.
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(Path("")))
            files += entry.path().filename().string().find("kept") == 0 ? 1 : 0;
        EXPECT_EQ(files, name == "kept.webp" ? 1u : 2u);
    }
}
