// Lossy GIF coding: the writer's LZW string table followed pixel by pixel,
// and the standard level's reduction with the lossy choice of entries.

#include "core/gif/XGIFUnitLossy.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitLossyCoder.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitReadRGB.h"

#include <algorithm>

namespace zx {

// ---------------------------------------------------------------------------
// The string table

TLzwStringTable::TLzwStringTable(std::int32_t minCodeSize)
    : m_minCodeSize(std::clamp<std::int32_t>(minCodeSize, 2, 8))
    , m_firstFree((1 << m_minCodeSize) + 2)
    , m_keys(kSlots, kFreeSlot)
    , m_values(kSlots, 0)
    , m_firstChild(kNodes, -1)
    , m_nextSibling(kNodes, -1)
    , m_symbol(kNodes, 0)
    , m_parent(kNodes, -1)
    , m_height(kNodes, 0)
{
    for (std::int32_t s = 0; s < kRoots; ++s)
        m_symbol[std::size_t(s)] = static_cast<std::uint8_t>(s);
    Start();
}

void TLzwStringTable::Clear()
{
    std::fill(m_keys.begin(), m_keys.end(), kFreeSlot);
    ++m_generation;
    const std::ptrdiff_t used = kRoots + (m_nextFree - m_firstFree);
    std::fill(m_firstChild.begin(), m_firstChild.begin() + used, std::int16_t(-1));
    std::fill(m_height.begin(), m_height.begin() + kRoots, std::int16_t(0));
    m_nextFree = m_firstFree;
}

void TLzwStringTable::Start()
{
    m_nextFree = m_firstFree + (kNodes - kRoots);
    Clear();
    m_string = -1;
    // The writer opens every frame with a clear code.
    m_width = m_minCodeSize + 1;
    m_largest = (1 << m_width) - 1;
    m_bits = std::uint64_t(m_width);
}

void TLzwStringTable::Push(std::int32_t symbol)
{
    if (m_string < 0) {
        m_string = symbol;
        return;
    }
    const std::uint32_t key = Key(m_string, symbol);
    const std::uint32_t slot = Slot(key);
    if (m_keys[slot] != kFreeSlot) {
        m_string = m_values[slot];
        return;
    }
    // The writer codes the string and starts the next one with this pixel;
    // the string followed by the pixel gets the next code, unless the table
    // is full: then a clear code follows and the table starts over.
    m_bits += std::uint64_t(m_width);
    if (m_nextFree > m_largest) {
        ++m_width;
        m_largest = m_width >= 12 ? 4096 : (1 << m_width) - 1;
    }
    if (m_nextFree > kLastAssignedCode) {
        m_bits += std::uint64_t(m_width);
        m_width = m_minCodeSize + 1;
        m_largest = (1 << m_width) - 1;
        Clear();
    } else {
        const std::int32_t node = kRoots + (m_nextFree - m_firstFree);
        m_keys[slot] = key;
        m_values[slot] = static_cast<std::int16_t>(node);
        m_symbol[std::size_t(node)] = static_cast<std::uint8_t>(symbol);
        m_firstChild[std::size_t(node)] = -1;
        m_nextSibling[std::size_t(node)] = m_firstChild[std::size_t(m_string)];
        m_firstChild[std::size_t(m_string)] = static_cast<std::int16_t>(node);
        m_parent[std::size_t(node)] = static_cast<std::int16_t>(m_string);
        m_height[std::size_t(node)] = 0;
        std::int16_t height = 1;
        for (std::int32_t up = m_string; up >= 0 && m_height[std::size_t(up)] < height;
             up = m_parent[std::size_t(up)], ++height)
            m_height[std::size_t(up)] = height;
        ++m_nextFree;
    }
    m_string = symbol;
}

std::uint64_t TLzwStringTable::DataBytes() const
{
    std::uint64_t bits = m_bits;
    std::int32_t width = m_width;
    if (m_string >= 0) {
        // The last string, then the end code, in the width that follows it.
        bits += std::uint64_t(width);
        if (m_nextFree > m_largest)
            ++width;
    }
    bits += std::uint64_t(std::min(width, 12));
    const std::uint64_t bytes = (bits + 7) / 8;
    return 1 + bytes + (bytes + 254) / 255 + 1;
}

std::array<std::uint8_t, 256> CanonicalEntries(const TColorPalette& palette)
{
    std::array<std::uint8_t, 256> canonical {};
    const std::size_t count = std::min<std::size_t>(palette.size(), 256);
    for (std::size_t i = 0; i < 256; ++i)
        canonical[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 1; i < count; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (palette[j].Red == palette[i].Red && palette[j].Green == palette[i].Green
                && palette[j].Blue == palette[i].Blue) {
                canonical[i] = static_cast<std::uint8_t>(j);
                break;
            }
        }
    }
    return canonical;
}

namespace lossy {

