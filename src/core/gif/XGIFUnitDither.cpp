// The nearest-colour lookup, the Stucki ditherer and the reduction of whole
// frames to a palette.

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitQuantize.h"
#include "core/gif/XGIFUnitReadRGB.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdlib>
#include <new>

namespace zx {

namespace {

    const char* const kInvalidImageSize = "无效的图像维数尺寸";
    const char* const kOutOfMemoryForDIB = "用于 GIF DIB 分配内存失败";

    // Component value of the padding entries of the distance scan: their distance
    // to every colour (at least 3 x 4000 - 765) is far above the farthest real one
    // (765), and three of them still fit a signed 16-bit sum.
    constexpr std::int16_t kPadComponent = 4000;

} // namespace

// ---------------------------------------------------------------------------
// TFastColorLookup

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

// ---------------------------------------------------------------------------
// Ditherers

TDitherEngine::TDitherEngine(std::int32_t width, TFastColorLookup& lookup)
    : m_width(width)
    , m_lookup(lookup)
{
}

void TDitherEngine::ReverseDirection()
{
    m_direction = -m_direction;
    m_column = m_direction > 0 ? 0 : m_width - 1;
}

namespace {

    // Sum of all weights of a kernel: the most error parts one cell collects.
    constexpr std::int32_t KernelWeight(const T5by3Kernel& kernel)
    {
        std::int32_t sum = kernel.Row0[0] + kernel.Row0[1];
        for (std::int32_t i = 0; i < 5; ++i)
            sum += kernel.Row1[i] + kernel.Row2[i];
        return sum;
    }

