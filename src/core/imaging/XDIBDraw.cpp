#include "core/imaging/XDIBDraw.h"

#include "core/Errors.h"
#include "core/LittleEndian.h"
#include "core/imaging/XDIBUnitMessages.h"

#include <algorithm>

namespace zx {

namespace {

    std::uint32_t Unpacked(const TDIBChannelLayout& layout, std::uint32_t value)
    {
        std::uint8_t red = 0, green = 0, blue = 0;
        UnpackPixel(layout, value, red, green, blue);
        return std::uint32_t(red) | std::uint32_t(green) << 8 | std::uint32_t(blue) << 16;
    }

    std::uint32_t TableColor(const TDIBColorTable& table, std::uint32_t index)
    {
        const TRGBQuad& q = table[index & 0xFF];
        return std::uint32_t(q.Red) | std::uint32_t(q.Green) << 8 | std::uint32_t(q.Blue) << 16;
    }

    void CheckTarget(const TDIB& target)
    {
        if (target.BitCount() != 24 && target.BitCount() != 32)
            throw EInvalidGraphicOperation(DIBMessages::sBadPixelFormat);
    }

    void Store(std::uint8_t* row, std::int32_t bitCount, std::int32_t x, std::uint32_t color)
    {
        std::uint8_t* p = row + std::int64_t(x) * (bitCount / 8);
        p[0] = static_cast<std::uint8_t>(color >> 16);
        p[1] = static_cast<std::uint8_t>(color >> 8);
        p[2] = static_cast<std::uint8_t>(color);
        if (bitCount == 32)
            p[3] = 0;
    }

} // namespace

std::uint32_t SourceColor(const TDIB& source, const std::uint8_t* row, std::int32_t x)
{
    const TDIBSharedImage& image = *source.Image();
    switch (image.BitCount()) {
    case 1:
        return TableColor(image.ColorTable(), (row[x / 8] >> (7 - x % 8)) & 1u);
    case 4:
        return TableColor(image.ColorTable(), x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu);
    case 8:
        return TableColor(image.ColorTable(), row[x]);
    case 16:
        return Unpacked(image.Layout(), GetLE16(row + 2 * std::int64_t(x)));
    case 24: {
        const std::uint8_t* p = row + 3 * std::int64_t(x);
        return std::uint32_t(p[2]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[0]) << 16;
    }
    case 32: {
        const std::uint8_t* p = row + 4 * std::int64_t(x);
        return std::uint32_t(p[2]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[0]) << 16;
    }
    default:
        return 0;
    }
}

void DrawDIB(TDIB& target, std::int32_t x, std::int32_t y, const TDIB& source)
{
    if (source.Empty() || target.Empty())
        return;
    CheckTarget(target);
    // Keep the source alive and unshared-from while we write the target: if both
    // pictures share one storage, the target's first write gives it a copy.
    const TDIB src(source);
    const std::int64_t firstRow = std::max<std::int64_t>(0, -std::int64_t(y));
    const std::int64_t lastRow
        = std::min<std::int64_t>(src.Height(), std::int64_t(target.Height()) - y);
    const std::int64_t firstCol = std::max<std::int64_t>(0, -std::int64_t(x));
    const std::int64_t lastCol
        = std::min<std::int64_t>(src.Width(), std::int64_t(target.Width()) - x);
    if (firstRow >= lastRow || firstCol >= lastCol)
        return;
    const std::int32_t bitCount = target.BitCount();
    const bool fastCopy = src.BitCount() == bitCount;
    for (std::int64_t sy = firstRow; sy < lastRow; ++sy) {
        const std::uint8_t* in = src.ConstScanLine(static_cast<std::int32_t>(sy));
        std::uint8_t* out = target.ScanLine(static_cast<std::int32_t>(sy + y));
        if (fastCopy && bitCount == 24) {
            std::copy(in + firstCol * 3, in + lastCol * 3, out + (firstCol + x) * 3);
            continue;
        }
        for (std::int64_t sx = firstCol; sx < lastCol; ++sx)
            Store(out, bitCount, static_cast<std::int32_t>(sx + x),
                SourceColor(src, in, static_cast<std::int32_t>(sx)));
    }
}

void FillRect(TDIB& target, std::int32_t left, std::int32_t top, std::int32_t right,
    std::int32_t bottom, std::uint32_t color)
{
    if (target.Empty())
        return;
    CheckTarget(target);
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, target.Width());
    bottom = std::min(bottom, target.Height());
    for (std::int32_t yy = top; yy < bottom; ++yy) {
        std::uint8_t* row = target.ScanLine(yy);
        for (std::int32_t xx = left; xx < right; ++xx)
            Store(row, target.BitCount(), xx, color);
    }
}

void StretchDraw(TDIB& target, std::int32_t left, std::int32_t top, std::int32_t right,
    std::int32_t bottom, const TDIB& source)
{
    if (source.Empty() || target.Empty() || right <= left || bottom <= top)
        return;
    CheckTarget(target);
    const TDIB src(source);
    const std::int64_t w = std::int64_t(right) - left;
    const std::int64_t h = std::int64_t(bottom) - top;
    const std::int32_t yFrom = std::max(top, 0);
    const std::int32_t yTo = std::min(bottom, target.Height());
    const std::int32_t xFrom = std::max(left, 0);
    const std::int32_t xTo = std::min(right, target.Width());
    for (std::int32_t ty = yFrom; ty < yTo; ++ty) {
        const auto sy = static_cast<std::int32_t>((ty - std::int64_t(top)) * src.Height() / h);
        const std::uint8_t* in = src.ConstScanLine(sy);
        std::uint8_t* out = target.ScanLine(ty);
        for (std::int32_t tx = xFrom; tx < xTo; ++tx) {
            const auto sx = static_cast<std::int32_t>((tx - std::int64_t(left)) * src.Width() / w);
            Store(out, target.BitCount(), tx, SourceColor(src, in, sx));
        }
    }
}

} // namespace zx
