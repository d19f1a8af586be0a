#pragma once

// The export's high quality level: a palette that keeps the dominant colours
// exactly and is fitted to the other colours of all frames and then tuned to
// the dithering that will use it, an exact nearest-colour search, and
// Floyd-Steinberg error diffusion that leaves colours the palette holds
// without noise and keeps still parts of the animation still. The output has
// the same form as the standard reduction's (8-bit frames over one shared
// palette), so the GIF around it is built the same way.
//
// Everything is deterministic: the same frames give the same palette and the
// same indices on any number of threads.

#include "core/gif/XGIFUnitQuantize.h"
#include "core/imaging/XDIBUnit.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zx {

// The palette entry nearest to a colour by squared distance in RGB, the
// lowest index among entries at the same distance. Colour space is cut into
// cells; a cell lists, in index order, the entries that can be nearest to some
// colour in it, so a search looks at a handful of entries only. Cell lists are
// made on first use, which makes a search object cheap to create but not safe
// to share between threads: each thread uses its own.
class TNearestColor {
public:
    // Uses the first 256 entries at most. A palette without entries raises
    // EInvalidGraphicOperation.
    explicit TNearestColor(const TColorPalette& palette);

    // Components 0..255. Inline: the ditherer calls it for every pixel.
    std::int32_t Find(std::int32_t red, std::int32_t green, std::int32_t blue)
    {
        const std::int32_t cell = Cell(red, green, blue);
        const TList list = m_lists[kLevels - 1][std::size_t(cell)];
        if (list.Count < 0)
            return FindInNewCell(cell, red, green, blue);
        if (list.Count < kRecallFrom)
            return Scan(list, red, green, blue);
        // A long list (where many entries lie close together, as in the
        // dark parts of a picture) is worth scanning once per colour.
        const std::uint32_t colour
            = (std::uint32_t(red) << 16) | (std::uint32_t(green) << 8) | std::uint32_t(blue);
        std::uint32_t& slot = m_recall[(colour * 0x9E3779B1u) >> (32 - kRecallBits)];
        if ((slot >> 8) == colour)
            return std::int32_t(slot & 0xFFu);
        const std::int32_t index = Scan(list, red, green, blue);
        slot = (colour << 8) | std::uint32_t(index);
        return index;
    }

    std::int32_t EntryCount() const { return m_entryCount; }
    const TPaletteEntry& Entry(std::int32_t index) const { return m_entries[index]; }

    // An entry as the search reads it: its colour and its index.
    struct TCandidate {
        std::int16_t Red;
        std::int16_t Green;
        std::int16_t Blue;
        std::uint16_t Index;
    };

private:
    // Where a list starts in the pool and how long it is (-1: not made yet).
    struct TList {
        std::int32_t Start = 0;
        std::int32_t Count = -1;
    };

    // Boxes of 32 levels per component, then of 16, then cells of 8: each
    // level's lists are made from its parent's.
    static constexpr std::size_t kLevels = 3;
    static constexpr std::int32_t kLevelShift[kLevels] = { 5, 4, 3 };
    static constexpr std::int32_t kCellShift = kLevelShift[kLevels - 1];

    // The colours last found through long lists, each slot the colour above
    // its entry's 8 bits: the slots start as white with white's nearest
    // entry, so that every slot is right from the start. Made with the first
    // long list.
    static constexpr std::int32_t kRecallFrom = 16;
    static constexpr std::uint32_t kRecallBits = 12;

    static std::int32_t Cell(std::int32_t red, std::int32_t green, std::int32_t blue)
    {
        return (red >> kCellShift) | ((green >> kCellShift) << (8 - kCellShift))
            | ((blue >> kCellShift) << (2 * (8 - kCellShift)));
    }
    // Distance and index in one key, so that the smallest key is the
    // nearest entry with the lowest index, found without branches (distances
    // are below 2^18, indices below 2^8).
    std::int32_t Scan(
        const TList& list, std::int32_t red, std::int32_t green, std::int32_t blue) const
    {
        const TCandidate* c = m_pool.data() + list.Start;
        std::uint32_t best = 0xFFFFFFFFu;
        std::int32_t i = 0;
#if defined(__SSE2__)
        // Short lists (those of small palettes) are quicker without.
        if (list.Count >= 4) {
            // Two candidates a step, as four 16-bit lanes each (red, green,
            // blue, index): the differences squared and summed in pairs, and
            // each key, the index below the distance, in an even 32-bit lane
            // (the odd lanes are left aside).
            static_assert(sizeof(TCandidate) == 8);
            const __m128i query
                = _mm_setr_epi16(std::int16_t(red), std::int16_t(green), std::int16_t(blue), 0,
                    std::int16_t(red), std::int16_t(green), std::int16_t(blue), 0);
            const __m128i colours = _mm_setr_epi16(-1, -1, -1, 0, -1, -1, -1, 0);
            auto keys = [&](std::int32_t at) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at));
                const __m128i d = _mm_sub_epi16(_mm_and_si128(v, colours), query);
                const __m128i squares = _mm_madd_epi16(d, d);
                const __m128i distance
                    = _mm_add_epi32(squares, _mm_shuffle_epi32(squares, _MM_SHUFFLE(2, 3, 0, 1)));
                return _mm_or_si128(_mm_slli_epi32(distance, 8), _mm_srli_epi64(v, 48));
            };
            auto smaller = [](__m128i a, __m128i b) {
                const __m128i less = _mm_cmplt_epi32(a, b);
                return _mm_or_si128(_mm_and_si128(less, a), _mm_andnot_si128(less, b));
            };
            // Four a step into two minima, so that each waits on the one
            // before it only every other pair.
            __m128i lanes = _mm_set1_epi32(0x7FFFFFFF);
            __m128i other = lanes;
            for (; i + 4 <= list.Count; i += 4) {
                lanes = smaller(keys(i), lanes);
                other = smaller(keys(i + 2), other);
            }
            if (i + 2 <= list.Count) {
                lanes = smaller(keys(i), lanes);
                i += 2;
            }
            lanes = smaller(other, lanes);
            const std::uint32_t even0 = std::uint32_t(_mm_cvtsi128_si32(lanes));
            const std::uint32_t even2 = std::uint32_t(
                _mm_cvtsi128_si32(_mm_shuffle_epi32(lanes, _MM_SHUFFLE(2, 2, 2, 2))));
            best = even0 < even2 ? even0 : even2;
        }
