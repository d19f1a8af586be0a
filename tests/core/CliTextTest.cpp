// The text options of zephyrix-cli end to end: the text lands on the texture
// before the flag is made, bad values are one line on stderr.

#include "CliTestUtil.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"

#include <cstring>

using zx::cli_test::TCliTest;

namespace {

zx::TDIB LoadBmp(const std::filesystem::path& path)
{
    const std::vector<std::uint8_t> bytes = zx::ReadFileBytes(path.string());
    zx::TSpanStream stream(bytes);
    zx::TDIB picture;
    picture.LoadFromStream(stream);
    return picture;
}

int DifferingPixels(const zx::TDIB& a, const zx::TDIB& b)
{
    int count = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            count += a.Pixel(x, y) != b.Pixel(x, y) ? 1 : 0;
    return count;
}

const std::string kPicture = std::string(ZX_TEST_DATA_DIR) + "/bmp/bmpsuite/g/rgb24.bmp";

class CliText : public TCliTest { };

} // namespace

TEST_F(CliText, ConvertWritesThePreparedTexture)
{
    ASSERT_EQ(Run("convert " + kPicture + " " + Path("plain.bmp").string()), 0) << Stderr();
    ASSERT_EQ(Run("convert " + kPicture + " " + Path("text.bmp").string()
                  + " --text 'Wave\\nflag' --font-color ff0000 --font-size 40 --shadow 0"),
        0)
        << Stderr();
    const zx::TDIB plain = LoadBmp(Path("plain.bmp"));
    const zx::TDIB text = LoadBmp(Path("text.bmp"));
    ASSERT_EQ(text.Width(), plain.Width());
    ASSERT_EQ(text.BitCount(), 24);
    EXPECT_GT(DifferingPixels(plain, text), 100);

    // Every option changes the picture, each on its own.
    const std::string base = "convert " + kPicture + " ";
    const std::vector<std::string> variants { "--font-size 20", "--font-color 00ff00",
        "--font-angle 45", "--shadow 100", "--align-h left", "--align-h right", "--align-v top",
        "--align-v bottom", "--text 'Other'" };
    for (std::size_t i = 0; i < variants.size(); ++i) {
        std::string name = "v";
        name += std::to_string(i) + ".bmp";
        const std::string out = Path(name).string();
        ASSERT_EQ(Run(base + out
                      + " --text 'Wave\\nflag' --font-color ff0000 --font-size 40 "
                        "--shadow 0 "
                      + variants[i]),
            0)
            << variants[i] << ": " << Stderr();
        EXPECT_GT(DifferingPixels(LoadBmp(out), text), 10) << variants[i];
    }
    // Without text the font options change nothing.
    ASSERT_EQ(Run(base + Path("fontonly.bmp").string() + " --font-size 90 --font-angle 30"), 0);
    EXPECT_EQ(DifferingPixels(LoadBmp(Path("fontonly.bmp")), plain), 0);
    ASSERT_EQ(Run(base + Path("emptyfirst.bmp").string() + " --text '\\nsecond'"), 0);
    EXPECT_EQ(DifferingPixels(LoadBmp(Path("emptyfirst.bmp")), plain), 0);
}

TEST_F(CliText, FramesAndExportCarryTheText)
{
    ASSERT_EQ(Run("frames -d " + Path("plain").string() + " --frames 1"), 0) << Stderr();
    ASSERT_EQ(Run("frames -d " + Path("text").string() + " --frames 1 --text Zephyrix"), 0)
        << Stderr();
    EXPECT_GT(
        DifferingPixels(LoadBmp(Path("plain/frame-00.bmp")), LoadBmp(Path("text/frame-00.bmp"))),
        50);
    ASSERT_EQ(Run("export -o " + Path("a.gif").string() + " --frames 2 --text Zephyrix"), 0)
        << Stderr();
    ASSERT_EQ(Run("export -o " + Path("b.gif").string() + " --frames 2 --text Zephyrix"), 0);
    ASSERT_EQ(Run("export -o " + Path("c.gif").string() + " --frames 2"), 0);
    EXPECT_EQ(ReadText(Path("a.gif")), ReadText(Path("b.gif")));
    EXPECT_NE(ReadText(Path("a.gif")), ReadText(Path("c.gif")));
}

TEST_F(CliText, BadValuesAreOneLineAndWriteNothing)
{
    const std::string out = Path("x.gif").string();
    for (const std::string bad :
        { "--font-size 4", "--font-size 101", "--font-angle 361", "--font-angle -1", "--shadow 101",
            "--font-color 12345", "--font-color red", "--align-h middle", "--align-v center",
            "--font ''", "--text x --font NoSuchFace", "--text" }) {
        EXPECT_NE(Run("export -o " + out + " " + bad), 0) << bad;
        const std::string errors = Stderr();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << bad << ": " << errors;
        EXPECT_EQ(errors.rfind("zephyrix-cli export: ", 0), 0u) << errors;
        EXPECT_FALSE(std::filesystem::exists(out)) << bad;
    }
    EXPECT_NE(Run("convert " + kPicture + " " + Path("y.bmp").string() + " --shadow 200"), 0);
    EXPECT_FALSE(std::filesystem::exists(Path("y.bmp")));
}

TEST_F(CliText, HelpListsTheTextOptions)
{
    ASSERT_EQ(Run("export --help"), 0);
    for (const char* option : { "--text", "--font", "--font-size", "--font-color", "--font-angle",
             "--shadow", "--align-h", "--align-v" })
        EXPECT_NE(Stdout().find(option), std::string::npos) << option;
}
