// Lossy GIF coding: the writer's LZW string table followed pixel by pixel,
// and the standard level's reduction with the lossy choice of entries.

#include "core/gif/XGIFUnitLossy.h"

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/WorkerPool.h"
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

// ---------------------------------------------------------------------------
// The standard level with loss

namespace {

    // The entries nearest to each entry (canonical ones only), nearest
    // first: where a string starts, these are the other entries a pixel
    // may take.
    constexpr std::size_t kNeighbours = 8;
    using TNeighbours = std::vector<std::array<std::uint8_t, kNeighbours>>;
    using TNeighbourCounts = std::vector<std::uint8_t>;

    std::int32_t EntryDistance(const TPaletteEntry& a, const TPaletteEntry& b)
    {
        const std::int32_t dr = a.Red - b.Red, dg = a.Green - b.Green, db = a.Blue - b.Blue;
        return dr * dr + dg * dg + db * db;
    }

    void FindNeighbours(const TColorPalette& palette,
        const std::array<std::uint8_t, 256>& canonical, TNeighbours& neighbours,
        TNeighbourCounts& counts)
    {
        const std::int32_t entries
            = static_cast<std::int32_t>(std::min<std::size_t>(palette.size(), 256));
        neighbours.assign(std::size_t(entries), {});
        counts.assign(std::size_t(entries), 0);
        std::vector<std::pair<std::int32_t, std::int32_t>> order;
        for (std::int32_t i = 0; i < entries; ++i) {
            order.clear();
            for (std::int32_t j = 0; j < entries; ++j) {
                if (j != i && canonical[std::size_t(j)] == j && canonical[std::size_t(i)] != j)
                    order.emplace_back(
                        EntryDistance(palette[std::size_t(i)], palette[std::size_t(j)]), j);
            }
            const std::size_t n = std::min(order.size(), kNeighbours);
            std::partial_sort(order.begin(), order.begin() + std::ptrdiff_t(n), order.end());
            for (std::size_t k = 0; k < n; ++k)
                neighbours[std::size_t(i)][k] = static_cast<std::uint8_t>(order[k].second);
            counts[std::size_t(i)] = static_cast<std::uint8_t>(n);
        }
    }

    // Stucki's kernel (8 4 / 2 4 8 4 2 / 1 2 4 2 1, out of 42) in file order.
    // Where a string starts or may go on, the coder looks ahead along the row
    // for the longest string of the table whose pixels all take entries
    // within the slack, and codes those pixels with it.
    class TLossyStucki {
    public:
        TLossyStucki(std::int32_t width, const TColorPalette& palette, const TLossyCoding& coding,
            const std::array<std::uint8_t, 256>& canonical, const TNeighbours& neighbours,
            const TNeighbourCounts& neighbourCounts)
            : m_width(width)
            , m_lookup(palette)
            , m_table(coding.CodeSize)
            , m_slack(LossySlack(coding.Level))
            , m_canonical(canonical)
            , m_neighbours(neighbours)
            , m_neighbourCounts(neighbourCounts)
            , m_transparentIndex(coding.TransparentIndex)
            , m_rows(std::size_t(width + 4) * 3 * 3)
            , m_levels(std::size_t(width) + 1)
            , m_plan(std::size_t(width) + 1)
        {
            if (m_lookup.EntryCount() == 0)
                throw EInvalidGraphicOperation(GIFMessages::sDitherWithoutEntries);
            m_entries = m_lookup.EntryCount();
            for (std::int32_t i = 0; i < m_entries; ++i) {
                const TPaletteEntry& e = m_lookup.Entry(i);
                m_colours[std::size_t(i) * 3] = e.Red;
                m_colours[std::size_t(i) * 3 + 1] = e.Green;
                m_colours[std::size_t(i) * 3 + 2] = e.Blue;
            }
        }

