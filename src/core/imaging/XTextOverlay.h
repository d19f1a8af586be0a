#pragma once

// Text over the picture: the settings of the text dialog and the placement of
// its lines on a picture W x H. The block of lines (as wide as the widest line,
// as high as all lines together) is turned by the angle about its top-left
// corner and placed by the two alignments; each line is aligned inside the block
// before the turn. Sizes are fractions of the picture's width, so the text
// covers the same share of any picture. The drawing itself needs fonts and is
// in ui/imaging/XTextOverlayDraw.h.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zx {

enum TTextAlignH : std::int32_t { taLeft = 0, taCenter = 1, taRight = 2 };
enum TTextAlignV : std::int32_t { taTop = 0, taMiddle = 1, taBottom = 2 };

struct TTextRange {
    std::int32_t Min, Max, Default;
};
inline constexpr TTextRange kTextSizeRange { 5, 100, 30 };
inline constexpr TTextRange kTextAngleRange { 0, 360, 0 };
inline constexpr TTextRange kTextShadowRange { 0, 100, 25 };
inline constexpr const char* kDefaultTextFont = "Arial";

struct TTextOverlaySettings {
    // The lines (UTF-8). Nothing is drawn when there are none or the first is
    // empty; otherwise every line is, empty ones included.
    std::vector<std::string> Lines;
    std::string FontName = kDefaultTextFont;
    // Font cell height in percent of the picture's width.
    std::int32_t Size = kTextSizeRange.Default;
    // 0x00BBGGRR.
    std::uint32_t Color = 0;
    // Degrees, anticlockwise.
    std::int32_t Angle = kTextAngleRange.Default;
    // Shadow depth; 0 draws no shadow.
    std::int32_t Shadow = kTextShadowRange.Default;
    TTextAlignH AlignH = taCenter;
    TTextAlignV AlignV = taMiddle;

    bool HasText() const { return !Lines.empty() && !Lines.front().empty(); }
    friend bool operator==(const TTextOverlaySettings&, const TTextOverlaySettings&) = default;
};

// Splits a memo's text into its lines at "\n" (a "\r" before it goes too); a
// final line break adds no empty line.
std::vector<std::string> SplitTextLines(const std::string& text);

// The font's cell height in pixels for a picture width: Size x W div 100. A 0
// asks for the platform's default height.
std::int32_t TextCellHeight(std::int32_t size, std::int32_t width);
// The shadow's offset and blur radius: Shadow x W div 2500.
std::int32_t TextShadowDepth(std::int32_t shadow, std::int32_t width);

// Width and height of one line as the font reports them.
struct TTextExtent {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// The turned block: its origin (where its top-left corner goes) and the turned
// extents cw = Round(c maxW), sw = Round(s maxW), ch = Round(c sumH),
// sh = Round(s sumH), with c and s the angle's cosine and sine.
struct TTextBlock {
    std::int32_t X0 = 0;
    std::int32_t Y0 = 0;
    std::int32_t MaxW = 0;
    std::int32_t SumH = 0;
    std::int32_t CW = 0;
    std::int32_t SW = 0;
    std::int32_t CH = 0;
    std::int32_t SH = 0;
    friend bool operator==(const TTextBlock&, const TTextBlock&) = default;
};

// Places the block of lines (measured with the unturned font) on a picture
// width x height.
TTextBlock PlaceTextBlock(std::int32_t width, std::int32_t height, std::int32_t angle,
    TTextAlignH alignH, TTextAlignV alignV, std::span<const TTextExtent> lines);

// The reference point (top-left corner of the text cell) of every line,
// measured with the turned font.
struct TTextOrigin {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    friend bool operator==(const TTextOrigin&, const TTextOrigin&) = default;
};
std::vector<TTextOrigin> PlaceTextLines(const TTextBlock& block, std::int32_t angle,
    TTextAlignH alignH, std::span<const TTextExtent> lines);

// The preview's background: black for a light text colour without shadow
// (red >= 160, green >= 224, blue >= 128), otherwise white. 0x00BBGGRR.
std::uint32_t TextPreviewBackground(std::uint32_t color, std::int32_t shadow);

} // namespace zx
