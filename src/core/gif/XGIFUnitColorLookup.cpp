// The nearest-colour lookup: a 15-bit cell cache in front of a search for the
// palette entry at the smallest Manhattan distance.

#include "core/gif/XGIFUnitQuantize.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdlib>

namespace zx {

namespace {

    // Component value of the padding entries of the distance scan: their distance
    // to every colour (at least 3 x 4000 - 765) is far above the farthest real one
    // (765), and three of them still fit a signed 16-bit sum.
    constexpr std::int16_t kPadComponent = 4000;

} // namespace

TFastColorLookup::TFastColorLookup(const TColorPalette& palette)
    : m_entryCount(static_cast<std::int32_t>(std::min<std::size_t>(palette.size(), 256)))
{
    m_red.fill(kPadComponent);
    m_green.fill(kPadComponent);
    m_blue.fill(kPadComponent);
    for (std::int32_t i = 0; i < m_entryCount; ++i) {
        m_entries[i] = palette[i];
        m_red[i] = palette[i].Red;
        m_green[i] = palette[i].Green;
        m_blue[i] = palette[i].Blue;
    }

    // Small palettes are scanned whole: a scan of a few vectors costs less
    // than making candidate lists.
    m_useBoxes = m_entryCount > 32;
    if (m_useBoxes) {
        m_boxStart.fill(kBoxNotMade);
        m_poolRed = std::make_unique_for_overwrite<std::int16_t[]>(kBoxPoolSize);
        m_poolGreen = std::make_unique_for_overwrite<std::int16_t[]>(kBoxPoolSize);
        m_poolBlue = std::make_unique_for_overwrite<std::int16_t[]>(kBoxPoolSize);
        m_poolIndex = std::make_unique_for_overwrite<std::uint8_t[]>(kBoxPoolSize);
    }

    m_cellCache.assign(32768, -1);
    // Seeding in index order lets the lowest index keep a cell that several
    // entries fall into.
    for (std::int32_t i = 0; i < m_entryCount; ++i) {
        const std::int32_t cell = Cell(m_entries[i].Red, m_entries[i].Green, m_entries[i].Blue);
        if (m_cellCache[cell] < 0)
            m_cellCache[cell] = static_cast<std::int16_t>(i);
    }
}

namespace {

    // The position of the first of count entries (a multiple of 8, given as three
    // planes) at the smallest Manhattan distance from the colour: the entry a scan
    // that keeps only strictly smaller distances ends with. All distances are
    // computed first, eight at a time, then the first one equal to the minimum is
    // looked for.
    std::int32_t FirstNearest(const std::int16_t* reds, const std::int16_t* greens,
        const std::int16_t* blues, std::int32_t count, std::int32_t red, std::int32_t green,
        std::int32_t blue)
    {
        alignas(16) std::array<std::int16_t, 256> distance;
#if defined(__SSE2__)
        const __m128i r = _mm_set1_epi16(static_cast<std::int16_t>(red));
        const __m128i g = _mm_set1_epi16(static_cast<std::int16_t>(green));
        const __m128i b = _mm_set1_epi16(static_cast<std::int16_t>(blue));
        const __m128i zero = _mm_setzero_si128();
        __m128i least = _mm_set1_epi16(0x7FFF);
        for (std::int32_t i = 0; i < count; i += 8) {
            const __m128i dr
                = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(reds + i)), r);
            const __m128i dg
                = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(greens + i)), g);
            const __m128i db
                = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blues + i)), b);
            __m128i d = _mm_max_epi16(dr, _mm_sub_epi16(zero, dr));
            d = _mm_add_epi16(d, _mm_max_epi16(dg, _mm_sub_epi16(zero, dg)));
            d = _mm_add_epi16(d, _mm_max_epi16(db, _mm_sub_epi16(zero, db)));
            _mm_store_si128(reinterpret_cast<__m128i*>(&distance[i]), d);
            least = _mm_min_epi16(least, d);
        }
        // Fold the eight lanes: halves, then quarters, then neighbours.
        least = _mm_min_epi16(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(1, 0, 3, 2)));
        least = _mm_min_epi16(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(2, 3, 0, 1)));
        least = _mm_min_epi16(least, _mm_shufflelo_epi16(least, _MM_SHUFFLE(2, 3, 0, 1)));
        const __m128i wanted = _mm_set1_epi16(static_cast<std::int16_t>(_mm_cvtsi128_si32(least)));
        for (std::int32_t i = 0;; i += 8) {
            const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(
                _mm_load_si128(reinterpret_cast<const __m128i*>(&distance[i])), wanted));
            if (mask != 0)
                return i + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
        }