        // Reduces one frame; returns the size of its image data.
        std::uint64_t Run(const TDIB& frame, const TDIB* mask, TDIB& out,
            std::array<bool, 256>& used, bool& usesTransparent)
        {
            m_table.Start();
            TRowReader24 rows(frame);
            const std::size_t rowCells = std::size_t(m_width + 4) * 3;
            std::fill(m_rows.begin(), m_rows.end(), 0);
            std::int32_t* cur = m_rows.data();
            std::int32_t* next = cur + rowCells;
            std::int32_t* after = next + rowCells;
            for (std::int32_t y = 0; y < frame.Height(); ++y) {
                m_bgr = rows.Row(y);
                m_mask = mask ? mask->ConstScanLine(y) : nullptr;
                m_cur = cur + 6;
                CodeRow(out.ScanLine(y), next + 6, after + 6, used, usesTransparent);
                std::fill(cur, cur + rowCells, 0);
                std::int32_t* cleared = cur;
                cur = next;
                next = after;
                after = cleared;
            }
            return m_table.DataBytes();
        }

    private:
        // The error the pixels ahead on the row get from the ones coded
        // before them (8/42 for the next, 4/42 for the one after), per
        // component red, green, blue.
        struct TAhead {
            std::int32_t One[3];
            std::int32_t Two[3];
        };

        // One step of the look-ahead: the string coded up to the pixel
        // before, what that pixel's value and tolerance are, and which of the
        // candidates comes next.
        struct TLevel {
            std::int32_t Next;
            TAhead Ahead;
            std::int64_t Error;
            std::int32_t Value[3];
            std::int32_t Limit;
        };

        bool IsBackground(std::int32_t x) const { return m_mask && m_mask[x] == 255; }

        // The value of column x: its colour plus the error diffused to it.
        void ValueAt(std::int32_t x, const TAhead& ahead, std::int32_t* value) const
        {
            constexpr std::int32_t kDivisor = 42;
            const std::uint8_t* pixel = m_bgr + 3 * x;
            const std::int32_t* here = m_cur + 3 * x;
            for (int c = 0; c < 3; ++c) {
                value[c] = std::clamp(
                    pixel[2 - c] + Div(here[c] + ahead.One[c] + kDivisor / 2, kDivisor), 0, 255);
            }
        }

        static void Step(TAhead& ahead, const std::int32_t* error)
        {
            for (int c = 0; c < 3; ++c) {
                ahead.One[c] = ahead.Two[c] + 8 * error[c];
                ahead.Two[c] = 4 * error[c];
            }
        }
        static void StepOver(TAhead& ahead)
        {
            for (int c = 0; c < 3; ++c) {
                ahead.One[c] = ahead.Two[c];
                ahead.Two[c] = 0;
            }
        }

        std::int32_t Distance(const std::int32_t* value, std::int32_t entry) const
        {
            const std::int32_t* c = &m_colours[std::size_t(entry) * 3];
            const std::int32_t dr = value[0] - c[0];
            const std::int32_t dg = value[1] - c[1];
            const std::int32_t db = value[2] - c[2];
            return dr * dr + dg * dg + db * db;
        }

        // The nearest entry to a level's value, which also fixes the largest
        // distance an entry may have from it.
        std::int32_t Nearest(TLevel& level)
        {
            const std::int32_t nearest = m_canonical[std::size_t(
                m_lookup.LookupIndex(level.Value[0], level.Value[1], level.Value[2]))];
            level.Limit = Distance(level.Value, nearest) + m_slack;
            return nearest;
        }

        // Prepares a level for column x: its value. The limit waits until a
        // candidate is farther than the slack, since any nearer one passes.
        void Enter(TLevel& level, std::int32_t x)
        {
            level.Limit = -1;
            if (!IsBackground(x))
                ValueAt(x, level.Ahead, level.Value);
        }

        // Whether symbol may code column x from the given level; adds its
        // distance to error and moves ahead on.
        bool Accept(
            TLevel& level, std::int32_t x, std::int32_t symbol, std::int64_t& error, TAhead& ahead)
        {
            if (IsBackground(x)) {
                if (symbol != m_transparentIndex)
                    return false;
                ahead = level.Ahead;
                error = level.Error;
                StepOver(ahead);
                return true;
            }
            if (symbol >= m_entries)
                return false;
            const std::int32_t d = Distance(level.Value, symbol);
            if (d > m_slack) {
                if (level.Limit < 0)
                    Nearest(level);
                if (d > level.Limit)
                    return false;
            }
            ahead = level.Ahead;
            error = level.Error + d;
            const std::int32_t* colour = &m_colours[std::size_t(symbol) * 3];
            const std::int32_t e[3] = { level.Value[0] - colour[0], level.Value[1] - colour[1],
                level.Value[2] - colour[2] };
            Step(ahead, e);
            return true;
        }

