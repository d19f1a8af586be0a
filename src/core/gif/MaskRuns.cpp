#include "core/gif/MaskRuns.h"

#include "core/Errors.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zx {

namespace {

    // The longest run one entry holds: 24 bits of length.
    constexpr std::uint32_t kLongestRun = (1u << 24) - 1;

} // namespace

TMaskRuns::TMaskRuns(const TDIB& plane)
{
    if (plane.Empty())
        return;
    if (plane.BitCount() != 8)
        throw EInvalidGraphicOperation("A mask must have 8 bits per pixel");
    m_width = plane.Width();
    m_height = plane.Height();
    std::uint32_t value = plane.ConstScanLine(0)[0];
    std::uint32_t length = 0;
    for (std::int32_t y = 0; y < m_height; ++y) {
        const std::uint8_t* row = plane.ConstScanLine(y);
        std::int32_t x = 0;
        while (x < m_width) {
            if (row[x] != value || length == kLongestRun) {
                m_runs.push_back(value | (length << 8));
                value = row[x];
                length = 0;
            }
            // The rest of this run within the row at once, eight bytes a
            // step: masks are long runs of 0 and 255.
            std::int32_t end = x + 1;
            const std::uint64_t pattern = std::uint64_t(value) * 0x0101010101010101u;
            while (end + 8 <= m_width) {
                std::uint64_t bytes;
                std::memcpy(&bytes, row + end, 8);
                const std::uint64_t differ = bytes ^ pattern;
                if (differ != 0) {
                    // The first byte in memory that differs.
                    if constexpr (std::endian::native == std::endian::little)
                        end += std::countr_zero(differ) / 8;
                    else
                        end += std::countl_zero(differ) / 8;
                    break;
                }
                end += 8;
            }
            while (end < m_width && row[end] == value)
                ++end;
            const std::uint32_t take
                = std::min<std::uint32_t>(std::uint32_t(end - x), kLongestRun - length);
            length += take;
            x += std::int32_t(take);
        }
    }
    m_runs.push_back(value | (length << 8));
    m_runs.shrink_to_fit();
}

TDIB TMaskRuns::Plane() const
{
    TDIB plane;
    if (Empty())
        return plane;
    plane.SetSize(m_width, m_height, 8);
    std::int32_t y = 0;
    std::int32_t x = 0;
    std::uint8_t* row = plane.ScanLine(0);
    for (const std::uint32_t run : m_runs) {
        const auto value = static_cast<std::uint8_t>(run & 0xFFu);
        std::uint32_t left = run >> 8;
        while (left > 0) {
            if (x == m_width) {
                x = 0;
                row = plane.ScanLine(++y);
            }
            const std::uint32_t take = std::min<std::uint32_t>(left, std::uint32_t(m_width - x));
            std::memset(row + x, value, take);
            x += std::int32_t(take);
            left -= take;
        }
    }
    return plane;
}

} // namespace zx
