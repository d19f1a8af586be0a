#include "core/imaging/XTextOverlay.h"

#include "core/IntMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zx {

namespace {

    // The turn's cosine and sine in extended precision: 90 degrees then gives a
    // cosine far below one half, which rounds to 0 like the exact value.
    struct TTurn {
        long double C;
        long double S;
    };

    TTurn Turn(std::int32_t angle)
    {
        const std::int32_t escapement = angle * 10;
        const long double a = escapement * std::numbers::pi_v<long double> / 1800.0L;
        return { std::cos(a), std::sin(a) };
    }

    std::int32_t Round(long double value)
    {
        return static_cast<std::int32_t>(std::nearbyint(value));
    }

} // namespace

std::vector<std::string> SplitTextLines(const std::string& text)
{
    std::vector<std::string> lines;
    if (text.empty())
        return lines;
    std::size_t start = 0;
    // A memo's last line break ends its last line; it does not start another.
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        std::string line
            = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

std::int32_t TextCellHeight(std::int32_t size, std::int32_t width)
{
    return Div(MulWrap(size, width), 100);
}

std::int32_t TextShadowDepth(std::int32_t shadow, std::int32_t width)
{
    return Div(MulWrap(shadow, width), 2500);
}

TTextBlock PlaceTextBlock(std::int32_t width, std::int32_t height, std::int32_t angle,
    TTextAlignH alignH, TTextAlignV alignV, std::span<const TTextExtent> lines)
{
    TTextBlock block;
    for (const TTextExtent& line : lines) {
        block.MaxW = std::max(block.MaxW, line.Width);
        block.SumH += line.Height;
    }
    const TTurn turn = Turn(angle);
    block.CW = Round(turn.C * block.MaxW);
    block.SW = Round(turn.S * block.MaxW);
    block.CH = Round(turn.C * block.SumH);
    block.SH = Round(turn.S * block.SumH);
    const std::int32_t cw = block.CW, sw = block.SW, ch = block.CH, sh = block.SH;

    switch (alignV) {
    case taTop:
        block.Y0 = std::max(sw, 0);
        if (ch < 0)
            block.Y0 -= ch;
        break;
    case taMiddle:
        block.Y0 = Div(height - ch + sw, 2);
        break;
    case taBottom:
        block.Y0 = sw < 0 ? height + sw : height;
        if (ch > 0)
            block.Y0 -= ch;
        break;
    }
    switch (alignH) {
    case taLeft:
        block.X0 = sh < 0 ? -sh : 0;
        if (cw < 0)
            block.X0 -= cw;
        break;
    case taCenter:
        block.X0 = Div(width - cw - sh, 2);
        break;
    case taRight:
        block.X0 = sh > 0 ? width - sh : width;
        if (cw > 0)
            block.X0 -= cw;
        break;
    }
    return block;
}

std::vector<TTextOrigin> PlaceTextLines(const TTextBlock& block, std::int32_t angle,
    TTextAlignH alignH, std::span<const TTextExtent> lines)
{
    const TTurn turn = Turn(angle);
    std::vector<TTextOrigin> origins;
    origins.reserve(lines.size());
    std::int32_t lineY = 0;
    for (const TTextExtent& line : lines) {
        std::int32_t off = 0;
        if (alignH == taCenter)
            off = Div(block.MaxW - line.Width, 2);
        else if (alignH == taRight)
            off = block.MaxW - line.Width;
        origins.push_back({ block.X0 + Round(turn.C * off) + Round(turn.S * lineY),
            block.Y0 + Round(turn.C * lineY) - Round(turn.S * off) });
        lineY += line.Height;
    }
    return origins;
}

std::uint32_t TextPreviewBackground(std::uint32_t color, std::int32_t shadow)
{
    const std::uint32_t red = color & 0xFF;
    const std::uint32_t green = (color >> 8) & 0xFF;
    const std::uint32_t blue = (color >> 16) & 0xFF;
    if (shadow == 0 && red >= 160 && green >= 224 && blue >= 128)
        return 0;
    return 0xFFFFFF;
}

} // namespace zx