        // Looks ahead from column x0 for the longest string that starts with
        // the current one (node >= 0) or a new one (node < 0), and leaves the
        // symbols it adds from x0 on in m_plan. Returns how many columns they
        // code (0: the current string cannot go on). Of strings equally long
        // the one with the smaller sum of squared distances wins.
        std::int32_t Plan(std::int32_t x0, const TAhead& ahead, std::int32_t node)
        {
            // Every step costs a value and the scan of a node's children; a
            // bound keeps the worst pixels cheap. It is rarely reached.
            constexpr std::int32_t kBudget = 64;
            std::int32_t bestDepth = 0;
            std::int32_t bestNode = -1;
            std::int64_t bestError = 0;
            std::int32_t roots[1 + kNeighbours];
            std::int32_t rootCount = 0;

            TLevel& top = m_levels[0];
            top.Ahead = ahead;
            top.Error = 0;
            Enter(top, x0);
            if (node >= 0) {
                top.Next = m_table.FirstChild(node);
            } else {
                // A new string may start with the nearest entry or one of
                // its neighbours.
                top.Next = 0;
                if (IsBackground(x0)) {
                    roots[rootCount++] = m_transparentIndex;
                } else {
                    const std::int32_t nearest = Nearest(top);
                    roots[rootCount++] = nearest;
                    for (std::int32_t k = 0; k < m_neighbourCounts[std::size_t(nearest)]; ++k)
                        roots[rootCount++] = m_neighbours[std::size_t(nearest)][std::size_t(k)];
                }
            }

            m_bestMaximal = false;
            bool bestOpen = false;
            std::int32_t depth = 0;
            std::int32_t budget = kBudget;
            while (depth >= 0 && budget > 0) {
                TLevel& level = m_levels[std::size_t(depth)];
                const std::int32_t x = x0 + depth;
                std::int32_t child = -1;
                std::int64_t error = 0;
                TAhead nextAhead;
                // The next candidate of this level that may code column x. A
                // string that cannot get longer than the best one found is
                // not worth a look.
                if (depth == 0 && node < 0) {
                    while (level.Next < rootCount) {
                        const std::int32_t symbol = roots[level.Next++];
                        if (1 + m_table.Height(symbol) < bestDepth)
                            continue;
                        if (Accept(level, x, symbol, error, nextAhead)) {
                            child = symbol;
                            break;
                        }
                    }
                } else {
                    while (level.Next >= 0) {
                        const std::int32_t candidate = level.Next;
                        level.Next = m_table.NextSibling(candidate);
                        if (depth + 1 + m_table.Height(candidate) < bestDepth)
                            continue;
                        if (Accept(level, x, m_table.Symbol(candidate), error, nextAhead)) {
                            child = candidate;
                            break;
                        }
                    }
                }
                if (child < 0) {
                    // Every candidate after the best string's end has been
                    // looked at: nothing continues it within the row.
                    if (bestOpen && depth == bestDepth) {
                        m_bestMaximal = true;
                        bestOpen = false;
                    }
                    --depth;
                    continue;
                }
                --budget;
                const std::int32_t reached = depth + 1;
                bool improved = false;
                if (reached > bestDepth || (reached == bestDepth && error < bestError)) {
                    improved = true;
                    m_bestMaximal = false;
                    bestOpen = false;
                    bestDepth = reached;
                    bestNode = child;
                    bestError = error;
                    if (x0 + reached >= m_width)
                        break;
                }
                if (x + 1 >= m_width)
                    continue;
                TLevel& deeper = m_levels[std::size_t(reached)];
                deeper.Next = m_table.FirstChild(child);
                if (deeper.Next < 0) {
                    m_bestMaximal = m_bestMaximal || improved;
                    continue;
                }
                bestOpen = improved;
                deeper.Ahead = nextAhead;
                deeper.Error = error;
                Enter(deeper, x + 1);
                depth = reached;
            }
            // The string's symbols from its end back to where the plan began.
            for (std::int32_t k = bestDepth - 1, at = bestNode; k >= 0; --k) {
                m_plan[std::size_t(k)] = static_cast<std::uint8_t>(m_table.Symbol(at));
                at = m_table.Parent(at);
            }
            return bestDepth;
        }

