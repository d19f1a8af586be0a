// Stucki error diffusion: the five-by-three diffusion engine with its scalar
// and vector pixel loops. The engine keeps its error cells in the compiler's
// vector type, so all of it stays in this file; XGIFUnitQuantize.h shows only
// TStuckiDitherer, which runs the engine with Stucki's kernel.

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitQuantize.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <array>
#include <vector>

namespace zx {

// ---------------------------------------------------------------------------
// The engine

// What every ditherer has: the frame width, the scan direction of the current
// row and the column of the next pixel. Rows alternate direction, starting
// left to right.
class TDitherEngine {
public:
    TDitherEngine(std::int32_t width, TFastColorLookup& lookup);

    std::int32_t Width() const { return m_width; }
    std::int32_t Direction() const { return m_direction; }
    std::int32_t Column() const { return m_column; }

protected:
    void ReverseDirection();

    std::int32_t m_width;
    std::int32_t m_direction = 1;
    std::int32_t m_column = 0;
    TFastColorLookup& m_lookup;
};

// A diffusion kernel of five columns by three rows, centred on the current
// pixel, weights out of Divisor. Row0 holds the two weights ahead of the pixel
// on its own row (1 and 2 columns ahead), Row1 and Row2 the five weights from
// 2 columns behind to 2 columns ahead on the next two rows. "Ahead" follows
// the scan direction.
struct T5by3Kernel {
    std::int32_t Row0[2];
    std::int32_t Row1[5];
    std::int32_t Row2[5];
    std::int32_t Divisor;
};

// The error diffusion engine for any five-by-three kernel. Keeps three error
// rows per channel (current, next, after next), each with two guard cells on
// either side that soak up error pushed beyond the frame's edges.
// Its operations are those of TStuckiDitherer (XGIFUnitQuantize.h), which
// documents them.
template <T5by3Kernel Kernel> class T5by3Ditherer : public TDitherEngine {
public:
    T5by3Ditherer(std::int32_t width, TFastColorLookup& lookup);
    std::int32_t DitherPixel(std::int32_t red, std::int32_t green, std::int32_t blue);
    void NextRow();
    void DitherRow(const std::uint8_t* bgr, std::uint8_t* indices);
    // DitherRow for each of N ditherers of one width at the same place, with
    // their pixels interleaved.
    template <int N>
    static void DitherRows(T5by3Ditherer* const* engines, const std::uint8_t* const* bgr,
        std::uint8_t* const* indices);

private:
    // One cell per column: the errors of blue, green and red (the order of
    // the pixel bytes) and one unused lane. 16 bits are enough: a cell
    // collects at most the full kernel (42 parts) of errors of at most 255.
    typedef std::int16_t TCell __attribute__((vector_size(8)));

    // The value a pixel gets with the error carried to it, its palette index
    // and the error left over.
    TCell Quantise(TCell carried, std::int32_t red, std::int32_t green, std::int32_t blue,
        std::int32_t& index);
    // Spreads an error over the two rows below, around column x.
    template <int D> void SpreadBelow(std::int32_t x, TCell error);
    template <int D> void DitherRowIn(const std::uint8_t* bgr, std::uint8_t* indices);
    template <int D, int N>
    static void DitherRowsIn(T5by3Ditherer* const* engines, const std::uint8_t* const* bgr,
        std::uint8_t* const* indices);

    std::vector<TCell> m_rows;
    TCell* m_cur = nullptr;
    TCell* m_next = nullptr;
    TCell* m_after = nullptr;
    std::array<TCell, 256> m_palette {};
};

// Stucki's kernel: 8 4 / 2 4 8 4 2 / 1 2 4 2 1, out of 42.
constexpr T5by3Kernel kStuckiKernel { { 8, 4 }, { 2, 4, 8, 4, 2 }, { 1, 2, 4, 2, 1 }, 42 };

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
        throw EInvalidGraphicOperation(GIFMessages::sDitherWithoutEntries);

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
        throw EInvalidGraphicOperation(FormatMessage(GIFMessages::sDitherColumnRange, x));
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
template <int D, int N>
void T5by3Ditherer<Kernel>::DitherRowsIn(
    T5by3Ditherer* const* engines, const std::uint8_t* const* bgr, std::uint8_t* const* indices)
{
    using TPixel = TVectorPixel<Kernel, D>;
    std::int16_t* cur[N];
    std::int16_t* next[N];
    std::int16_t* after[N];
    const std::int16_t* palette[N];
    __m128i aheadOne[N], aheadTwo[N];
    for (int k = 0; k < N; ++k) {
        cur[k] = reinterpret_cast<std::int16_t*>(engines[k]->m_cur + 2);
        next[k] = reinterpret_cast<std::int16_t*>(engines[k]->m_next + 2);
        after[k] = reinterpret_cast<std::int16_t*>(engines[k]->m_after + 2);
        palette[k] = reinterpret_cast<const std::int16_t*>(engines[k]->m_palette.data());
        aheadOne[k] = aheadTwo[k] = _mm_setzero_si128();
    }
    const std::int32_t width = engines[0]->m_width;
    std::int32_t x = engines[0]->m_column;
    for (; x >= 0 && x < width; x += D) {
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k)
            indices[k][x] = static_cast<std::uint8_t>(
                TPixel::Run(cur[k] + 4 * x, next[k] + 4 * x, after[k] + 4 * x, palette[k],
                    engines[k]->m_lookup, bgr[k] + 3 * x, aheadOne[k], aheadTwo[k]));
    }
    for (int k = 0; k < N; ++k)
        engines[k]->m_column = x;
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
template <int D, int N>
void T5by3Ditherer<Kernel>::DitherRowsIn(
    T5by3Ditherer* const* engines, const std::uint8_t* const* bgr, std::uint8_t* const* indices)
{
    const std::int32_t start = engines[0]->m_column;
    for (int k = 0; k < N; ++k) {
        engines[k]->m_column = start;
        engines[k]->template DitherRowIn<D>(bgr[k], indices[k]);
    }
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
template <int N>
void T5by3Ditherer<Kernel>::DitherRows(
    T5by3Ditherer* const* engines, const std::uint8_t* const* bgr, std::uint8_t* const* indices)
{
    const T5by3Ditherer& first = *engines[0];
    for (int k = 1; k < N; ++k) {
        if (engines[k]->m_width != first.m_width || engines[k]->m_direction != first.m_direction
            || engines[k]->m_column != first.m_column) {
            for (int j = 0; j < N; ++j)
                engines[j]->DitherRow(bgr[j], indices[j]);
            return;
        }
    }
    if (first.m_direction > 0)
        DitherRowsIn<1, N>(engines, bgr, indices);
    else
        DitherRowsIn<-1, N>(engines, bgr, indices);
    for (int k = 0; k < N; ++k)
        engines[k]->NextRow();
}

// ---------------------------------------------------------------------------
// TStuckiDitherer

class TStuckiDitherer::TEngine : public T5by3Ditherer<kStuckiKernel> {
public:
    using Base = T5by3Ditherer<kStuckiKernel>;
    using Base::T5by3Ditherer;
};

TStuckiDitherer::TStuckiDitherer(std::int32_t width, TFastColorLookup& lookup)
    : m_engine(std::make_unique<TEngine>(width, lookup))
{
}

TStuckiDitherer::~TStuckiDitherer() = default;
TStuckiDitherer::TStuckiDitherer(TStuckiDitherer&&) noexcept = default;
TStuckiDitherer& TStuckiDitherer::operator=(TStuckiDitherer&&) noexcept = default;

std::int32_t TStuckiDitherer::Width() const
{
    return m_engine->Width();
}

std::int32_t TStuckiDitherer::Direction() const
{
    return m_engine->Direction();
}

std::int32_t TStuckiDitherer::Column() const
{
    return m_engine->Column();
}

std::int32_t TStuckiDitherer::DitherPixel(std::int32_t red, std::int32_t green, std::int32_t blue)
{
    return m_engine->DitherPixel(red, green, blue);
}

void TStuckiDitherer::NextRow()
{
    m_engine->NextRow();
}

void TStuckiDitherer::DitherRow(const std::uint8_t* bgr, std::uint8_t* indices)
{
    m_engine->DitherRow(bgr, indices);
}

void TStuckiDitherer::DitherRows(std::span<TStuckiDitherer* const> ditherers,
    const std::uint8_t* const* bgr, std::uint8_t* const* indices)
{
    TEngine::Base* engines[4];
    for (std::size_t k = 0; k < ditherers.size() && k < 4; ++k)
        engines[k] = ditherers[k]->m_engine.get();
    switch (ditherers.size()) {
    case 2:
        TEngine::Base::DitherRows<2>(engines, bgr, indices);
        break;
    case 4:
        TEngine::Base::DitherRows<4>(engines, bgr, indices);
        break;
    default:
        for (std::size_t k = 0; k < ditherers.size(); ++k)
            ditherers[k]->DitherRow(bgr[k], indices[k]);
        break;
    }
}

} // namespace zx
