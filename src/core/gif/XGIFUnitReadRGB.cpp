#include "core/gif/XGIFUnitReadRGB.h"

#include "core/imaging/XDIBDraw.h"

namespace zx {

TRowReader24::TRowReader24(const TDIB& bitmap)
    : m_top(bitmap.ConstScanLine(0))
    , m_step(bitmap.RowStep())
    , m_width(bitmap.Width())
    , m_bitCount(bitmap.BitCount())
    , m_bitmap(bitmap)
{
    if (m_bitCount != 24)
        m_row.resize(std::size_t(m_width) * 3);
}

const std::uint8_t* TRowReader24::Row(std::int32_t y)
{
    const std::uint8_t* row = m_top + std::ptrdiff_t(y) * m_step;
    if (m_bitCount == 24)
        return row;

    std::uint8_t* out = m_row.data();
    for (std::int32_t x = 0; x < m_width; ++x, out += 3) {
        const std::uint32_t colour = SourceColor(m_bitmap, row, x);
        out[0] = static_cast<std::uint8_t>(colour >> 16);
        out[1] = static_cast<std::uint8_t>(colour >> 8);
        out[2] = static_cast<std::uint8_t>(colour);
    }
    return m_row.data();
}

} // namespace zx
