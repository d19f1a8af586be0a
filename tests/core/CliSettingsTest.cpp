// zephyrix-cli --settings: export and frames start from the desktop program's
// saved settings, with its fallbacks, the command line overriding them, and
// the store is never written.

#include "CliTestUtil.h"
#include "GIFTestUtil.h"
#include "core/Stream.h"

#include <chrono>
#include <filesystem>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using zx::gif_test::GiflibDecode;

namespace {

class CliSettings : public zx::cli_test::TCliTest {
protected:
    void SetUp() override
    {
        TCliTest::SetUp();
        UseOwnStore();
    }

    std::size_t FrameFiles(const fs::path& folder) const
    {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            count += entry.path().filename().string().starts_with("frame-") ? 1 : 0;
        return count;
    }

    // Every file of the folder, by name.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Files(
        const fs::path& folder) const
    {
        std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
        for (const auto& entry : fs::directory_iterator(folder))
            files.emplace_back(
                entry.path().filename().string(), zx::ReadFileBytes(entry.path().string()));
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(CliSettings, FramesStartFromTheSavedSettings)
{
    WriteStore("[Settings]\nFrames=3\n");
    ASSERT_EQ(Run("frames", { "--settings", "--size", "24x20", "-d", (m_dir / "a").string() }), 0)
        << Stderr();
    EXPECT_EQ(FrameFiles(m_dir / "a"), 3u);
    // Without --settings the store is not read.
    ASSERT_EQ(Run("frames", { "--size", "24x20", "-d", (m_dir / "b").string() }), 0) << Stderr();
    EXPECT_EQ(FrameFiles(m_dir / "b"), 8u);
    // The command line wins, wherever it stands.
    ASSERT_EQ(
        Run("frames",
            { "--frames", "2", "--settings", "--size", "24x20", "-d", (m_dir / "c").string() }),
        0)
        << Stderr();
    EXPECT_EQ(FrameFiles(m_dir / "c"), 2u);
}

TEST_F(CliSettings, SavedValuesRenderAsTheSameOptionsWould)
{
    WriteStore("[General]\nCurrentDirectory=/tmp\n\n"
               "[Settings]\nDistance=20\nAmplitude=70\nFrequency=-35\nAngle=100\n"
               "BumpIntensity=60\nBumpFrequency=80\nBrightness=140\nContrast=30\n"
               "Antialiasing=1\nInvertLightMode=1\nTransparentMode=0\nBackgroundColor=16744448\n"
               "SpotX=100\nSpotY=-50\nFrames=4\n");
    ASSERT_EQ(
        Run("frames", { "--settings", "--size", "40x30", "-d", (m_dir / "saved").string() }), 0)
        << Stderr();
    // BackgroundColor 16744448 is 0xFF8000: blue FF, green 80, red 00.
    ASSERT_EQ(Run("frames",
                  { "--distance", "20", "--amplitude", "70", "--frequency", "-35", "--angle", "100",
                      "--bump-intensity", "60", "--bump-frequency", "80", "--brightness", "140",
                      "--contrast", "30", "--antialias", "1", "--invert-light", "--background",
                      "0080FF", "--spot", "100,-50", "--frames", "4", "--size", "40x30", "-d",
                      (m_dir / "options").string() }),
        0)
        << Stderr();
    EXPECT_EQ(Files(m_dir / "saved"), Files(m_dir / "options"));
}

TEST_F(CliSettings, SavedValuesFallBackAndClampAsThePanelsControls)
{
    // 100 frames is 40 (the slider's limit); a word, a fraction and a colour
    // beyond 24 bits keep the defaults; a boolean is any non-zero number; the
    // pin point stays within the frame.
    WriteStore("[Settings]\nFrames=100\nDistance=far\nAmplitude=3.5\nBackgroundColor=16777216\n"
               "TransparentMode=0\nInvertLightMode=7\nSpotX=99999\nAntialiasing=9\n");
    ASSERT_EQ(
        Run("frames", { "--settings", "--size", "20x16", "-d", (m_dir / "saved").string() }), 0)
        << Stderr();
    EXPECT_EQ(FrameFiles(m_dir / "saved"), 40u);
    ASSERT_EQ(Run("frames",
                  { "--frames", "40", "--opaque", "--invert-light", "--spot", "511,0",
                      "--antialias", "2", "--size", "20x16", "-d", (m_dir / "options").string() }),
        0)
        << Stderr();
    EXPECT_EQ(Files(m_dir / "saved"), Files(m_dir / "options"));
}

TEST_F(CliSettings, ExportTakesTheSavedGifSettings)
{
    WriteStore("[Settings]\nFrames=3\nGIFDelay=9\nGIFLoops=51\nGIFBits=5\nTransparentMode=0\n");
    const fs::path saved = m_dir / "saved.gif";
    ASSERT_EQ(Run("export", { "--settings", "--size", "30x20", "-o", saved.string() }), 0)
        << Stderr();
    const auto gif = GiflibDecode(zx::ReadFileBytes(saved.string()));
    ASSERT_EQ(gif.Frames.size(), 3u);
    EXPECT_EQ(gif.Loops, 60);
    EXPECT_LE(gif.GlobalColours.size(), 32u);
    for (const auto& frame : gif.Frames) {
        EXPECT_EQ(frame.Delay, 9);
        EXPECT_EQ(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
    }

    // The command line overrides, the switches included.
    const fs::path overridden = m_dir / "overridden.gif";
    ASSERT_EQ(Run("export",
                  { "--settings", "--delay", "7", "--transparent", "--distance", "40", "--size",
                      "30x20", "-o", overridden.string() }),
        0)
        << Stderr();
    const auto other = GiflibDecode(zx::ReadFileBytes(overridden.string()));
    ASSERT_EQ(other.Frames.size(), 3u);
    EXPECT_EQ(other.Loops, 60);
    for (const auto& frame : other.Frames) {
        EXPECT_EQ(frame.Delay, 7);
        EXPECT_NE(frame.TransparentIndex, NO_TRANSPARENT_COLOR);
    }
}

TEST_F(CliSettings, ExportTakesTheSavedQualityLevel)
{
    const std::vector<std::string> common = { "--frames", "3", "--size", "40x30" };
    const auto exportTo = [&](const fs::path& file, std::vector<std::string> extra) {
        std::vector<std::string> args = common;
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), { "-o", file.string() });
        return Run("export", args);
    };
    const fs::path high = m_dir / "high.gif";
    const fs::path standard = m_dir / "standard.gif";
    ASSERT_EQ(exportTo(high, { "--quality", "high" }), 0) << Stderr();
    ASSERT_EQ(exportTo(standard, {}), 0) << Stderr();
    ASSERT_NE(zx::ReadFileBytes(high.string()), zx::ReadFileBytes(standard.string()));

    WriteStore("[Settings]\nHighQuality=1\n");
    const fs::path saved = m_dir / "saved.gif";
    ASSERT_EQ(exportTo(saved, { "--settings" }), 0) << Stderr();
    EXPECT_EQ(zx::ReadFileBytes(saved.string()), zx::ReadFileBytes(high.string()));

    // The command line overrides the saved level.
    const fs::path overridden = m_dir / "overridden.gif";
    ASSERT_EQ(exportTo(overridden, { "--settings", "--quality", "standard" }), 0) << Stderr();
    EXPECT_EQ(zx::ReadFileBytes(overridden.string()), zx::ReadFileBytes(standard.string()));
}

TEST_F(CliSettings, TheStoreIsNeverWritten)
{
    const std::string text = "; kept as it is\n[Settings]\nFrames=2\n";
    WriteStore(text);
    const auto before = fs::last_write_time(StoreFile());
    ASSERT_EQ(Run("frames", { "--settings", "--size", "20x16", "-d", (m_dir / "a").string() }), 0)
        << Stderr();
    std::ifstream in(StoreFile(), std::ios::binary);
    std::stringstream after;
    after << in.rdbuf();
    EXPECT_EQ(after.str(), text);
    EXPECT_EQ(fs::last_write_time(StoreFile()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(StoreFile().parent_path()), {}), 1);

    // No store at all: the defaults, and nothing is created.
    fs::remove_all(m_dir / "config");
    ASSERT_EQ(Run("frames", { "--settings", "--size", "20x16", "-d", (m_dir / "b").string() }), 0)
        << Stderr();
    EXPECT_EQ(FrameFiles(m_dir / "b"), 8u);
    EXPECT_FALSE(fs::exists(m_dir / "config"));
    EXPECT_FALSE(fs::exists(m_dir / "system"));
}

TEST_F(CliSettings, TheTextGroupComesAlong)
{
    // The text itself is never stored; the dialog's other settings are. A saved
    // font that is not installed falls back as the dialog does, with no error.
    WriteStore("[Text]\nFontName=No Such Face\nFontSize=45\nFontColor=255\nFontAngle=30\n"
               "FontShaddow=0\nAlignHorizontal=2\nAlignVertical=9\n");
    ASSERT_EQ(Run("frames",
                  { "--settings", "--text", "Flag", "--frames", "1", "--size", "60x40", "-d",
                      (m_dir / "saved").string() }),
        0)
        << Stderr();
    ASSERT_EQ(Run("frames",
                  { "--text", "Flag", "--font-size", "45", "--font-color", "ff0000", "--font-angle",
                      "30", "--shadow", "0", "--align-h", "right", "--align-v", "bottom",
                      "--frames", "1", "--size", "60x40", "-d", (m_dir / "options").string() }),
        0)
        << Stderr();
    EXPECT_EQ(Files(m_dir / "saved"), Files(m_dir / "options"));
    // The command line still wins.
    ASSERT_EQ(Run("frames",
                  { "--settings", "--text", "Flag", "--font-size", "20", "--frames", "1", "--size",
                      "60x40", "-d", (m_dir / "override").string() }),
        0)
        << Stderr();
    EXPECT_NE(Files(m_dir / "saved"), Files(m_dir / "override"));
}

TEST_F(CliSettings, TheSwitchTakesNoValue)
{
    EXPECT_NE(Run("frames", { "--settings=yes", "-d", (m_dir / "a").string() }), 0);
    EXPECT_NE(Stderr().find("--settings takes no value"), std::string::npos) << Stderr();
    EXPECT_FALSE(fs::exists(m_dir / "a"));
}

} // namespace