    TNeighbourLists FindNeighbours(
        const TColorPalette& palette, const std::array<std::uint8_t, 256>& canonical)
    {
        const std::int32_t entries
            = static_cast<std::int32_t>(std::min<std::size_t>(palette.size(), 256));
        TNeighbourLists result;
        result.Lists.assign(std::size_t(entries), {});
        result.Counts.assign(std::size_t(entries), 0);
        std::vector<std::pair<std::int32_t, std::int32_t>> order;
        for (std::int32_t i = 0; i < entries; ++i) {
            order.clear();
            const TPaletteEntry& a = palette[std::size_t(i)];
            for (std::int32_t j = 0; j < entries; ++j) {
                if (j == i || canonical[std::size_t(j)] != j || canonical[std::size_t(i)] == j)
                    continue;
                const TPaletteEntry& b = palette[std::size_t(j)];
                const std::int32_t dr = a.Red - b.Red, dg = a.Green - b.Green, db = a.Blue - b.Blue;
                order.emplace_back(dr * dr + dg * dg + db * db, j);
            }
            const std::size_t n = std::min(order.size(), kNeighbours);
            std::partial_sort(order.begin(), order.begin() + std::ptrdiff_t(n), order.end());
            for (std::size_t k = 0; k < n; ++k)
                result.Lists[std::size_t(i)][k] = static_cast<std::uint8_t>(order[k].second);
            result.Counts[std::size_t(i)] = static_cast<std::uint8_t>(n);
        }
        return result;
    }

} // namespace lossy

// ---------------------------------------------------------------------------
// The standard level with loss

namespace {

    // Stucki's kernel (8 4 / 2 4 8 4 2 / 1 2 4 2 1, out of 42) in file order,
    // with the standard level's nearest-colour lookup, as the look-ahead's
    // model. Background pixels of transparent frames have the transparent
    // index, and error sent to them is dropped.
    class TStuckiModel {
    public:
        // The error for the next pixel (8/42) and the one after (4/42), per
        // component red, green, blue.
        struct TAhead {
            std::int32_t One[3];
            std::int32_t Two[3];
        };
        using TValue = std::array<std::int32_t, 3>;
        static constexpr bool kStepNeedsNearest = false;

        TStuckiModel(std::int32_t width, const TColorPalette& palette,
            const std::array<std::uint8_t, 256>& canonical, std::uint8_t transparentIndex)
            : m_width(width)
            , m_lookup(palette)
            , m_canonical(canonical)
            , m_transparentIndex(transparentIndex)
            , m_rows(std::size_t(width + 4) * 3 * 3)
        {
            if (m_lookup.EntryCount() == 0)
                throw EInvalidGraphicOperation(GIFMessages::sDitherWithoutEntries);
            for (std::int32_t i = 0; i < m_lookup.EntryCount(); ++i) {
                const TPaletteEntry& e = m_lookup.Entry(i);
                m_colours[std::size_t(i) * 3] = e.Red;
                m_colours[std::size_t(i) * 3 + 1] = e.Green;
                m_colours[std::size_t(i) * 3 + 2] = e.Blue;
            }
        }

        std::int32_t Entries() const { return m_lookup.EntryCount(); }

        void StartFrame()
        {
            std::fill(m_rows.begin(), m_rows.end(), 0);
            m_cur = m_rows.data() + 6;
            m_next = m_cur + RowCells();
            m_after = m_next + RowCells();
        }

        // The row to code next, and what is known of its pixels.
        void StartRow(const std::uint8_t* bgr, const std::uint8_t* mask)
        {
            m_bgr = bgr;
            m_mask = mask;
        }

        // Moves the error rows up one once a row is coded.
        void EndRow()
        {
            std::int32_t* cleared = m_cur - 6;
            std::fill(cleared, cleared + RowCells(), 0);
            m_cur = m_next;
            m_next = m_after;
            m_after = cleared + 6;
        }

        bool Fixed(std::int32_t x, std::int32_t& symbol) const
        {
            if (!m_mask || m_mask[x] != 255)
                return false;
            symbol = m_transparentIndex;
            return true;
        }

        void Value(std::int32_t x, const TAhead& ahead, TValue& value) const
        {
            constexpr std::int32_t kDivisor = 42;
            const std::uint8_t* pixel = m_bgr + 3 * x;
            const std::int32_t* here = m_cur + 3 * x;
            for (int c = 0; c < 3; ++c) {
                value[std::size_t(c)] = std::clamp(
                    pixel[2 - c] + Div(here[c] + ahead.One[c] + kDivisor / 2, kDivisor), 0, 255);
            }
        }

        std::int32_t Nearest(const TValue& value)
        {
            return m_canonical[std::size_t(m_lookup.LookupIndex(value[0], value[1], value[2]))];
        }

        static std::int32_t Limit(std::int32_t nearest, std::int32_t slack)
        {
            return nearest + slack;
        }

        std::int32_t Distance(const TValue& value, std::int32_t entry) const
        {
            const std::int32_t* c = &m_colours[std::size_t(entry) * 3];
            const std::int32_t dr = value[0] - c[0];
            const std::int32_t dg = value[1] - c[1];
            const std::int32_t db = value[2] - c[2];
            return dr * dr + dg * dg + db * db;
        }

