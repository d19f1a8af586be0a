// The exact nearest-colour search of the high quality level.
//
// A colour's nearest entry must lie among the entries that are at most as far
// from the colour's cell as the cell's farthest corner is from the entry that
// is best at worst (the smallest such corner distance over all entries): any
// other entry is farther from every colour in the cell than that one. Listing
// those candidates for boxes of 32 levels first, and for cells of 8 levels
// from their box's list (through cells of 16 levels in between), keeps both
// the lists short and the making of them cheap. A list keeps the palette's order, so scanning it
// with a strict comparison gives the lowest index among entries at equal distance, as a scan of the
// whole palette would.

#include "core/Errors.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitQuantizeHigh.h"

#include <algorithm>
#include <limits>

namespace zx {

TNearestColor::TNearestColor(const TColorPalette& palette)
    : m_entryCount(static_cast<std::int32_t>(std::min<std::size_t>(palette.size(), 256)))
{
    if (m_entryCount == 0)
        throw EInvalidGraphicOperation(GIFMessages::sDitherWithoutEntries);
    m_all.reserve(std::size_t(m_entryCount));
    for (std::int32_t i = 0; i < m_entryCount; ++i) {
        m_entries[i] = palette[i];
        m_all.push_back(
            { palette[i].Red, palette[i].Green, palette[i].Blue, static_cast<std::uint16_t>(i) });
    }
    for (std::size_t level = 0; level < kLevels; ++level)
        m_lists[level].resize(std::size_t(1) << (3 * (8 - kLevelShift[level])));
}

TNearestColor::TList TNearestColor::MakeList(const TCandidate* from, std::int32_t count,
    const std::array<std::int32_t, 3>& lo, const std::array<std::int32_t, 3>& hi)
{
    // Plain loops without branches: the compiler runs them over several
    // candidates at once.
    const std::int32_t lr = lo[0], lg = lo[1], lb = lo[2];
    const std::int32_t hr = hi[0], hg = hi[1], hb = hi[2];
    std::int32_t limit = std::numeric_limits<std::int32_t>::max();
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t r = from[i].Red, g = from[i].Green, b = from[i].Blue;
        const std::int32_t fr = std::max(r - lr, hr - r);
        const std::int32_t fg = std::max(g - lg, hg - g);
        const std::int32_t fb = std::max(b - lb, hb - b);
        limit = std::min(limit, fr * fr + fg * fg + fb * fb);
    }
    TList list;
    list.Start = static_cast<std::int32_t>(m_pool.size());
    m_pool.resize(m_pool.size() + std::size_t(count));
    TCandidate* out = m_pool.data() + list.Start;
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t r = from[i].Red, g = from[i].Green, b = from[i].Blue;
        const std::int32_t nr = std::max({ lr - r, 0, r - hr });
        const std::int32_t ng = std::max({ lg - g, 0, g - hg });
        const std::int32_t nb = std::max({ lb - b, 0, b - hb });
        out[kept] = from[i];
        kept += nr * nr + ng * ng + nb * nb <= limit ? 1 : 0;
    }
    m_pool.resize(std::size_t(list.Start + kept));
    list.Count = kept;
    return list;
}

TNearestColor::TList TNearestColor::List(
    std::size_t level, std::int32_t red, std::int32_t green, std::int32_t blue)
{
    const std::int32_t shift = kLevelShift[level];
    const std::size_t at = std::size_t((red >> shift) | ((green >> shift) << (8 - shift))
        | ((blue >> shift) << (2 * (8 - shift))));
    if (m_lists[level][at].Count >= 0)
        return m_lists[level][at];
    // The parent's candidates are copied out first: making this list may move
    // the pool they live in.
    if (level == 0) {
        m_scratch = m_all;
    } else {
        const TList parent = List(level - 1, red, green, blue);
        m_scratch.assign(
            m_pool.begin() + parent.Start, m_pool.begin() + parent.Start + parent.Count);
    }
    const std::int32_t side = 1 << shift;
    const std::array<std::int32_t, 3> lo { (red >> shift) << shift, (green >> shift) << shift,
        (blue >> shift) << shift };
    const std::array<std::int32_t, 3> hi { lo[0] + side - 1, lo[1] + side - 1, lo[2] + side - 1 };
    const TList list = MakeList(m_scratch.data(), std::int32_t(m_scratch.size()), lo, hi);
    m_lists[level][at] = list;
    return list;
}

std::int32_t TNearestColor::FindInNewCell(
    std::int32_t, std::int32_t red, std::int32_t green, std::int32_t blue)
{
    const TList list = List(kLevels - 1, red, green, blue);
    if (list.Count >= kRecallFrom && m_recall.empty()) {
        const std::int32_t white = Scan(List(kLevels - 1, 255, 255, 255), 255, 255, 255);
        m_recall.assign(std::size_t(1) << kRecallBits, (0xFFFFFFu << 8) | std::uint32_t(white));
    }
    return Scan(list, red, green, blue);
}

} // namespace zx