#else
        // Farther than any colour can be: no search starts out with a better match.
        std::int32_t best = 0x30000;
        for (std::int32_t i = 0; i < count; ++i) {
            distance[i] = static_cast<std::int16_t>(
                std::abs(reds[i] - red) + std::abs(greens[i] - green) + std::abs(blues[i] - blue));
            best = std::min<std::int32_t>(best, distance[i]);
        }
        std::int32_t index = 0;
        while (distance[index] != best)
            ++index;
        return index;
#endif
    }

} // namespace

void TFastColorLookup::MakeBox(std::int32_t box)
{
    const std::int16_t lowR = static_cast<std::int16_t>((box & 7) * 32);
    const std::int16_t lowG = static_cast<std::int16_t>(((box >> 3) & 7) * 32);
    const std::int16_t lowB = static_cast<std::int16_t>((box >> 6) * 32);
    const std::int16_t highR = lowR + 31, highG = lowG + 31, highB = lowB + 31;
    // Per entry, the distance to the nearest and to the farthest colour of the
    // box: per component max(low - v, 0) + max(v - high, 0) and
    // max(v - low, high - v). Every colour of the box lies within `bound` of
    // some entry, so an entry whose nearest colour of the box is farther than
    // that can never be the nearest entry nor tie with it. (Loops the compiler
    // vectorises; the padding entries come out far beyond any bound.)
    alignas(16) std::array<std::int16_t, 256> nearest;
    const std::int32_t padded = (m_entryCount + 7) & ~7;
    std::int16_t bound = 0x7FFF;
    for (std::int32_t i = 0; i < padded; ++i) {
        const std::int16_t r = m_red[i], g = m_green[i], b = m_blue[i];
        nearest[i] = static_cast<std::int16_t>(std::max<std::int16_t>(lowR - r, 0)
            + std::max<std::int16_t>(r - highR, 0) + std::max<std::int16_t>(lowG - g, 0)
            + std::max<std::int16_t>(g - highG, 0) + std::max<std::int16_t>(lowB - b, 0)
            + std::max<std::int16_t>(b - highB, 0));
        const std::int16_t farthest
            = static_cast<std::int16_t>(std::max<std::int16_t>(r - lowR, highR - r)
                + std::max<std::int16_t>(g - lowG, highG - g)
                + std::max<std::int16_t>(b - lowB, highB - b));
        bound = std::min(bound, farthest);
    }

    std::int32_t count = 0;
    std::array<std::uint8_t, 256> candidates;
    for (std::int32_t i = 0; i < m_entryCount; ++i) {
        candidates[count] = static_cast<std::uint8_t>(i);
        count += nearest[i] <= bound;
    }
    const std::int32_t paddedCount = (count + 7) & ~7;
    if (m_poolUsed + paddedCount > kBoxPoolSize) {
        m_boxStart[box] = kBoxFullScan;
        return;
    }
    const std::int32_t start = m_poolUsed;
    for (std::int32_t k = 0; k < paddedCount; ++k) {
        const bool real = k < count;
        const std::int32_t i = real ? candidates[k] : 0;
        m_poolRed[start + k] = real ? m_red[i] : kPadComponent;
        m_poolGreen[start + k] = real ? m_green[i] : kPadComponent;
        m_poolBlue[start + k] = real ? m_blue[i] : kPadComponent;
        m_poolIndex[start + k] = static_cast<std::uint8_t>(i);
    }
    m_poolUsed += paddedCount;
    m_boxStart[box] = start;
    m_boxCount[box] = static_cast<std::int16_t>(paddedCount);
}

std::int32_t TFastColorLookup::Resolve(
    std::int32_t cell, std::int32_t red, std::int32_t green, std::int32_t blue)
{
    if (m_entryCount == 0)
        return -1;

    std::int32_t index;
    const std::int32_t box = (red >> 5) | ((green >> 5) << 3) | ((blue >> 5) << 6);
    if (m_useBoxes && m_boxStart[box] == kBoxNotMade)
        MakeBox(box);
    if (m_useBoxes && m_boxStart[box] >= 0) {
        const std::int32_t start = m_boxStart[box];
        index = m_poolIndex[start
            + FirstNearest(&m_poolRed[start], &m_poolGreen[start], &m_poolBlue[start],
                m_boxCount[box], red, green, blue)];
    } else {
        index = FirstNearest(
            m_red.data(), m_green.data(), m_blue.data(), (m_entryCount + 7) & ~7, red, green, blue);
    }
    m_cellCache[cell] = static_cast<std::int16_t>(index);
    return index;
}

std::int32_t TFastColorLookup::Lookup(
    std::int32_t red, std::int32_t green, std::int32_t blue, TPaletteEntry& colour)
{
    const std::int32_t index = LookupIndex(red, green, blue);
    colour = index >= 0 ? m_entries[index] : TPaletteEntry {};
    return index;
}

} // namespace zx