    // Truncating division by the divisor through a 16-bit multiply-high, as the
    // vector pixel loop does it: (x * magic) >> (16 + kShift), plus one for a
    // negative x. Checked for every value a cell plus the rounding half can hold.
    constexpr std::int32_t kShift = 4;
    constexpr std::int32_t Magic(std::int32_t divisor)
    {
        return ((1 << (16 + kShift)) + divisor - 1) / divisor;
    }
    constexpr bool MagicDivisionIsExact(std::int32_t divisor, std::int32_t bound)
    {
        const std::int32_t magic = Magic(divisor);
        if (magic > 32767)
            return false;
        for (std::int32_t x = -bound; x <= bound; ++x) {
            const std::int32_t q = ((x * magic) >> (16 + kShift)) + (x < 0 ? 1 : 0);
            if (q != Div(x, divisor))
                return false;
        }
        return true;
    }

} // namespace

template <T5by3Kernel Kernel>
T5by3Ditherer<Kernel>::T5by3Ditherer(std::int32_t width, TFastColorLookup& lookup)
    : TDitherEngine(std::max(width, 0), lookup)
{
    static_assert(KernelWeight(Kernel) * 255 + Kernel.Divisor < 32768,
        "error cells of this kernel do not fit 16 bits");
    static_assert(MagicDivisionIsExact(Kernel.Divisor, KernelWeight(Kernel) * 255 + Kernel.Divisor),
        "the vector division is not exact for this divisor");
    // Without a palette entry there is nothing to map a pixel to.
    if (lookup.EntryCount() == 0)
        throw EInvalidGraphicOperation("Ditherer without palette entries");

    // Column x of the picture is cell x + 2 of a row: two guard cells on each
    // side take the error pushed past the edges, and nobody reads them.
    const std::size_t rowCells = std::size_t(m_width) + 4;
    m_rows.assign(3 * rowCells, TCell {});
    m_cur = m_rows.data();
    m_next = m_cur + rowCells;
    m_after = m_next + rowCells;
    for (std::int32_t i = 0; i < lookup.EntryCount(); ++i) {
        const TPaletteEntry& entry = lookup.Entry(i);
        m_palette[i] = TCell { entry.Blue, entry.Green, entry.Red, 0 };
    }
}

template <T5by3Kernel Kernel>
[[gnu::always_inline]] inline typename T5by3Ditherer<Kernel>::TCell T5by3Ditherer<Kernel>::Quantise(
    TCell carried, std::int32_t red, std::int32_t green, std::int32_t blue, std::int32_t& index)
{
    constexpr std::int32_t kHalf = Kernel.Divisor / 2;
    const std::int32_t valueB = std::clamp(blue + Div(carried[0] + kHalf, Kernel.Divisor), 0, 255);
    const std::int32_t valueG = std::clamp(green + Div(carried[1] + kHalf, Kernel.Divisor), 0, 255);
    const std::int32_t valueR = std::clamp(red + Div(carried[2] + kHalf, Kernel.Divisor), 0, 255);
    index = m_lookup.LookupIndex(valueR, valueG, valueB);
    // The error is measured from the clamped value, so what was cut off at 0
    // or 255 is not passed on.
    const TCell value { static_cast<std::int16_t>(valueB), static_cast<std::int16_t>(valueG),
        static_cast<std::int16_t>(valueR), 0 };
    return value - m_palette[index];
}

// Adding a zero error changes nothing, so the spreading runs unconditionally:
// cheaper than a branch the processor cannot predict.
template <T5by3Kernel Kernel>
template <int D>
[[gnu::always_inline]] inline void T5by3Ditherer<Kernel>::SpreadBelow(std::int32_t x, TCell error)
{
    TCell* const next = m_next + x + 2;
    TCell* const after = m_after + x + 2;
    next[-2 * D] += error * static_cast<std::int16_t>(Kernel.Row1[0]);
    next[-D] += error * static_cast<std::int16_t>(Kernel.Row1[1]);
    next[0] += error * static_cast<std::int16_t>(Kernel.Row1[2]);
    next[D] += error * static_cast<std::int16_t>(Kernel.Row1[3]);
    next[2 * D] += error * static_cast<std::int16_t>(Kernel.Row1[4]);
    after[-2 * D] += error * static_cast<std::int16_t>(Kernel.Row2[0]);
    after[-D] += error * static_cast<std::int16_t>(Kernel.Row2[1]);
    after[0] += error * static_cast<std::int16_t>(Kernel.Row2[2]);
    after[D] += error * static_cast<std::int16_t>(Kernel.Row2[3]);
    after[2 * D] += error * static_cast<std::int16_t>(Kernel.Row2[4]);
}

template <T5by3Kernel Kernel>
std::int32_t T5by3Ditherer<Kernel>::DitherPixel(
    std::int32_t red, std::int32_t green, std::int32_t blue)
{
    const std::int32_t x = m_column;
    if (x < 0 || x >= m_width)
        throw EInvalidGraphicOperation(FormatMessage("Dither column out of range (%d)", x));
    const std::int32_t d = m_direction;
    m_column = x + d;
    TCell* const cur = m_cur + x + 2;
    std::int32_t index;
    const TCell error = Quantise(*cur, red, green, blue, index);
    *cur = TCell {};
    cur[d] += error * static_cast<std::int16_t>(Kernel.Row0[0]);
    cur[2 * d] += error * static_cast<std::int16_t>(Kernel.Row0[1]);
    if (d > 0)
        SpreadBelow<1>(x, error);
    else
        SpreadBelow<-1>(x, error);
    return index;
}

template <T5by3Kernel Kernel> void T5by3Ditherer<Kernel>::NextRow()
{
    // Every pixel clears its own cell once it has read it, so after a whole
    // row only the guard cells are left to clear. A row left unfinished is
    // cleared in full.
    if (m_column >= 0 && m_column < m_width) {
        std::fill(m_cur, m_cur + m_width + 4, TCell {});
    } else {
        m_cur[0] = m_cur[1] = TCell {};
        m_cur[m_width + 2] = m_cur[m_width + 3] = TCell {};
    }
    TCell* const cleared = m_cur;
    m_cur = m_next;
    m_next = m_after;
    m_after = cleared;
    ReverseDirection();
}

// The pixel loops of whole rows. The error a pixel pushes along its own row is
// kept in two registers instead of the current error row (one for the next
// pixel, one for the pixel after it), so the current row only holds what the
// rows above sent and the next pixel does not wait for a store and a reload.
// What is still pending when the row ends would have gone into the guard
// cells.

#if defined(__SSE2__)

namespace {

