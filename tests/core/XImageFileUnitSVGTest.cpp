// The SVG road: drawings rendered with their own proportions at 1280 pixels,
// transparent where nothing is drawn, and hostile files bounded or refused.

#include "HostileTestUtil.h"
#include "PictureTestUtil.h"
#include "core/Errors.h"
#include "core/imaging/XImageFileUnit.h"

#include <gtest/gtest.h>
#include <string>

using namespace zx;
using namespace zx::picture_test;

namespace {

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Colour of pixel (x, y) as 0xRRGGBB, and its alpha.
std::uint32_t RGB(const TPicture& picture, int x, int y)
{
    const std::uint32_t bgr = picture.Color.Pixel(x, y); // red in the low byte
    return (bgr & 0xFF) << 16 | (bgr & 0xFF00) | bgr >> 16;
}
std::uint32_t AlphaAt(const TPicture& picture, int x, int y)
{
    return picture.HasAlpha() ? picture.Alpha.Pixel(x, y) : 255;
}

const char* const kTwoHalves = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- a flag of two halves -->
<svg xmlns="http://www.w3.org/2000/svg" width="300" height="200">
  <rect x="0" y="0" width="150" height="200" fill="#ff0000"/>
  <rect x="150" y="0" width="150" height="200" fill="#0000ff"/>
</svg>
)";

} // namespace

TEST(XImageFileUnitSVG, TwoColouredHalvesAt1280PixelsWide)
{
    const Bytes svg = Text(kTwoHalves);
    ASSERT_EQ(DetectPictureFormat(svg), TPictureFormat::SVG);
    TPicture picture;
    ASSERT_NO_THROW(LoadPictureFile(TPictureFolder().Write("flag.svg", svg), picture));
    ASSERT_EQ(picture.Color.BitCount(), 24);
    EXPECT_EQ(picture.Color.Width(), 1280);
    EXPECT_EQ(picture.Color.Height(), 853); // 1280 x 200 / 300, rounded down
    EXPECT_EQ(RGB(picture, 10, 10), 0xFF0000u);
    EXPECT_EQ(RGB(picture, 630, 800), 0xFF0000u);
    EXPECT_EQ(RGB(picture, 650, 400), 0x0000FFu);
    EXPECT_EQ(RGB(picture, 1279, 852), 0x0000FFu);
    // Drawn everywhere: no alpha plane.
    EXPECT_FALSE(picture.HasAlpha());
}

TEST(XImageFileUnitSVG, ProportionsFromViewBoxAndTransparencyAround)
{
    // A taller-than-wide drawing with a round emblem: the longer side becomes
    // 1280, the corners stay transparent, the colours inside unmultiplied.
    const Bytes svg = Text(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 50 100">
      <circle cx="25" cy="50" r="20" fill="#20c040" fill-opacity="0.5"/></svg>)");
    TPicture picture;
    ASSERT_NO_THROW(LoadSVGPicture(svg, picture));
    EXPECT_EQ(picture.Color.Width(), 640);
    EXPECT_EQ(picture.Color.Height(), 1280);
    ASSERT_TRUE(picture.HasAlpha());
    EXPECT_EQ(AlphaAt(picture, 0, 0), 0u);
    EXPECT_EQ(AlphaAt(picture, 639, 1279), 0u);
    EXPECT_NEAR(int(AlphaAt(picture, 320, 640)), 128, 1);
    const std::uint32_t centre = RGB(picture, 320, 640);
    EXPECT_NEAR(int(centre >> 16), 0x20, 2);
    EXPECT_NEAR(int(centre >> 8 & 0xFF), 0xC0, 2);
    EXPECT_NEAR(int(centre & 0xFF), 0x40, 2);

    // No size and no viewBox: the extent of what is drawn.
    const Bytes bare = Text(R"(<svg xmlns="http://www.w3.org/2000/svg">
      <rect x="10" y="20" width="40" height="10" fill="#ffffff"/></svg>)");
    TPicture extent;
    ASSERT_NO_THROW(LoadSVGPicture(bare, extent));
    EXPECT_EQ(extent.Color.Width(), 1280);
    EXPECT_EQ(extent.Color.Height(), 320);
    EXPECT_EQ(RGB(extent, 640, 160), 0xFFFFFFu);
}

TEST(XImageFileUnitSVG, RecognisedByItsRootElementOnly)
{
    const auto format = [](const std::string& text) { return DetectPictureFormat(Text(text)); };
    EXPECT_EQ(format("\xEF\xBB\xBF<svg/>"), TPictureFormat::SVG);
    EXPECT_EQ(format("  <!DOCTYPE svg [ <!ENTITY a \"<x>\"> ]>\n<svg:svg xmlns:svg='x'>"),
        TPictureFormat::SVG);
    EXPECT_EQ(format("<?xml version='1.0'?><?style x?><!-- <html> --><svg width='1'"),
        TPictureFormat::SVG);
    EXPECT_EQ(format("<html><svg/></html>"), TPictureFormat::Unknown);
    EXPECT_EQ(format("<svgx/>"), TPictureFormat::Unknown);
    EXPECT_EQ(format("<!-- never closed <svg/>"), TPictureFormat::Unknown);
    EXPECT_EQ(format("svg"), TPictureFormat::Unknown);
    EXPECT_EQ(format(""), TPictureFormat::Unknown);
}