#endif
        for (; i < list.Count; ++i) {
            const std::int32_t dr = c[i].Red - red;
            const std::int32_t dg = c[i].Green - green;
            const std::int32_t db = c[i].Blue - blue;
            const std::uint32_t key
                = (std::uint32_t(dr * dr + dg * dg + db * db) << 8) | c[i].Index;
            best = key < best ? key : best;
        }
        return std::int32_t(best & 0xFFu);
    }

    // Lists the candidates among from[0..count) for the box lo..hi (inclusive
    // per component) into the pool.
    TList MakeList(const TCandidate* from, std::int32_t count,
        const std::array<std::int32_t, 3>& lo, const std::array<std::int32_t, 3>& hi);
    // The list of the box of the given level that holds the colour, made if
    // needed.
    TList List(std::size_t level, std::int32_t red, std::int32_t green, std::int32_t blue);
    std::int32_t FindInNewCell(
        std::int32_t cell, std::int32_t red, std::int32_t green, std::int32_t blue);

    std::array<TPaletteEntry, 256> m_entries {};
    std::int32_t m_entryCount = 0;
    std::vector<TCandidate> m_all;
    std::array<std::vector<TList>, kLevels> m_lists;
    std::vector<TCandidate> m_pool;
    std::vector<TCandidate> m_scratch;
    std::vector<std::uint32_t> m_recall;
};

// The frames of one animation as the high quality level sees them. frames are
// pictures of one size (any bit count, read as 24 bits); masks[i] (8 bits,
// 255 = background) is read only for the frames whose transparent[i] is set,
// and their background pixels take no part in the palette or the dithering:
// they become the transparent index later. Throws GIFException
// "无效的位图列表" for no frames, EInvalidGraphicOperation for frames of
// different sizes or a mask that does not fit its frame.

// One palette of exactly colours entries (1..256) for all the frames.
//
// The colours of all visible pixels are counted (exactly where there are at
// most 2^18 of them, else in cells of 6 bits per component). Where there are no
// more distinct colours than entries, the palette is those colours. Otherwise
// every dominant colour (at least 2 per mille of the pixels, a flat field or a
// plain background) gets an entry of its own, exactly, up to a quarter of the
// entries (half in palettes of more than 128); the others are split greedily,
// always the group whose colours spread most, across the component and place
// that remove most of that spread, until every entry has a group; k-means
// rounds then move those entries to the mean of the colours nearest to them. In
// palettes of at most 16 entries a second palette is fitted to all colours the
// same way, its entries nearest the dominant colours then set to them, and of
// the two the one whose dithered frames score better (as below) goes on. Last,
// they are tuned to the dithering: a few frames are dithered with the palette,
// and each entry moves part of the way towards the mean of the values (colour
// plus diffused error) that were mapped to it. Entries that cover the pixels'
// colours well but sit inside the values dithering asks for make the diffused
// error pile up; the tuned entries let it average out over a few pixels. Of the
// rounds, the palette whose dithered frames score best, plain and slightly
// blurred, is kept. At 16 entries and fewer the fitted entries are then spread
// a few per cent away from the mean colour of the pixels that are not of a
// dominant colour, where that gains blurred PSNR at least twice what it costs
// in PSNR, so that dithering reaches the picture's darkest and brightest
// colours.
//
// counted, when given, is called once the pixels' colours are counted: the
// part of the search that keeps every processor busy. What follows leaves
// some idle, for other work to use.
TColorPalette CreateHighQualityPalette(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, std::int32_t colours, unsigned threads = 0,
    const std::function<void()>& counted = {});

// Maps every frame onto the palette (at most 256 entries used) with
// Floyd-Steinberg error diffusion over an exact nearest-colour search
// (TFloydSteinberg in XGIFUnitDitherHigh.h), passing on all of each pixel's
// error or a little less, whichever scores best on a few frames. The results are 8-bit bitmaps
// whose colour table is the palette followed by black, as ReduceToPalette makes them; background
// pixels get index 0. A pixel that has the same colour in an earlier frame gets the index it got in
// the first such frame, so whatever does not move in the animation keeps one dither pattern and
// does not flicker; the dithering of each frame passes over those pixels. Threads: as for
// ReduceFramesToPalette.
std::vector<TDIB> ReduceFramesHighQuality(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, unsigned threads = 0);

// Which earlier frame each pixel takes its index from, as the reduction
// works it out: it depends on the frames alone, so it can be made while the
// palette is searched, and handed to the reduction.
using THighQualityPlan = std::vector<std::uint16_t>;
THighQualityPlan MakeHighQualityPlan(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, unsigned threads = 0);
// ReduceFramesHighQuality with the plan of the same frames (the same
// result).
std::vector<TDIB> ReduceFramesHighQuality(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, unsigned threads,
    const THighQualityPlan& plan);

} // namespace zx