    // One pixel of the vector loop: the same arithmetic as Quantise, DitherPixel
    // and SpreadBelow, on the four 16-bit lanes of a cell (blue, green, red,
    // unused). Cells are 8 bytes: cur, next and after point at cell x + 2 of
    // their rows.
    template <T5by3Kernel Kernel, int D> struct TVectorPixel {
        template <int W> static __m128i Times(__m128i e)
        {
            if constexpr (W == 1)
                return e;
            else if constexpr (W == 2)
                return _mm_slli_epi16(e, 1);
            else if constexpr (W == 4)
                return _mm_slli_epi16(e, 2);
            else if constexpr (W == 8)
                return _mm_slli_epi16(e, 3);
            else
                return _mm_mullo_epi16(e, _mm_set1_epi16(static_cast<std::int16_t>(W)));
        }
        template <int W> static void Add(std::int16_t* cell, __m128i e)
        {
            if constexpr (W != 0) {
                __m128i* p = reinterpret_cast<__m128i*>(cell);
                _mm_storel_epi64(p, _mm_add_epi16(_mm_loadl_epi64(p), Times<W>(e)));
            }
        }

        [[gnu::always_inline]] static std::int32_t Run(std::int16_t* cur, std::int16_t* next,
            std::int16_t* after, const std::int16_t* palette, TFastColorLookup& lookup,
            const std::uint8_t* pixel, __m128i& aheadOne, __m128i& aheadTwo)
        {
            const __m128i zero = _mm_setzero_si128();
            __m128i* const cell = reinterpret_cast<__m128i*>(cur);
            __m128i sum = _mm_add_epi16(_mm_loadl_epi64(cell), aheadOne);
            _mm_storel_epi64(cell, zero);
            sum = _mm_add_epi16(sum, _mm_set1_epi16(static_cast<std::int16_t>(Kernel.Divisor / 2)));
            const __m128i quotient = _mm_sub_epi16(
                _mm_srai_epi16(
                    _mm_mulhi_epi16(
                        sum, _mm_set1_epi16(static_cast<std::int16_t>(Magic(Kernel.Divisor)))),
                    kShift),
                _mm_srai_epi16(sum, 15));
            const std::uint32_t bytes
                = pixel[0] | std::uint32_t(pixel[1]) << 8 | std::uint32_t(pixel[2]) << 16;
            const __m128i source
                = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(bytes)), zero);
            // Packing to unsigned bytes saturates: the clamp to 0..255.
            const __m128i clamped = _mm_packus_epi16(_mm_add_epi16(source, quotient), zero);
            const std::uint32_t value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(clamped));
            const std::int32_t red = value >> 16, green = (value >> 8) & 0xFF, blue = value & 0xFF;
            const std::int32_t cellIndex = static_cast<std::int32_t>(
                ((value >> 19) & 0x1F) | ((value >> 6) & 0x3E0) | ((value << 7) & 0x7C00));
            const std::int32_t index = lookup.LookupCell(cellIndex, red, green, blue);
            const __m128i error = _mm_sub_epi16(_mm_unpacklo_epi8(clamped, zero),
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(palette + 4 * index)));
            aheadOne = _mm_add_epi16(aheadTwo, Times<Kernel.Row0[0]>(error));
            aheadTwo = Times<Kernel.Row0[1]>(error);
            Add<Kernel.Row1[0]>(next - 8 * D, error);
            Add<Kernel.Row1[1]>(next - 4 * D, error);
            Add<Kernel.Row1[2]>(next, error);
            Add<Kernel.Row1[3]>(next + 4 * D, error);
            Add<Kernel.Row1[4]>(next + 8 * D, error);
            Add<Kernel.Row2[0]>(after - 8 * D, error);
            Add<Kernel.Row2[1]>(after - 4 * D, error);
            Add<Kernel.Row2[2]>(after, error);
            Add<Kernel.Row2[3]>(after + 4 * D, error);
            Add<Kernel.Row2[4]>(after + 8 * D, error);
            return index;
        }
    };

} // namespace

template <T5by3Kernel Kernel>
template <int D>
void T5by3Ditherer<Kernel>::DitherRowIn(const std::uint8_t* bgr, std::uint8_t* indices)
{
    using TPixel = TVectorPixel<Kernel, D>;
    std::int16_t* const cur = reinterpret_cast<std::int16_t*>(m_cur + 2);
    std::int16_t* const next = reinterpret_cast<std::int16_t*>(m_next + 2);
    std::int16_t* const after = reinterpret_cast<std::int16_t*>(m_after + 2);
    const std::int16_t* const palette = reinterpret_cast<const std::int16_t*>(m_palette.data());
    __m128i aheadOne = _mm_setzero_si128(), aheadTwo = _mm_setzero_si128();
    std::int32_t x = m_column;
    for (; x >= 0 && x < m_width; x += D) {
        indices[x] = static_cast<std::uint8_t>(TPixel::Run(cur + 4 * x, next + 4 * x, after + 4 * x,
            palette, m_lookup, bgr + 3 * x, aheadOne, aheadTwo));
    }
    m_column = x;
}

