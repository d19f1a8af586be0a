#include "CliTestUtil.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace zx;
namespace fs = std::filesystem;

namespace {

const std::string kJPEGDir = std::string(ZX_TEST_DATA_DIR) + "/jpeg/";

class CliConvert : public zx::cli_test::TCliTest { };

} // namespace

TEST_F(CliConvert, WritesTheLoadedPictureAsTwentyFourBitBMP)
{
    const fs::path out = m_dir / "out.bmp";
    // Every road: JPEG, GIF, BMP.
    for (const std::string name :
        { "jpeg/odd-333x77-420.jpg", "jpeg/grey-64x48.jpg", "jpeg/cmyk-ycck-adobe-64x48.jpg",
            "gif/crafted/lct-interlaced-transparent-333x77.gif", "bmp/bmpsuite/g/pal8.bmp" }) {
        const std::string path = std::string(ZX_TEST_DATA_DIR) + "/" + name;
        ASSERT_EQ(Run("convert " + Quote(path) + " " + Quote(out.string())), 0) << name;
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
    const fs::path out = m_dir / "out.bmp";
    const auto lines = [&] {
        const std::string text = Stderr();
        return std::count(text.begin(), text.end(), '\n');
    };

    // A picture that does not load: non-zero status, one line, no file.
    EXPECT_NE(
        Run("convert " + Quote(kJPEGDir + "truncated-half-333x77.jpg") + " " + Quote(out.string())),
        0);
    EXPECT_EQ(lines(), 1);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_NE(
        Run("convert " + Quote((m_dir / "missing.jpg").string()) + " " + Quote(out.string())), 0);
    EXPECT_EQ(lines(), 1);
    EXPECT_FALSE(fs::exists(out));

    // Wrong arguments.
    EXPECT_NE(Run("convert " + Quote(kJPEGDir + "grey-64x48.jpg")), 0);
    EXPECT_EQ(lines(), 1);
    EXPECT_NE(
        Run("convert " + Quote(kJPEGDir + "grey-64x48.jpg") + " " + Quote(out.string()) + " extra"),
        0);
    EXPECT_FALSE(fs::exists(out));

    // An existing file survives a failed conversion.
    const std::vector<std::uint8_t> old { 'o', 'l', 'd' };
    WriteFileAtomic(out.string(), old);
    EXPECT_NE(Run("convert " + Quote(kJPEGDir + "empty.jpg") + " " + Quote(out.string())), 0);
    EXPECT_EQ(ReadFileBytes(out.string()), old);
}

TEST_F(CliConvert, FramesReadsItsPictureThroughTheSameLoader)
{
    // A JPEG and a GIF picture: both need the picture loader's roads.
    for (const std::string name : { "jpeg/grey-64x48.jpg", "gif/crafted/valid-4x3.gif" }) {
        const fs::path dir = m_dir / "frames";
        fs::remove_all(dir);
        const std::string path = std::string(ZX_TEST_DATA_DIR) + "/" + name;
        ASSERT_EQ(Run("frames " + Quote(path) + " -d " + Quote(dir.string()) + " --frames 1"), 0)
            << name;
        EXPECT_TRUE(fs::exists(dir / "frame-00.bmp")) << name;
    }
    // A damaged JPEG fails the command with the loader's error.
    EXPECT_NE(
        Run("frames " + Quote(std::string(ZX_TEST_DATA_DIR) + "/jpeg/truncated-half-333x77.jpg")
            + " -d " + Quote((m_dir / "bad").string())),
        0);
    EXPECT_NE(Stderr().find("JPEG-Fehler #"), std::string::npos) << Stderr();
}
