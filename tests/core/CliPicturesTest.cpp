// zephyrix-cli with the pictures people have: PNG with transparency shaping
// the exported GIF, files recognised whatever their names, and errors that
// say what the file was taken for.

#include "CliTestUtil.h"
#include "GIFTestUtil.h"
#include "PictureTestUtil.h"
#include "core/Stream.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace zx;
using zx::picture_test::Bytes;
using zx::picture_test::EncodePNG;

namespace {

struct TRun {
    int Status = -1;
    std::string Err;
};

class CliPictures : public zx::cli_test::TCliTest {
protected:
    TRun RunCli(const std::string& args) const
    {
        TRun run;
        run.Status = Run(args);
        run.Err = Stderr();
        return run;
    }
    // A file of the test's folder with these bytes; returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        WriteFileAtomic(Path(name).string(), bytes);
        return Path(name).string();
    }
};

// A 60 x 40 picture: an opaque red disk of radius 18 in the middle, the rest
// transparent (or, with surround false, opaque blue).
Bytes Emblem(bool surround)
{
    Bytes rgba;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) {
            const bool disk = (x - 30) * (x - 30) + (y - 20) * (y - 20) < 18 * 18;
            rgba.insert(rgba.end(),
                { std::uint8_t(disk ? 220 : 0), 0, std::uint8_t(disk ? 0 : 200),
                    std::uint8_t(disk || !surround ? 255 : 0) });
        }
    return rgba;
}

} // namespace

TEST_F(CliPictures, ExportOfAPNGWithATransparentSurroundIsTransparentAroundTheShape)
{
    std::size_t transparent = 0;
    for (const bool surround : { false, true }) {
        const std::string png = Write("emblem.png", EncodePNG(Emblem(surround), 60, 40, true));
        const std::string gif = (m_dir / "emblem.gif").string();
        const TRun run = RunCli(
            "export '" + png + "' -o '" + gif + "' --frames 2 --amplitude 0 --distance -20");
        ASSERT_EQ(run.Status, 0) << run.Err;
        const auto decoded = gif_test::GiflibDecode(ReadFileBytes(gif));
        ASSERT_EQ(decoded.Frames.size(), 2u);
        for (const auto& frame : decoded.Frames) {
            // Zoomed in, the opaque picture covers the whole frame: nothing is
            // transparent. The emblem leaves its surround transparent.
            if (!surround) {
                EXPECT_EQ(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
                continue;
            }
            ASSERT_NE(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
            // The frame's centre shows the disk, never the transparent index.
            EXPECT_NE(frame.Pixels[std::size_t(frame.Height / 2 * frame.Width + frame.Width / 2)],
                frame.TransparentIndex);
            for (const std::uint8_t index : frame.Pixels)
                transparent += index == frame.TransparentIndex;
        }
    }
    // About a third of each frame shows the transparent surround.
    EXPECT_GT(transparent, 2u * 3000);
}

TEST_F(CliPictures, PicturesLoadWhateverTheirNames)
{
    const std::string dir = std::string(ZX_TEST_DATA_DIR);
    const std::vector<std::pair<std::string, std::string>> files = {
        { dir + "/jpeg/baseline-420-64x48.jpg", "photo.jpeg" },
        { dir + "/jpeg/baseline-420-64x48.jpg", "PHOTO.JPE" },
        { dir + "/png/pngsuite/basn2c08.png", "flag.bmp" },
        { dir + "/webp/lossy-alpha-48x32.webp", "flag.webp" },
        { dir + "/svg/swallowtail.svg", "flag" },
    };
    for (const auto& [source, name] : files) {
        const std::string path = Write(name, ReadFileBytes(source));
        const std::string bmp = (m_dir / "out.bmp").string();
        const TRun run = RunCli("convert '" + path + "' '" + bmp + "'");
        ASSERT_EQ(run.Status, 0) << name << ": " << run.Err;
        TDIB picture;
        LoadPictureFile(bmp, picture);
        EXPECT_EQ(picture.BitCount(), 24) << name;
    }
    // The SVG's alpha plane next to its colours: transparent in the notch.
    const std::string alpha = (m_dir / "alpha.bmp").string();
    ASSERT_EQ(RunCli("convert '" + dir + "/svg/swallowtail.svg' '" + (m_dir / "c.bmp").string()
                  + "' --alpha '" + alpha + "'")
                  .Status,
        0);
    TDIB plane;
    const Bytes planeFile = ReadFileBytes(alpha);
    TSpanStream stream(planeFile);
    plane.LoadFromStream(stream);
    ASSERT_EQ(plane.BitCount(), 8);
    ASSERT_EQ(plane.Width(), 1280);
    EXPECT_EQ(plane.Pixel(1270, plane.Height() / 2), 0u); // the notch
    EXPECT_EQ(plane.Pixel(100, 10), 255u); // the cloth
}

TEST_F(CliPictures, ErrorsSayWhatTheFileWasTakenFor)
{
    const std::string notes = Write("notes.png", Bytes { 'n', 'o', 't', 'e', 's', '\n' });
    const std::string gif = (m_dir / "x.gif").string();
    TRun run = RunCli("export '" + notes + "' -o '" + gif + "'");
    EXPECT_NE(run.Status, 0);
    EXPECT_EQ(run.Err,
        "zephyrix-cli export: " + notes
            + ": not a picture Zephyrix reads (BMP, JPEG, GIF, PNG, WebP or SVG): DIB 无效\n");

    // A PNG that is damaged says so, with libspng's reason after ours.
    const std::string damaged = Write(
        "damaged.bmp", ReadFileBytes(std::string(ZX_TEST_DATA_DIR) + "/png/pngsuite/xcsn0g01.png"));
    run = RunCli("frames '" + damaged + "' -d '" + (m_dir / "f").string() + "'");
    EXPECT_NE(run.Status, 0);
    EXPECT_EQ(run.Err.rfind("zephyrix-cli frames: " + damaged
                      + ": a damaged or unsupported PNG picture: PNG 文件无效: ",
                  0),
        0u)
        << run.Err;
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1);
    EXPECT_FALSE(std::filesystem::exists(gif));
}