template <T5by3Kernel Kernel>
template <int D>
void T5by3Ditherer<Kernel>::DitherRowPairIn(const std::uint8_t* bgr, std::uint8_t* indices,
    T5by3Ditherer& other, const std::uint8_t* otherBgr, std::uint8_t* otherIndices)
{
    using TPixel = TVectorPixel<Kernel, D>;
    std::int16_t* const cur = reinterpret_cast<std::int16_t*>(m_cur + 2);
    std::int16_t* const next = reinterpret_cast<std::int16_t*>(m_next + 2);
    std::int16_t* const after = reinterpret_cast<std::int16_t*>(m_after + 2);
    const std::int16_t* const palette = reinterpret_cast<const std::int16_t*>(m_palette.data());
    std::int16_t* const otherCur = reinterpret_cast<std::int16_t*>(other.m_cur + 2);
    std::int16_t* const otherNext = reinterpret_cast<std::int16_t*>(other.m_next + 2);
    std::int16_t* const otherAfter = reinterpret_cast<std::int16_t*>(other.m_after + 2);
    const std::int16_t* const otherPalette
        = reinterpret_cast<const std::int16_t*>(other.m_palette.data());
    __m128i aheadOne = _mm_setzero_si128(), aheadTwo = _mm_setzero_si128();
    __m128i otherOne = _mm_setzero_si128(), otherTwo = _mm_setzero_si128();
    std::int32_t x = m_column;
    for (; x >= 0 && x < m_width; x += D) {
        indices[x] = static_cast<std::uint8_t>(TPixel::Run(cur + 4 * x, next + 4 * x, after + 4 * x,
            palette, m_lookup, bgr + 3 * x, aheadOne, aheadTwo));
        otherIndices[x] = static_cast<std::uint8_t>(
            TPixel::Run(otherCur + 4 * x, otherNext + 4 * x, otherAfter + 4 * x, otherPalette,
                other.m_lookup, otherBgr + 3 * x, otherOne, otherTwo));
    }
    m_column = x;
    other.m_column = x;
}

#else

template <T5by3Kernel Kernel>
template <int D>
void T5by3Ditherer<Kernel>::DitherRowIn(const std::uint8_t* bgr, std::uint8_t* indices)
{
    TCell aheadOne {}, aheadTwo {};
    std::int32_t x = m_column;
    for (; x >= 0 && x < m_width; x += D) {
        const std::uint8_t* pixel = bgr + 3 * x;
        std::int32_t index;
        const TCell error = Quantise(m_cur[x + 2] + aheadOne, pixel[2], pixel[1], pixel[0], index);
        m_cur[x + 2] = TCell {};
        indices[x] = static_cast<std::uint8_t>(index);
        aheadOne = aheadTwo + error * static_cast<std::int16_t>(Kernel.Row0[0]);
        aheadTwo = error * static_cast<std::int16_t>(Kernel.Row0[1]);
        SpreadBelow<D>(x, error);
    }
    m_column = x;
}

template <T5by3Kernel Kernel>
template <int D>
void T5by3Ditherer<Kernel>::DitherRowPairIn(const std::uint8_t* bgr, std::uint8_t* indices,
    T5by3Ditherer& other, const std::uint8_t* otherBgr, std::uint8_t* otherIndices)
{
    const std::int32_t start = m_column;
    DitherRowIn<D>(bgr, indices);
    other.m_column = start;
    other.DitherRowIn<D>(otherBgr, otherIndices);
}

#endif

template <T5by3Kernel Kernel>
void T5by3Ditherer<Kernel>::DitherRow(const std::uint8_t* bgr, std::uint8_t* indices)
{
    if (m_direction > 0)
        DitherRowIn<1>(bgr, indices);
    else
        DitherRowIn<-1>(bgr, indices);
    NextRow();
}

template <T5by3Kernel Kernel>
void T5by3Ditherer<Kernel>::DitherRowPair(const std::uint8_t* bgr, std::uint8_t* indices,
    T5by3Ditherer& other, const std::uint8_t* otherBgr, std::uint8_t* otherIndices)
{
    if (other.m_width != m_width || other.m_direction != m_direction
        || other.m_column != m_column) {
        DitherRow(bgr, indices);
        other.DitherRow(otherBgr, otherIndices);
        return;
    }
    if (m_direction > 0)
        DitherRowPairIn<1>(bgr, indices, other, otherBgr, otherIndices);
    else
        DitherRowPairIn<-1>(bgr, indices, other, otherBgr, otherIndices);
    NextRow();
    other.NextRow();
}

template class T5by3Ditherer<kStuckiKernel>;

// ---------------------------------------------------------------------------
// ReduceToPalette

namespace {

    // One frame's work, prepared on the calling thread so that the pixel loop
    // touches plain memory only.
    struct TReduceJob {
        TReduceJob(const TDIB& source, TDIB& target)
            : Rows(source)
            , Width(source.Width())
            , Height(source.Height())
            , OutTop(target.ScanLine(0))
            , OutStep(target.RowStep())
        {
        }