TEST(XImageFileUnitSVG, BrokenDrawingsFailWithTheReason)
{
    for (const std::string text : {
             "<svg xmlns='http://www.w3.org/2000/svg'><rect width='10' height='10'",
             "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><rect></svg>",
             "<svg xmlns='http://www.w3.org/2000/svg'/>", // draws nothing, has no size
         }) {
        const std::string message = ExpectLoadFails<EInvalidGraphic>(
            [&](TPicture& target) { LoadSVGPicture(Text(text), target); });
        EXPECT_EQ(message.rfind("SVG 文件无效: ", 0), 0u) << text << ": " << message;
    }
}

TEST(XImageFileUnitSVG, NothingOutsideTheFileIsRead)
{
    // A picture beside the drawing and a system file, by absolute and by
    // relative reference: none is drawn, the drawing stays transparent.
    TPictureFolder folder;
    const Bytes red = EncodePNG(Bytes(16 * 4, 0xFF), 4, 4, true);
    const std::string png = folder.Write("red.png", red);
    for (const std::string& href : { "file://" + png, png, std::string("red.png"),
             std::string("file:///etc/passwd"), std::string("http://127.0.0.1:9/x.png") }) {
        const std::string text = "<svg xmlns='http://www.w3.org/2000/svg' "
                                 "xmlns:xlink='http://www.w3.org/1999/xlink' width='40' "
                                 "height='40'><image width='40' height='40' xlink:href='"
            + href + "'/><rect width='1' height='1' fill='#000' fill-opacity='0.01'/></svg>";
        const std::string path = folder.Write("ref.svg", Text(text));
        TPicture picture;
        try {
            LoadPictureFile(path, picture);
        } catch (const EInvalidGraphic&) {
            continue; // refusing is as good
        }
        ASSERT_TRUE(picture.HasAlpha()) << href;
        EXPECT_EQ(AlphaAt(picture, 640, 640), 0u) << href;
    }
}

TEST(XImageFileUnitSVG, HostileDrawingsStayBounded)
{
    // Billion laughs: entity expansion within the XML parser's limits or refused.
    std::string laughs = "<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY l0 'ha'>";
    for (int i = 1; i <= 12; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " '" + [&] {
            std::string ten;
            for (int j = 0; j < 10; ++j)
                ten += "&l" + std::to_string(i - 1) + ";";
            return ten;
        }() + "'>";
    laughs += "]><svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><text>&l12;</text>"
              "</svg>";
    // A drawing that claims to be a billion pixels wide, and a chain of <use>
    // that doubles at every step (2^40 rectangles if followed).
    const std::string huge
        = "<svg xmlns='http://www.w3.org/2000/svg' width='1000000000' "
          "height='1000000000'><rect width='100%' height='100%' fill='red'/></svg>";
    std::string uses = "<svg xmlns='http://www.w3.org/2000/svg' "
                       "xmlns:xlink='http://www.w3.org/1999/xlink' width='10' height='10'>"
                       "<defs><rect id='u0' width='1' height='1'/>";
    for (int i = 1; i <= 40; ++i)
        uses += "<g id='u" + std::to_string(i) + "'><use xlink:href='#u" + std::to_string(i - 1)
            + "'/><use xlink:href='#u" + std::to_string(i - 1) + "'/></g>";
    uses += "</defs><use xlink:href='#u40'/></svg>";

    // Each either renders at the usual size or is refused; that the test
    // finishes at all (within CTest's time limit) is the bound on time. What
    // stays allocated afterwards is the bound on memory.
    const std::size_t heapBefore = hostile_test::HeapInUse();
    for (const std::string& text : { laughs, huge, uses }) {
        TPicture picture;
        try {
            LoadSVGPicture(Text(text), picture);
            EXPECT_LE(picture.Color.Width(), 1280);
            EXPECT_LE(picture.Color.Height(), 1280);
        } catch (const EInvalidGraphic&) {
        }
    }
    EXPECT_LT(hostile_test::HeapInUse(), heapBefore + (8u << 20));
    // The huge one renders, scaled to 1280 x 1280 and filled.
    TPicture picture;
    ASSERT_NO_THROW(LoadSVGPicture(Text(huge), picture));
    EXPECT_EQ(picture.Color.Width(), 1280);
    EXPECT_EQ(RGB(picture, 700, 700), 0xFF0000u);
}

// Blurs over wide filter regions cost librsvg without bound: 200 such shapes
// take it half a minute. The load gives up once the drawing has spent the
// limit's CPU time, with the error, and leaves the picture as it was; within
// the limit the same kind of file loads. (The limit here is small so that the
// test is quick; the program's is kSVGTimeLimit.)
TEST(SVGPicture, ADrawingThatRunsTooLongFailsAtTheLimit)
{
    const auto blurred = [](int shapes) {
        std::string text = "<svg xmlns='http://www.w3.org/2000/svg' width='1000' height='1000'>"
                           "<filter id='f' x='-10' y='-10' width='20' height='20'>"
                           "<feGaussianBlur stdDeviation='300'/></filter>";
        for (int i = 0; i < shapes; ++i)
            text += "<rect x='" + std::to_string(i)
                + "' width='500' height='500' filter='url(#f)'/>";
        return text + "</svg>";
    };
    TPicture picture;
    picture.Color.SetSize(3, 2, 24);
    try {
        LoadSVGPicture(Text(blurred(400)), picture, TSVGTimeLimit { 0.3, 60 });
        FAIL() << "a drawing of minutes loaded within 0.3 s of CPU time";
    } catch (const EInvalidGraphic& error) {
        EXPECT_NE(std::string(error.what()).find("takes too long"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(picture.Color.Width(), 3);
    EXPECT_EQ(picture.Color.Height(), 2);

    ASSERT_NO_THROW(LoadSVGPicture(Text(blurred(1)), picture, TSVGTimeLimit { 30, 120 }));
    EXPECT_EQ(picture.Color.Width(), 1280);
}
