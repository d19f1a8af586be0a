#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace zx;
namespace fs = std::filesystem;

namespace {

const std::string kJPEGDir = std::string(ZX_TEST_DATA_DIR) + "/jpeg/";

std::string Quote(const std::string& text)
{
    return "'" + text + "'";
}

// Runs zephyrix-cli with stderr captured into a file; returns the exit status.
int RunCli(const std::string& arguments, const fs::path& errors)
{
    const std::string command
        = Quote(ZX_CLI_PATH) + " " + arguments + " >/dev/null 2>" + Quote(errors.string());
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CliConvert : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path()
            / ("zx-cli-convert-"
                + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-"
                + std::to_string(::getpid()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path m_folder;
};

} // namespace

TEST_F(CliConvert, WritesTheLoadedPictureAsTwentyFourBitBMP)
{
    const fs::path out = m_folder / "out.bmp";
    // Every road: JPEG, GIF, BMP.
    for (const std::string name :
        { "jpeg/odd-333x77-420.jpg", "jpeg/grey-64x48.jpg", "jpeg/cmyk-ycck-adobe-64x48.jpg",
            "gif/crafted/lct-interlaced-transparent-333x77.gif", "bmp/bmpsuite/g/pal8.bmp" }) {
        const std::string path = std::string(ZX_TEST_DATA_DIR) + "/" + name;
        ASSERT_EQ(RunCli("convert " + Quote(path) + " " + Quote(out.string()), m_folder / "err"), 0)
            << name;
        TDIB expected;
        LoadPictureFile(path, expected);

        const std::vector<std::uint8_t> written = ReadFileBytes(out.string());
        TSpanStream stream(written);
        TDIB converted;
        converted.LoadFromStream(stream);
        ASSERT_EQ(converted.BitCount(), 24) << name;
        ASSERT_EQ(converted.Width(), expected.Width()) << name;
        ASSERT_EQ(converted.Height(), expected.Height()) << name;
        for (int y = 0; y < expected.Height(); ++y)
            ASSERT_EQ(0,
                std::memcmp(converted.ConstScanLine(y), expected.ConstScanLine(y),
                    std::size_t(expected.Width()) * 3))
                << name << " row " << y;
    }
}

TEST_F(CliConvert, FailsWithOneLineAndWritesNothing)
{
    const fs::path out = m_folder / "out.bmp";
    const fs::path err = m_folder / "err";
    const auto lines = [&] {
        const std::vector<std::uint8_t> text = ReadFileBytes(err.string());
        return std::count(text.begin(), text.end(), '\n');
    };

    // A picture that does not load: non-zero status, one line, no file.
    EXPECT_NE(RunCli("convert " + Quote(kJPEGDir + "truncated-half-333x77.jpg") + " "
                      + Quote(out.string()),
                  err),
        0);
    EXPECT_EQ(lines(), 1);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_NE(
        RunCli("convert " + Quote((m_folder / "missing.jpg").string()) + " " + Quote(out.string()),
            err),
        0);
    EXPECT_EQ(lines(), 1);
    EXPECT_FALSE(fs::exists(out));

    // Wrong arguments.
    EXPECT_NE(RunCli("convert " + Quote(kJPEGDir + "grey-64x48.jpg"), err), 0);
    EXPECT_EQ(lines(), 1);
    EXPECT_NE(RunCli("convert " + Quote(kJPEGDir + "grey-64x48.jpg") + " " + Quote(out.string())
                      + " extra",
                  err),
        0);
    EXPECT_FALSE(fs::exists(out));

    // An existing file survives a failed conversion.
    const std::vector<std::uint8_t> old { 'o', 'l', 'd' };
    WriteFileAtomic(out.string(), old);
    EXPECT_NE(
        RunCli("convert " + Quote(kJPEGDir + "empty.jpg") + " " + Quote(out.string()), err), 0);
    EXPECT_EQ(ReadFileBytes(out.string()), old);
}

TEST_F(CliConvert, FramesReadsItsPictureThroughTheSameLoader)
{
    // A JPEG and a GIF picture: both need the picture loader's roads.
    for (const std::string name : { "jpeg/grey-64x48.jpg", "gif/crafted/valid-4x3.gif" }) {
        const fs::path dir = m_folder / "frames";
        fs::remove_all(dir);
        const std::string path = std::string(ZX_TEST_DATA_DIR) + "/" + name;
        ASSERT_EQ(RunCli("frames " + Quote(path) + " -d " + Quote(dir.string()) + " --frames 1",
                      m_folder / "err"),
            0)
            << name;
        EXPECT_TRUE(fs::exists(dir / "frame-00.bmp")) << name;
    }
    // A damaged JPEG fails the command with the loader's error.
    const fs::path err = m_folder / "err";
    EXPECT_NE(
        RunCli("frames " + Quote(std::string(ZX_TEST_DATA_DIR) + "/jpeg/truncated-half-333x77.jpg")
                + " -d " + Quote((m_folder / "bad").string()),
            err),
        0);
    const std::vector<std::uint8_t> text = ReadFileBytes(err.string());
    EXPECT_NE(std::string(text.begin(), text.end()).find("JPEG-Fehler #"), std::string::npos);
}