        void CodeRow(std::uint8_t* indices, std::int32_t* next, std::int32_t* after,
            std::array<bool, 256>& used, bool& usesTransparent)
        {
            TAhead ahead {};
            std::int32_t x = 0;
            while (x < m_width) {
                std::int32_t count = 0;
                // After a string that nothing continues the next one starts
                // here; at the start of a row the string may go on.
                if (m_table.HasString() && !(x > 0 && m_bestMaximal))
                    count = Plan(x, ahead, m_table.String());
                const std::int32_t before = m_table.String();
                const std::uint32_t generation = m_table.Generation();
                if (count == 0)
                    count = Plan(x, ahead, -1);
                for (std::int32_t k = 0; k < count; ++k, ++x) {
                    const std::int32_t symbol = m_plan[std::size_t(k)];
                    indices[x] = static_cast<std::uint8_t>(symbol);
                    m_table.Push(symbol);
                    // A full table starts over at the first pixel, and the
                    // strings planned beyond it are gone.
                    if (m_table.Generation() != generation) {
                        count = k + 1;
                        m_bestMaximal = false;
                    }
                    if (IsBackground(x)) {
                        usesTransparent = true;
                        StepOver(ahead);
                        continue;
                    }
                    used[std::size_t(symbol)] = true;
                    std::int32_t value[3];
                    ValueAt(x, ahead, value);
                    const std::int32_t* colour = &m_colours[std::size_t(symbol) * 3];
                    std::int32_t e[3];
                    for (int c = 0; c < 3; ++c) {
                        e[c] = value[c] - colour[c];
                        std::int32_t* n = next + 3 * x + c;
                        std::int32_t* a = after + 3 * x + c;
                        n[-6] += 2 * e[c];
                        n[-3] += 4 * e[c];
                        n[0] += 8 * e[c];
                        n[3] += 4 * e[c];
                        n[6] += 2 * e[c];
                        a[-6] += e[c];
                        a[-3] += 2 * e[c];
                        a[0] += 4 * e[c];
                        a[3] += 2 * e[c];
                        a[6] += e[c];
                    }
                    Step(ahead, e);
                }
                // Coding the first pixel gave the string before it a child,
                // and when that string is the one just coded again, the
                // child may continue it.
                if (m_table.String() == before)
                    m_bestMaximal = false;
            }
        }

        std::int32_t m_width;
        TFastColorLookup m_lookup;
        TLzwStringTable m_table;
        std::int32_t m_slack;
        const std::array<std::uint8_t, 256>& m_canonical;
        const TNeighbours& m_neighbours;
        const TNeighbourCounts& m_neighbourCounts;
        std::uint8_t m_transparentIndex;
        std::int32_t m_entries = 0;
        std::array<std::int32_t, 256 * 3> m_colours {};
        std::vector<std::int32_t> m_rows;
        std::vector<TLevel> m_levels;
        std::vector<std::uint8_t> m_plan;
        const std::uint8_t* m_bgr = nullptr;
        const std::uint8_t* m_mask = nullptr;
        const std::int32_t* m_cur = nullptr;
        // The string Plan found cannot go on within the row.
        bool m_bestMaximal = false;
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
    TNeighbours neighbours;
    TNeighbourCounts neighbourCounts;
    FindNeighbours(palette, canonical, neighbours, neighbourCounts);
    ParallelFor(frames.size(), threads, [&](std::size_t i) {
        TLossyStucki ditherer(
            frames[i].Width(), palette, coding, canonical, neighbours, neighbourCounts);
        used[i].fill(false);
        bool transparentSeen = false;
        result.DataBytes[i]
            = ditherer.Run(frames[i], frameMasks[i], result.Frames[i], used[i], transparentSeen);
        usesTransparent[i] = transparentSeen;
    });
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (std::size_t e = 0; e < 256; ++e)
            result.Used[e] = result.Used[e] || used[i][e];
        result.UsesTransparentIndex = result.UsesTransparentIndex || usesTransparent[i];
    }
    return result;
}

} // namespace zx