        TRowReader24 Rows;
        std::int32_t Width;
        std::int32_t Height;
        std::uint8_t* OutTop;
        std::ptrdiff_t OutStep;
    };

    // The 8-bit result bitmap with the palette as its colour table; an empty
    // bitmap for an empty palette.
    TDIB MakeReducedBitmap(const TDIB& source, const TColorPalette& palette)
    {
        TDIB reduced;
        const std::int32_t entries
            = static_cast<std::int32_t>(std::min<std::size_t>(palette.size(), 256));
        if (entries == 0)
            return reduced;
        if (source.Width() <= 0 || source.Height() <= 0)
            throw GIFException(kInvalidImageSize);

        TDIBColorTable table {};
        for (std::int32_t i = 0; i < entries; ++i)
            table[i] = TRGBQuad { palette[i].Blue, palette[i].Green, palette[i].Red, 0 };
        try {
            reduced.ColorTable() = table;
            reduced.SetSize(source.Width(), source.Height(), 8);
            reduced.ColorTable() = table;
            reduced.UpdatePalette();
        } catch (const std::bad_alloc&) {
            throw EOutOfResources(kOutOfMemoryForDIB);
        }
        // The header's biClrImportant field (offset 36 of the 40-byte
        // BITMAPINFOHEADER) counts the palette's own entries; the black fill after
        // them is only there to make 256.
        std::vector<std::uint8_t>& header = reduced.Image()->BitmapInfo;
        if (header.size() >= 40) {
            for (int i = 0; i < 4; ++i)
                header[36 + i] = static_cast<std::uint8_t>(std::uint32_t(entries) >> (8 * i));
        }
        return reduced;
    }

    // The pixel loop of one frame. The lookup and its colour cache belong to this
    // frame alone: sharing a cache between frames would change which index a cell
    // keeps and so the result.
    void RunReduceJob(TReduceJob& job, const TColorPalette& palette)
    {
        TFastColorLookup lookup(palette);
        TStuckiDitherer ditherer(job.Width, lookup);
        for (std::int32_t y = 0; y < job.Height; ++y)
            ditherer.DitherRow(job.Rows.Row(y), job.OutTop + std::ptrdiff_t(y) * job.OutStep);
    }

    // Two frames of the same size side by side, each with its own lookup.
    void RunReduceJobPair(TReduceJob& first, TReduceJob& second, const TColorPalette& palette)
    {
        TFastColorLookup firstLookup(palette);
        TFastColorLookup secondLookup(palette);
        TStuckiDitherer firstDitherer(first.Width, firstLookup);
        TStuckiDitherer secondDitherer(second.Width, secondLookup);
        for (std::int32_t y = 0; y < first.Height; ++y) {
            firstDitherer.DitherRowPair(first.Rows.Row(y),
                first.OutTop + std::ptrdiff_t(y) * first.OutStep, secondDitherer,
                second.Rows.Row(y), second.OutTop + std::ptrdiff_t(y) * second.OutStep);
        }
    }

} // namespace

TDIB ReduceToPalette(const TDIB& bitmap, const TColorPalette& palette)
{
    TDIB reduced = MakeReducedBitmap(bitmap, palette);
    if (reduced.Empty())
        return reduced;
    TReduceJob job(bitmap, reduced);
    RunReduceJob(job, palette);
    return reduced;
}

std::vector<TDIB> ReduceFramesToPalette(
    std::span<const TDIB> bitmaps, const TColorPalette& palette, unsigned threads)
{
    std::vector<TDIB> reduced;
    reduced.reserve(bitmaps.size());
    std::vector<TReduceJob> jobs;
    jobs.reserve(bitmaps.size());
    for (const TDIB& bitmap : bitmaps) {
        reduced.push_back(MakeReducedBitmap(bitmap, palette));
        if (!reduced.back().Empty())
            jobs.emplace_back(bitmap, reduced.back());
    }

    // Frames of the same size go in pairs; a frame left over goes alone.
    struct TUnit {
        std::size_t First;
        std::size_t Second; // == First when alone
    };
    std::vector<TUnit> units;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (i + 1 < jobs.size() && jobs[i].Width == jobs[i + 1].Width
            && jobs[i].Height == jobs[i + 1].Height) {
            units.push_back({ i, i + 1 });
            ++i;
        } else {
            units.push_back({ i, i });
        }
    }

    ParallelFor(units.size(), threads, [&](std::size_t i) {
        if (units[i].First == units[i].Second)
            RunReduceJob(jobs[units[i].First], palette);
        else
            RunReduceJobPair(jobs[units[i].First], jobs[units[i].Second], palette);
    });
    return reduced;
}

} // namespace zx