        void Step(TAhead& ahead, const TValue& value, std::int32_t, std::int32_t entry) const
        {
            const std::int32_t* colour = &m_colours[std::size_t(entry) * 3];
            for (int c = 0; c < 3; ++c) {
                const std::int32_t e = value[std::size_t(c)] - colour[c];
                ahead.One[c] = ahead.Two[c] + 8 * e;
                ahead.Two[c] = 4 * e;
            }
        }

        static void StepFixed(TAhead& ahead)
        {
            for (int c = 0; c < 3; ++c) {
                ahead.One[c] = ahead.Two[c];
                ahead.Two[c] = 0;
            }
        }

        void Commit(std::int32_t x, TAhead& ahead, std::int32_t symbol, std::int32_t)
        {
            std::int32_t fixed = 0;
            if (Fixed(x, fixed)) {
                m_usesTransparent = true;
                StepFixed(ahead);
                return;
            }
            m_used[std::size_t(symbol)] = true;
            TValue value;
            Value(x, ahead, value);
            const std::int32_t* colour = &m_colours[std::size_t(symbol) * 3];
            for (int c = 0; c < 3; ++c) {
                const std::int32_t e = value[std::size_t(c)] - colour[c];
                std::int32_t* n = m_next + 3 * x + c;
                std::int32_t* a = m_after + 3 * x + c;
                n[-6] += 2 * e;
                n[-3] += 4 * e;
                n[0] += 8 * e;
                n[3] += 4 * e;
                n[6] += 2 * e;
                a[-6] += e;
                a[-3] += 2 * e;
                a[0] += 4 * e;
                a[3] += 2 * e;
                a[6] += e;
                ahead.One[c] = ahead.Two[c] + 8 * e;
                ahead.Two[c] = 4 * e;
            }
        }

        std::array<bool, 256>& Used() { return m_used; }
        bool UsesTransparent() const { return m_usesTransparent; }

    private:
        std::size_t RowCells() const { return std::size_t(m_width + 4) * 3; }

        std::int32_t m_width;
        TFastColorLookup m_lookup;
        const std::array<std::uint8_t, 256>& m_canonical;
        std::uint8_t m_transparentIndex;
        std::array<std::int32_t, 256 * 3> m_colours {};
        std::vector<std::int32_t> m_rows;
        std::int32_t* m_cur = nullptr;
        std::int32_t* m_next = nullptr;
        std::int32_t* m_after = nullptr;
        const std::uint8_t* m_bgr = nullptr;
        const std::uint8_t* m_mask = nullptr;
        std::array<bool, 256> m_used {};
        bool m_usesTransparent = false;
    };

} // namespace

TLossyFrames ReduceFramesLossy(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, const TLossyCoding& coding,
    unsigned threads)
{
    TLossyFrames result;
    result.Frames.reserve(frames.size());
    for (const TDIB& frame : frames)
        result.Frames.push_back(MakeReducedBitmap(frame, palette));
    result.DataBytes.assign(frames.size(), 0);
    if (frames.empty() || result.Frames.front().Empty())
        return result;

    std::vector<const TDIB*> frameMasks(frames.size(), nullptr);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i < transparent.size() && transparent[i]) {
            if (i >= masks.size() || masks[i].Width() != frames[i].Width()
                || masks[i].Height() != frames[i].Height() || masks[i].BitCount() != 8)
                throw EInvalidGraphicOperation(GIFMessages::sMaskDoesNotFit);
            frameMasks[i] = &masks[i];
        }
    }

    const std::array<std::uint8_t, 256> canonical = CanonicalEntries(palette);
    std::vector<std::array<bool, 256>> used(frames.size());
    std::vector<char> usesTransparent(frames.size(), 0);
    // The lookup's cell cache keeps the first index found for a cell, so each
    // frame gets a lookup of its own, as the lossless reduction does.
    const lossy::TNeighbourLists neighbours = lossy::FindNeighbours(palette, canonical);
    ParallelFor(frames.size(), threads, [&](std::size_t i) {
        const std::int32_t width = frames[i].Width();
        TStuckiModel model(width, palette, canonical, coding.TransparentIndex);
        TLzwStringTable table(coding.CodeSize);
        lossy::TLookaheadCoder<TStuckiModel> coder(
            model, table, neighbours, model.Entries(), coding.Level, width);
        model.StartFrame();
        TRowReader24 rows(frames[i]);
        for (std::int32_t y = 0; y < frames[i].Height(); ++y) {
            ThrowIfCancelled();
            model.StartRow(rows.Row(y), frameMasks[i] ? frameMasks[i]->ConstScanLine(y) : nullptr);
            coder.CodeRow(result.Frames[i].ScanLine(y), y);
            model.EndRow();
        }
        result.DataBytes[i] = table.DataBytes();
        used[i] = model.Used();
        usesTransparent[i] = model.UsesTransparent();
    });
    lossy::GatherUsedEntries(result, used, usesTransparent);
    return result;
}

} // namespace zx
