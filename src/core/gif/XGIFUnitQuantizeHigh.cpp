// The high quality level's palette: counted colours, a greedy split into as
// many groups as there are entries, k-means rounds, then the tuning of the
// entries to the dithering.

#include "core/gif/XGIFUnitQuantizeHigh.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitDitherHigh.h"
#include "core/gif/XGIFUnitMessages.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>

namespace zx {

namespace {

    using namespace highq;

    // Colours are counted in cells of 6 bits per component: close enough for
    // the palette (a cell's colours differ by at most 3 per component, and its
    // mean is kept exactly), and 2^18 cells stay small.
    constexpr std::int32_t kCellBits = 6;
    constexpr std::int32_t kCellShift = 8 - kCellBits;
    constexpr std::int32_t kCellSide = 1 << kCellBits;

    // Rounds of each refinement, chosen by measurement on the tuning sets of
    // bench/quality.sh: 10 k-means rounds gain up to 0.4 dB over 3 at 16
    // colours (a photograph), and the tuning keeps gaining blurred PSNR on
    // flags up to 8 rounds (flag-es at 16 colours: -0.8 dB behind the best
    // other encoder after 4, +0.4 dB ahead after 8); the best round is kept.
    constexpr std::int32_t kMeansRounds = 10;
    constexpr std::int32_t kTuneRounds = 8;

    // Up to this many distinct colours are counted exactly, beyond it in
    // cells. Its table takes 4 MiB at most; a dark picture with 2^16 to 2^18
    // colours is 0.15 dB better counted exactly.
    constexpr std::size_t kExactColourLimit = std::size_t(1) << 18;

    // A colour of at least 2 per mille of the visible pixels is dominant and
    // gets an entry of its own, up to a quarter of the entries (half of them
    // in palettes of more than 128): a flat field or background then comes
    // out exactly and without noise. More of the entries at 64 and 16 colours
    // leave too few for the detail (flag-lk at 16 colours: -6.9 dB blurred
    // with half); a threshold of 5 per mille kept too few at 256 (flag-gb:
    // -0.5 dB behind the best other encoder instead of +2.0).
    constexpr std::uint64_t kDominantPerMille = 2;

    // Up to this many entries, a palette fitted to all colours alone, its
    // entries nearest the dominant colours then set to them, is tried
    // against the one fitted around the dominant colours (bench/quality.sh:
    // at 16 colours 0.2 dB better on average in PSNR and blurred PSNR, and
    // up to 2 dB on flags; no better at 64 and 256).
    constexpr std::int32_t kFreeFitColours = 16;

    // The counted colours of one cell.
    struct TPoint {
        std::uint64_t Count = 0;
        std::array<std::uint64_t, 3> Sum {};
        // The cell, per component (red first), and the mean colour, rounded.
        std::array<std::uint8_t, 3> Cell {};
        std::array<std::uint8_t, 3> Mean {};
    };

    std::int32_t Square(std::int32_t v)
    {
        return v * v;
    }

    std::uint8_t RoundedMean(std::uint64_t sum, std::uint64_t count)
    {
        return static_cast<std::uint8_t>((2 * sum + count) / (2 * count));
    }

    template <class Visit> void ForEachVisiblePixel(const TFrameSet& set, Visit&& visit)
    {
        for (std::size_t j = 0; j < set.Frames.size(); ++j) {
            TRowReader24 rows(*set.Frames[j]);
            for (std::int32_t y = 0; y < set.Height; ++y) {
                ThrowIfCancelled();
                const std::uint8_t* bgr = rows.Row(y);
                const std::uint8_t* mask = set.Masks[j] ? set.Masks[j]->ConstScanLine(y) : nullptr;
                for (std::int32_t x = 0; x < set.Width; ++x) {
                    if (!IsBackground(mask, x))
                        visit(bgr + 3 * x);
                }
            }
        }
    }

    struct TCellCount {
        std::uint64_t Count = 0;
        std::array<std::uint64_t, 3> Sum {};
    };

    std::size_t CellOf(const std::uint8_t* bgr)
    {
        return std::size_t(bgr[2] >> kCellShift) | (std::size_t(bgr[1] >> kCellShift) << kCellBits)
            | (std::size_t(bgr[0] >> kCellShift) << (2 * kCellBits));
    }

    // The frames of run 0 .. runs - 1 of set, in order.
    TFrameSet FramesOfRun(const TFrameSet& set, std::size_t run, std::size_t runs)
    {
        TFrameSet part;
        part.Width = set.Width;
        part.Height = set.Height;
        const std::size_t frames = set.Frames.size();
        for (std::size_t j = run * frames / runs; j < (run + 1) * frames / runs; ++j) {
            part.Frames.push_back(set.Frames[j]);
            part.Masks.push_back(set.Masks[j]);
        }
        return part;
    }

    // How many runs of frames the counts of cells and of dominant colours
    // take side by side: each holds a table of 8 MiB, so not many.
    std::size_t CellRuns(const TFrameSet& set, unsigned threads)
    {
        constexpr std::size_t kMostRuns = 2;
        return std::min(TaskCount(threads, set.Frames.size()), kMostRuns);
    }

    std::vector<TPoint> CountColours(
        const TFrameSet& set, std::vector<TCellCount>& cells, unsigned threads)
    {
        const std::size_t runs = CellRuns(set, threads);
        std::vector<std::vector<TCellCount>> counted(runs);
        ParallelFor(runs, threads, [&](std::size_t run) {
            std::vector<TCellCount>& own = counted[run];
            try {
                own.resize(std::size_t(1) << (3 * kCellBits));
            } catch (const std::bad_alloc&) {
                throw EOutOfResources(GIFMessages::sOutOfMemoryForDIB);
            }
            ForEachVisiblePixel(FramesOfRun(set, run, runs), [&](const std::uint8_t* p) {
                TCellCount& c = own[CellOf(p)];
                c.Count += 1;
                c.Sum[0] += p[2];
                c.Sum[1] += p[1];
                c.Sum[2] += p[0];
            });
        });
        // Integer sums: the same whichever run counted a pixel.
        cells = std::move(counted.front());
        for (std::size_t run = 1; run < runs; ++run) {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                cells[i].Count += counted[run][i].Count;
                for (int c = 0; c < 3; ++c)
                    cells[i].Sum[std::size_t(c)] += counted[run][i].Sum[std::size_t(c)];
            }
            std::vector<TCellCount>().swap(counted[run]);
        }
        std::vector<TPoint> points;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (cells[i].Count == 0)
                continue;
            TPoint point;
            point.Count = cells[i].Count;
            point.Sum = cells[i].Sum;
            for (int c = 0; c < 3; ++c) {
                point.Cell[c] = static_cast<std::uint8_t>((i >> (c * kCellBits)) & (kCellSide - 1));
                point.Mean[c] = RoundedMean(point.Sum[c], point.Count);
            }
            points.push_back(point);
        }
        return points;
    }

    // Distinct colours and how often each occurs: open addressing, keys are
    // colour + 1 (0 is free), the table never more than half full.
    class TExactCounts {
    public:
        // Counts count pixels of colour key - 1; isNew is told a colour the
        // table has not held before, and may refuse it (false), which then
        // refuses the pixels.
        template <class IsNew> bool Add(std::uint32_t key, std::uint64_t count, IsNew&& isNew)
        {
            if (key == m_lastKey) {
                m_counts[m_lastSlot] += count;
                return true;
            }
            std::size_t at = SlotOf(key);
            if (m_keys[at] == 0) {
                if (!isNew(key))
                    return false;
                if (2 * (m_used + 1) > m_keys.size()) {
                    Grow();
                    at = SlotOf(key);
                }
                m_keys[at] = key;
                ++m_used;
            }
            m_counts[at] += count;
            m_lastKey = key;
            m_lastSlot = at;
            return true;
        }
        bool Add(std::uint32_t key)
        {
            return Add(key, 1, [](std::uint32_t) { return true; });
        }

        std::size_t Used() const { return m_used; }

        // Every colour (0xRRGGBB) with its count, in the table's order.
        template <class Visit> void ForEach(Visit&& visit) const
        {
            for (std::size_t i = 0; i < m_keys.size(); ++i)
                if (m_keys[i] != 0)
                    visit(m_keys[i] - 1, m_counts[i]);
        }

    private:
        std::size_t SlotOf(std::uint32_t key) const
        {
            std::size_t at = std::size_t((key * 0x9E3779B1u) >> 5) & (m_keys.size() - 1);
            while (m_keys[at] != 0 && m_keys[at] != key)
                at = (at + 1) & (m_keys.size() - 1);
            return at;
        }

        void Grow()
        {
            std::vector<std::uint32_t> oldKeys(m_keys.size() * 2);
            std::vector<std::uint64_t> oldCounts(m_keys.size() * 2);
            oldKeys.swap(m_keys);
            oldCounts.swap(m_counts);
            for (std::size_t i = 0; i < oldKeys.size(); ++i) {
                if (oldKeys[i] == 0)
                    continue;
                const std::size_t to = SlotOf(oldKeys[i]);
                m_keys[to] = oldKeys[i];
                m_counts[to] = oldCounts[i];
            }
            m_lastKey = 0;
        }

        std::vector<std::uint32_t> m_keys = std::vector<std::uint32_t>(std::size_t(1) << 10);
        std::vector<std::uint64_t> m_counts = std::vector<std::uint64_t>(m_keys.size());
        std::size_t m_used = 0;
        std::uint32_t m_lastKey = 0;
        std::size_t m_lastSlot = 0;
    };

    // The number of bits set: std::popcount is a library call where the
    // processor is not known to count bits itself.
    std::uint32_t CountBits(std::uint64_t v)
    {
        v = v - ((v >> 1) & 0x5555555555555555ull);
        v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
        v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
        return std::uint32_t((v * 0x0101010101010101ull) >> 56);
    }

    // The visible pixels' colours counted exactly, each a point of its own,
    // ordered by colour; or nothing when there are more than limit distinct
    // colours, which the cells then count instead. Exact colours let the
    // palette tell apart the dark colours of a dark picture that a cell would
    // merge.
    //
    // Two passes over the pixels, without a hash table: the first marks each
    // colour in a map of a bit per colour (2 MiB), so that the number of
    // distinct colours is known before anything is counted (a photograph,
    // which has too many, costs no more than that pass); the second counts
    // each pixel at its colour's rank among the marked ones, which is the
    // bits set before its own. Runs of frames go side by side, each with a
    // map and counts of its own, merged after: the result does not depend on
    // how the frames were shared out.
    std::vector<TPoint> CountExactColours(const TFrameSet& set, std::size_t limit, unsigned threads)
    {
        constexpr std::size_t kWords = (std::size_t(1) << 24) / 64;
        // Each run holds a map of 2 MiB and counts of up to as much: a few
        // runs keep the two cheap passes quick without the memory growing
        // with the processors.
        constexpr std::size_t kMostRuns = 4;
        const std::size_t frames = set.Frames.size();
        const std::size_t runs = std::min(TaskCount(threads, frames), kMostRuns);
        auto framesOf = [&](std::size_t run) { return FramesOfRun(set, run, runs); };
        auto colourOf = [](const std::uint8_t* p) {
            return (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        };

        std::vector<std::vector<std::uint64_t>> maps(runs);
        ParallelFor(runs, threads, [&](std::size_t run) {
            std::vector<std::uint64_t> map(kWords, 0);
            ForEachVisiblePixel(framesOf(run), [&](const std::uint8_t* p) {
                const std::uint32_t colour = colourOf(p);
                map[colour >> 6] |= std::uint64_t(1) << (colour & 63);
            });
            maps[run] = std::move(map);
        });
        std::vector<std::uint64_t>& seen = maps.front();
        for (std::size_t run = 1; run < runs; ++run) {
            for (std::size_t i = 0; i < kWords; ++i)
                seen[i] |= maps[run][i];
            std::vector<std::uint64_t>().swap(maps[run]);
        }
        // Per word of the map, the colours marked in the words before it.
        std::vector<std::uint32_t> before(kWords);
        std::size_t distinct = 0;
        for (std::size_t i = 0; i < kWords; ++i) {
            before[i] = static_cast<std::uint32_t>(distinct);
            distinct += CountBits(seen[i]);
        }
        if (distinct > limit)
            return {};

        std::vector<std::vector<std::uint64_t>> counts(runs);
        ParallelFor(runs, threads, [&](std::size_t run) {
            std::vector<std::uint64_t> count(distinct, 0);
            ForEachVisiblePixel(framesOf(run), [&](const std::uint8_t* p) {
                const std::uint32_t colour = colourOf(p);
                const std::uint64_t below = (std::uint64_t(1) << (colour & 63)) - 1;
                ++count[before[colour >> 6] + CountBits(seen[colour >> 6] & below)];
            });
            counts[run] = std::move(count);
        });
        std::vector<std::uint64_t>& total = counts.front();
        for (std::size_t run = 1; run < runs; ++run)
            for (std::size_t i = 0; i < distinct; ++i)
                total[i] += counts[run][i];

        // In rank order, which is the order of the colours (red highest) and
        // so of their components.
        std::vector<TPoint> points;
        points.reserve(distinct);
        for (std::size_t i = 0; i < kWords; ++i) {
            for (std::uint64_t word = seen[i]; word != 0; word &= word - 1) {
                const std::uint32_t colour
                    = std::uint32_t(i * 64) + std::uint32_t(std::countr_zero(word));
                TPoint point;
                point.Count = total[points.size()];
                for (int c = 0; c < 3; ++c) {
                    const std::uint8_t v = static_cast<std::uint8_t>(colour >> (16 - 8 * c));
                    point.Cell[c] = v;
                    point.Mean[c] = v;
                    point.Sum[c] = point.Count * v;
                }
                points.push_back(point);
            }
        }
        return points;
    }

    // The distinct colours of the visible pixels in increasing order (red
    // highest), or nothing when there are more than limit.
    std::vector<std::uint32_t> DistinctColours(const TFrameSet& set, std::size_t limit)
    {
        std::unordered_set<std::uint32_t> seen;
        bool tooMany = false;
        std::uint32_t last = 0xFFFFFFFF;
        ForEachVisiblePixel(set, [&](const std::uint8_t* p) {
            const std::uint32_t colour
                = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
            if (tooMany || colour == last)
                return;
            last = colour;
            seen.insert(colour);
            tooMany = seen.size() > limit;
        });
        if (tooMany)
            return {};
        std::vector<std::uint32_t> colours(seen.begin(), seen.end());
        std::sort(colours.begin(), colours.end());
        return colours;
    }

    // A colour that covers a large share of the visible pixels (a flat field,
    // a plain background), with its count.
    struct TDominant {
        std::uint32_t Colour = 0;
        std::uint64_t Count = 0;
    };

    // The colours of at least minCount pixels, most pixels first (the lower
    // colour first on equal counts), at most limit of them. Only the cells
    // that hold so many pixels are looked into, so the pass is cheap.
    std::vector<TDominant> DominantColours(const TFrameSet& set,
        const std::vector<TCellCount>& cells, std::uint64_t minCount, std::size_t limit,
        unsigned threads)
    {
        std::vector<std::uint8_t> heavy(cells.size(), 0);
        bool any = false;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (cells[i].Count >= minCount) {
                heavy[i] = 1;
                any = true;
            }
        }
        if (!any || limit == 0)
            return {};
        // The colours of the heavy cells, counted in runs of frames side by
        // side and then added up; the order below does not depend on the
        // tables' order.
        const std::size_t runs = CellRuns(set, threads);
        std::vector<TExactCounts> counted(runs);
        ParallelFor(runs, threads, [&](std::size_t run) {
            ForEachVisiblePixel(FramesOfRun(set, run, runs), [&](const std::uint8_t* p) {
                if (heavy[CellOf(p)])
                    counted[run].Add(
                        ((std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0]) + 1);
            });
        });
        TExactCounts& counts = counted.front();
        for (std::size_t run = 1; run < runs; ++run)
            counted[run].ForEach([&](std::uint32_t colour, std::uint64_t count) {
                counts.Add(colour + 1, count, [](std::uint32_t) { return true; });
            });
        std::vector<TDominant> dominant;
        counts.ForEach([&](std::uint32_t colour, std::uint64_t count) {
            if (count >= minCount)
                dominant.push_back({ colour, count });
        });
        std::sort(dominant.begin(), dominant.end(), [](const TDominant& a, const TDominant& b) {
            return a.Count != b.Count ? a.Count > b.Count : a.Colour < b.Colour;
        });
        if (dominant.size() > limit)
            dominant.resize(limit);
        return dominant;
    }

    // ---------------------------------------------------------------------------
    // The greedy split

    struct TGroup {
        std::size_t Begin = 0;
        std::size_t End = 0;
        // The sum of squared distances of the group's colours from its mean.
        double Spread = 0;
        std::uint64_t Count = 0;
        std::array<std::uint64_t, 3> Sum {};
    };

    TGroup MakeGroup(const std::vector<TPoint>& points, std::size_t begin, std::size_t end)
    {
        TGroup group;
        group.Begin = begin;
        group.End = end;
        double squares = 0;
        for (std::size_t i = begin; i < end; ++i) {
            const TPoint& p = points[i];
            group.Count += p.Count;
            for (int c = 0; c < 3; ++c) {
                group.Sum[c] += p.Sum[c];
                // Count * mean^2, the point's colours taken at their mean.
                squares += double(p.Sum[c]) * double(p.Sum[c]) / double(p.Count);
            }
        }
        double mean = 0;
        for (int c = 0; c < 3; ++c)
            mean += double(group.Sum[c]) * double(group.Sum[c]);
        group.Spread = std::max(0.0, squares - mean / double(group.Count));
        return group;
    }

    // Splits the group where the spread removed is largest: along one
    // component, between two cells. False when the group cannot be split.
    bool SplitGroup(std::vector<TPoint>& points, const TGroup& group, TGroup& low, TGroup& high)
    {
        struct TSlice {
            std::uint64_t Count = 0;
            std::array<std::uint64_t, 3> Sum {};
        };
        std::array<std::array<TSlice, 256>, 3> slices {};
        for (std::size_t i = group.Begin; i < group.End; ++i) {
            const TPoint& p = points[i];
            for (int axis = 0; axis < 3; ++axis) {
                TSlice& s = slices[axis][p.Cell[axis]];
                s.Count += p.Count;
                for (int c = 0; c < 3; ++c)
                    s.Sum[c] += p.Sum[c];
            }
        }
        // Keeping the means of both halves instead of the whole: the spread
        // removed is sum^2 / count of each half less that of the whole, so
        // the best cut is the one with the largest sum of the halves' terms.
        double best = -1;
        int bestAxis = -1;
        int bestCut = 0;
        for (int axis = 0; axis < 3; ++axis) {
            TSlice below;
            for (int cut = 0; cut + 1 < 256; ++cut) {
                const TSlice& s = slices[axis][cut];
                below.Count += s.Count;
                for (int c = 0; c < 3; ++c)
                    below.Sum[c] += s.Sum[c];
                const std::uint64_t aboveCount = group.Count - below.Count;
                if (below.Count == 0 || aboveCount == 0)
                    continue;
                double gain = 0;
                double aboveGain = 0;
                for (int c = 0; c < 3; ++c) {
                    gain += double(below.Sum[c]) * double(below.Sum[c]);
                    const double above = double(group.Sum[c] - below.Sum[c]);
                    aboveGain += above * above;
                }
                gain = gain / double(below.Count) + aboveGain / double(aboveCount);
                if (gain > best) {
                    best = gain;
                    bestAxis = axis;
                    bestCut = cut;
                }
            }
        }
        if (bestAxis < 0)
            return false;
        const auto middle = std::partition(points.begin() + std::ptrdiff_t(group.Begin),
            points.begin() + std::ptrdiff_t(group.End),
            [&](const TPoint& p) { return p.Cell[bestAxis] <= bestCut; });
        const std::size_t split = std::size_t(middle - points.begin());
        low = MakeGroup(points, group.Begin, split);
        high = MakeGroup(points, split, group.End);
        return true;
    }

    TColorPalette SplitIntoGroups(std::vector<TPoint>& points, std::int32_t colours)
    {
        std::vector<TGroup> groups;
        groups.push_back(MakeGroup(points, 0, points.size()));
        while (std::int32_t(groups.size()) < colours) {
            std::size_t widest = groups.size();
            for (std::size_t i = 0; i < groups.size(); ++i) {
                const TGroup& g = groups[i];
                if (g.End - g.Begin >= 2 && g.Spread > 0
                    && (widest == groups.size() || g.Spread > groups[widest].Spread))
                    widest = i;
            }
            TGroup low, high;
            if (widest == groups.size() || !SplitGroup(points, groups[widest], low, high))
                break;
            groups[widest] = low;
            groups.push_back(high);
        }
        TColorPalette palette(static_cast<std::size_t>(colours));
        for (std::size_t i = 0; i < groups.size(); ++i) {
            palette[i].Red = RoundedMean(groups[i].Sum[0], groups[i].Count);
            palette[i].Green = RoundedMean(groups[i].Sum[1], groups[i].Count);
            palette[i].Blue = RoundedMean(groups[i].Sum[2], groups[i].Count);
        }
        return palette;
    }

    // ---------------------------------------------------------------------------
    // k-means and the tuning

    // One k-means round: every point goes to its nearest entry, and each
    // entry not fixed moves to the mean of its points. Runs of points are
    // assigned side by side, each with its own search (the points are in
    // colour order, so the runs meet different cells); the sums are integers,
    // so the result does not depend on the runs.
    void MeansRound(const std::vector<TPoint>& points, TColorPalette& palette,
        std::size_t fixedEntries, unsigned threads)
    {
        struct TSums {
            std::vector<std::uint64_t> Count;
            std::vector<std::array<std::uint64_t, 3>> Sum;
        };
        // A run of fewer points is not worth a thread.
        constexpr std::size_t kRunPoints = 16384;
        const std::size_t runs
            = TaskCount(threads, std::max<std::size_t>(1, points.size() / kRunPoints));
        std::vector<TSums> sums(runs);
        ParallelFor(runs, threads, [&](std::size_t run) {
            TNearestColor search(palette);
            TSums& own = sums[run];
            own.Count.assign(palette.size(), 0);
            own.Sum.assign(palette.size(), {});
            const std::size_t begin = points.size() * run / runs;
            const std::size_t end = points.size() * (run + 1) / runs;
            for (std::size_t k = begin; k < end; ++k) {
                const TPoint& p = points[k];
                const std::size_t i = std::size_t(search.Find(p.Mean[0], p.Mean[1], p.Mean[2]));
                own.Count[i] += p.Count;
                for (int c = 0; c < 3; ++c)
                    own.Sum[i][c] += p.Sum[c];
            }
        });
        TSums& total = sums[0];
        for (std::size_t run = 1; run < runs; ++run) {
            for (std::size_t i = 0; i < palette.size(); ++i) {
                total.Count[i] += sums[run].Count[i];
                for (int c = 0; c < 3; ++c)
                    total.Sum[i][c] += sums[run].Sum[i][c];
            }
        }
        for (std::size_t i = fixedEntries; i < palette.size(); ++i) {
            if (total.Count[i] == 0)
                continue;
            palette[i].Red = RoundedMean(total.Sum[i][0], total.Count[i]);
            palette[i].Green = RoundedMean(total.Sum[i][1], total.Count[i]);
            palette[i].Blue = RoundedMean(total.Sum[i][2], total.Count[i]);
        }
    }

    // The frames the palette is tuned on, each with the plan that has it
    // dither all its visible pixels.
    struct TTuneFrames {
        std::vector<std::size_t> Chosen;
        std::vector<std::vector<std::uint16_t>> Plans;

        explicit TTuneFrames(const TFrameSet& set)
            : Chosen(SampleFrames(set))
        {
            for (const std::size_t frame : Chosen)
                Plans.push_back(SelfPlan(set, frame));
        }
    };

    // The tune frames dithered with a palette: how well (Score) and the sums
    // of the values mapped to each entry.
    struct TTuneRound {
        double Score = 0;
        // For SpreadForDithering.
        double StrictScore = 0;
        TEntrySums Sums;
    };

    // Dithers the tune frames with each palette, all of them side by side.
    // The result of a palette does not depend on the others, nor on how the
    // work is shared out: its errors are scored in frame order, its sums are
    // sums.
    std::vector<TTuneRound> DitherTuneFrames(const TFrameSet& set, const TTuneFrames& tune,
        std::span<const TColorPalette* const> palettes, unsigned threads)
    {
        const std::size_t frames = tune.Chosen.size();
        const std::size_t jobs = palettes.size() * frames;
        const std::size_t tasks = TaskCount(threads, jobs);
        std::vector<TEntrySums> sums(tasks * palettes.size());
        // One search a task and palette, reused for its frames: the lists it
        // makes lazily hold for all of them.
        std::vector<std::optional<TNearestColor>> searches(tasks * palettes.size());
        const std::vector<TFrameError> errors = DitherAndMeasure(
            set, jobs, tasks, threads,
            [&](std::size_t task, std::size_t job, std::uint8_t* indices) {
                const std::size_t which = job / frames;
                const std::size_t i = job % frames;
                std::optional<TNearestColor>& search = searches[task * palettes.size() + which];
                if (!search)
                    search.emplace(*palettes[which]);
                TFloydSteinberg ditherer(set.Width, *search);
                TRowReader24 rows(*set.Frames[tune.Chosen[i]]);
                ditherer.DitherFrame(rows, set.Height, tune.Plans[i], 0, indices, set.Width,
                    &sums[task * palettes.size() + which]);
            },
            [&](std::size_t job) { return tune.Chosen[job % frames]; },
            [&](std::size_t job) -> const TColorPalette& { return *palettes[job / frames]; });
        std::vector<TTuneRound> rounds(palettes.size());
        for (std::size_t which = 0; which < palettes.size(); ++which) {
            const std::span<const TFrameError> own(errors.data() + which * frames, frames);
            rounds[which].Score = Score(own, palettes[which]->size());
            rounds[which].StrictScore = StrictScore(own);
            for (std::size_t task = 0; task < tasks; ++task)
                rounds[which].Sums.Add(sums[task * palettes.size() + which]);
        }
        return rounds;
    }

    // Moves each entry towards the mean of the values dithering mapped to it:
    // by half the way for palettes of more than 128 entries, by a quarter for
    // smaller ones, whose values spread wider and which overshoot and
    // oscillate with larger steps. Every round's palette is measured on the
    // frames it was dithered on, plain and blurred, and the one that scores
    // best (Score) is kept: on some pictures the untuned palette is the
    // better one, on others the last. first is the round of the palette as
    // given. Returns the StrictScore of the palette kept.
    double TuneToDithering(const TFrameSet& set, const TTuneFrames& tune, TColorPalette& palette,
        std::size_t fixedEntries, TTuneRound first, unsigned threads)
    {
        const std::int64_t divisor = palette.size() > 128 ? 2 : 4;
        double bestScore = first.Score;
        double bestStrict = first.StrictScore;
        TColorPalette best = palette;
        TTuneRound round = std::move(first);
        for (std::int32_t step = 1; step <= kTuneRounds; ++step) {
            const TEntrySums& totalSums = round.Sums;
            const TColorPalette before = palette;
            for (std::size_t i = fixedEntries; i < palette.size(); ++i) {
                const std::int64_t count = totalSums.Count[i];
                if (count == 0)
                    continue;
                std::uint8_t* component[3]
                    = { &palette[i].Red, &palette[i].Green, &palette[i].Blue };
                for (int c = 0; c < 3; ++c) {
                    // Values carry 8 fractional bits.
                    const std::int64_t mean
                        = (2 * totalSums.Sum[i * 3 + std::size_t(c)] + count) / (2 * count);
                    const std::int64_t old = std::int64_t(*component[c]) << 8;
                    const std::int64_t moved = old + (mean - old) / divisor;
                    *component[c] = static_cast<std::uint8_t>(
                        std::clamp<std::int64_t>((moved + 128) >> 8, 0, 255));
                }
            }
            // An entry that no longer moves has reached the mean of what it
            // was given; once none moves, every further round would dither
            // the same palette to the same sums again.
            if (palette == before)
                break;
            const TColorPalette* tried[1] = { &palette };
            round = std::move(DitherTuneFrames(set, tune, tried, threads).front());
            if (round.Score > bestScore) {
                bestScore = round.Score;
                bestStrict = round.StrictScore;
                best = palette;
            }
        }
        palette = best;
        return bestStrict;
    }

    // At few colours the fitted and tuned entries still sit inside the
    // colours: a picture's darkest shadows and brightest lights lie beyond
    // the mixtures of entries dithering can make, and what it cannot reach
    // shows as soon as the eye averages a few pixels. The entries fitted
    // (not the dominant colours, which stay exact) are spread away from the
    // mean colour of the other pixels by a few per cent; of the palette and
    // its spread versions, dithered on the tune frames, the one with the
    // best StrictScore is kept: spreading trades PSNR for blurred PSNR, and
    // only a spread that gains at least twice what it loses is taken
    // (photo-rocket at 16 colours: 29.22 / 36.54 dB -> 28.55 / 38.23).
    void SpreadForDithering(const TFrameSet& set, const TTuneFrames& tune,
        const std::vector<TPoint>& points, const std::vector<TDominant>& dominant,
        TColorPalette& palette, std::size_t fixedEntries, double strictScore, unsigned threads)
    {
        double sum[3] = { 0, 0, 0 };
        double count = 0;
        for (const TPoint& p : points) {
            count += double(p.Count);
            for (int c = 0; c < 3; ++c)
                sum[c] += double(p.Sum[c]);
        }
        for (const TDominant& d : dominant) {
            count -= double(d.Count);
            for (int c = 0; c < 3; ++c)
                sum[c] -= double(d.Count) * double((d.Colour >> (16 - 8 * c)) & 0xFF);
        }
        if (!(count > 0) || fixedEntries >= palette.size())
            return;
        static constexpr double kSpreads[] = { 1.04, 1.09 };
        std::vector<TColorPalette> spread(std::size(kSpreads), palette);
        for (std::size_t k = 0; k < std::size(kSpreads); ++k) {
            for (std::size_t i = fixedEntries; i < palette.size(); ++i) {
                std::uint8_t* component[3]
                    = { &spread[k][i].Red, &spread[k][i].Green, &spread[k][i].Blue };
                for (int c = 0; c < 3; ++c) {
                    const double mean = sum[c] / count;
                    *component[c] = static_cast<std::uint8_t>(std::clamp<long>(
                        std::lround(mean + (double(*component[c]) - mean) * kSpreads[k]), 0, 255));
                }
            }
        }
        std::vector<const TColorPalette*> tried;
        for (const TColorPalette& p : spread)
            tried.push_back(&p);
        const std::vector<TTuneRound> rounds = DitherTuneFrames(set, tune, tried, threads);
        const TColorPalette* best = &palette;
        for (std::size_t k = 0; k < rounds.size(); ++k) {
            if (rounds[k].StrictScore > strictScore) {
                strictScore = rounds[k].StrictScore;
                best = &spread[k];
            }
        }
        if (best != &palette)
            palette = *best;
    }

    // An entry that repeats an earlier one is of no use (and the GIF's
    // colour table would lose it): it takes the colour that is worst off,
    // the one whose pixels are farthest from their entries in all.
    void ReplaceRepeatedEntries(const std::vector<TPoint>& points, TColorPalette& palette)
    {
        std::unordered_set<std::uint32_t> seen;
        for (std::size_t i = 0; i < palette.size(); ++i) {
            const TPaletteEntry& e = palette[i];
            if (seen.insert((std::uint32_t(e.Red) << 16) | (std::uint32_t(e.Green) << 8) | e.Blue)
                    .second)
                continue;
            TNearestColor search(palette);
            double worst = 0;
            const TPoint* chosen = nullptr;
            for (const TPoint& p : points) {
                const TPaletteEntry& n = search.Entry(search.Find(p.Mean[0], p.Mean[1], p.Mean[2]));
                const double d = double(Square(n.Red - p.Mean[0]) + Square(n.Green - p.Mean[1])
                    + Square(n.Blue - p.Mean[2]));
                if (d * double(p.Count) > worst) {
                    worst = d * double(p.Count);
                    chosen = &p;
                }
            }
            if (!chosen)
                return;
            palette[i] = { chosen->Mean[0], chosen->Mean[1], chosen->Mean[2], 0 };
            seen.insert((std::uint32_t(chosen->Mean[0]) << 16)
                | (std::uint32_t(chosen->Mean[1]) << 8) | chosen->Mean[2]);
        }
    }

    // Fits a palette of colours entries to the counted colours, with the
    // given dominant colours as its first entries (no refinement moves
    // them); returns how many they are.
    std::size_t FitPalette(const std::vector<TPoint>& points, bool exactPoints, unsigned threads,
        const std::vector<TDominant>& dominant, std::int32_t colours, TColorPalette& palette)
    {
        const std::size_t fixedEntries = dominant.size();
        std::vector<TPoint> rest = points;
        std::vector<TPoint> all;
        if (fixedEntries > 0 && exactPoints) {
            // The dominant colours are points of their own: the rest is fitted
            // without them, the refinement sees them all.
            std::unordered_set<std::uint32_t> fixed;
            for (const TDominant& d : dominant)
                fixed.insert(d.Colour);
            std::erase_if(rest, [&](const TPoint& p) {
                return fixed.count(
                    (std::uint32_t(p.Mean[0]) << 16) | (std::uint32_t(p.Mean[1]) << 8) | p.Mean[2]);
            });
        } else if (fixedEntries > 0) {
            // Take the dominant colours out of their cells.
            std::unordered_map<std::uint32_t, std::size_t> where;
            for (std::size_t i = 0; i < rest.size(); ++i) {
                const TPoint& p = rest[i];
                where[(std::uint32_t(p.Cell[0]) << 16) | (std::uint32_t(p.Cell[1]) << 8)
                    | p.Cell[2]]
                    = i;
            }
            for (const TDominant& d : dominant) {
                const std::uint8_t rgb[3] = { static_cast<std::uint8_t>(d.Colour >> 16),
                    static_cast<std::uint8_t>(d.Colour >> 8), static_cast<std::uint8_t>(d.Colour) };
                TPoint& p = rest[where[(std::uint32_t(rgb[0] >> kCellShift) << 16)
                    | (std::uint32_t(rgb[1] >> kCellShift) << 8)
                    | std::uint32_t(rgb[2] >> kCellShift)]];
                p.Count -= d.Count;
                for (int c = 0; c < 3; ++c)
                    p.Sum[c] -= d.Count * rgb[c];
                if (p.Count > 0)
                    for (int c = 0; c < 3; ++c)
                        p.Mean[c] = RoundedMean(p.Sum[c], p.Count);
            }
            std::erase_if(rest, [](const TPoint& p) { return p.Count == 0; });
            all = rest;
            for (const TDominant& d : dominant) {
                TPoint p;
                p.Count = d.Count;
                const std::uint8_t rgb[3] = { static_cast<std::uint8_t>(d.Colour >> 16),
                    static_cast<std::uint8_t>(d.Colour >> 8), static_cast<std::uint8_t>(d.Colour) };
                for (int c = 0; c < 3; ++c) {
                    p.Sum[c] = d.Count * rgb[c];
                    p.Mean[c] = rgb[c];
                    p.Cell[c] = static_cast<std::uint8_t>(rgb[c] >> kCellShift);
                }
                all.push_back(p);
            }
        }
        const TColorPalette fitted = rest.empty()
            ? TColorPalette()
            : SplitIntoGroups(rest, colours - std::int32_t(fixedEntries));
        palette.assign(std::size_t(colours), TPaletteEntry {});
        for (std::size_t i = 0; i < fixedEntries; ++i)
            palette[i] = { static_cast<std::uint8_t>(dominant[i].Colour >> 16),
                static_cast<std::uint8_t>(dominant[i].Colour >> 8),
                static_cast<std::uint8_t>(dominant[i].Colour), 0 };
        std::copy(fitted.begin(), fitted.end(), palette.begin() + std::ptrdiff_t(fixedEntries));
        for (std::int32_t round = 0; round < kMeansRounds; ++round) {
            ThrowIfCancelled();
            MeansRound(fixedEntries && !exactPoints ? all : points, palette, fixedEntries, threads);
        }
        return fixedEntries;
    }

    // Gives each dominant colour, most pixels first, the entry nearest to it
    // of those not given one yet, exactly, and moves those entries to the
    // front in that order: the other entries stay where the fit put them,
    // and the flat fields still come out exact.
    void SnapToDominant(const std::vector<TDominant>& dominant, TColorPalette& palette)
    {
        for (std::size_t k = 0; k < dominant.size() && k < palette.size(); ++k) {
            const std::int32_t rgb[3] = { std::int32_t(dominant[k].Colour >> 16),
                std::int32_t((dominant[k].Colour >> 8) & 0xFF),
                std::int32_t(dominant[k].Colour & 0xFF) };
            std::size_t best = palette.size();
            std::int64_t bestDistance = 0;
            for (std::size_t i = k; i < palette.size(); ++i) {
                const std::int64_t d = Square(palette[i].Red - rgb[0])
                    + Square(palette[i].Green - rgb[1]) + Square(palette[i].Blue - rgb[2]);
                if (best == palette.size() || d < bestDistance) {
                    best = i;
                    bestDistance = d;
                }
            }
            std::swap(palette[k], palette[best]);
            palette[k] = { std::uint8_t(rgb[0]), std::uint8_t(rgb[1]), std::uint8_t(rgb[2]), 0 };
        }
    }

} // namespace

TColorPalette CreateHighQualityPalette(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, std::int32_t colours, unsigned threads,
    const std::function<void()>& counted)
{
    if (colours < 1 || colours > 256)
        throw EInvalidGraphicOperation(FormatMessage(GIFMessages::sColourLimitRange, colours));
    const TFrameSet set = CheckFrames(frames, masks, transparent);
    std::vector<TCellCount> cells;
    std::vector<TPoint> points = CountExactColours(set, kExactColourLimit, threads);
    const bool exactPoints = !points.empty();
    if (!exactPoints)
        points = CountColours(set, cells, threads);
    if (counted)
        counted();
    TColorPalette palette(static_cast<std::size_t>(colours));
    if (points.empty())
        return palette;

    // No more colours than entries: each gets its own, and nothing needs
    // dithering.
    if (points.size() <= std::size_t(colours)) {
        const std::vector<std::uint32_t> exact = DistinctColours(set, std::size_t(colours));
        if (!exact.empty()) {
            for (std::size_t i = 0; i < exact.size(); ++i)
                palette[i] = { static_cast<std::uint8_t>(exact[i] >> 16),
                    static_cast<std::uint8_t>(exact[i] >> 8), static_cast<std::uint8_t>(exact[i]),
                    0 };
            return palette;
        }
    }

    // The dominant colours get entries of their own, exactly, which no
    // refinement moves; the other entries are fitted to the rest.
    std::uint64_t visible = 0;
    for (const TPoint& p : points)
        visible += p.Count;
    const std::uint64_t minCount = std::max<std::uint64_t>(1, visible * kDominantPerMille / 1000);
    const std::size_t dominantLimit = std::size_t(colours) / (colours > 128 ? 2 : 4);
    std::vector<TDominant> dominant;
    if (exactPoints) {
        for (const TPoint& p : points)
            if (p.Count >= minCount)
                dominant.push_back({ (std::uint32_t(p.Mean[0]) << 16)
                        | (std::uint32_t(p.Mean[1]) << 8) | p.Mean[2],
                    p.Count });
        std::sort(dominant.begin(), dominant.end(), [](const TDominant& a, const TDominant& b) {
            return a.Count != b.Count ? a.Count > b.Count : a.Colour < b.Colour;
        });
        if (dominant.size() > dominantLimit)
            dominant.resize(dominantLimit);
    } else {
        dominant = DominantColours(set, cells, minCount, dominantLimit, threads);
    }
    // Fitting around the dominant colours keeps their entries out of the
    // fit: at few colours the fit of all colours often places the entries
    // better (a photograph's chance dominant colours, a flag's fields that
    // entries land near anyway), and setting its nearest entries to the
    // dominant colours keeps the fields exact. The two fits run side by side;
    // both palettes are dithered on the tune frames and the better one is
    // tuned.
    const bool tryFree = !dominant.empty() && colours <= kFreeFitColours;
    std::size_t fixedEntries = 0;
    TColorPalette free;
    // Two fits share the processors between them.
    const std::size_t processors = TaskCount(threads, std::numeric_limits<std::size_t>::max());
    const unsigned fitThreads
        = tryFree ? static_cast<unsigned>(std::max<std::size_t>(1, processors / 2)) : threads;
    ParallelFor(tryFree ? 2 : 1, threads, [&](std::size_t task) {
        if (task == 0) {
            fixedEntries = FitPalette(points, exactPoints, fitThreads, dominant, colours, palette);
        } else {
            FitPalette(points, exactPoints, fitThreads, {}, colours, free);
            SnapToDominant(dominant, free);
        }
    });
    const TTuneFrames tune(set);
    TTuneRound first;
    if (tryFree) {
        const TColorPalette* tried[2] = { &palette, &free };
        std::vector<TTuneRound> rounds = DitherTuneFrames(set, tune, tried, threads);
        if (rounds[1].Score > rounds[0].Score) {
            palette = std::move(free);
            first = std::move(rounds[1]);
        } else {
            first = std::move(rounds[0]);
        }
    } else {
        const TColorPalette* tried[1] = { &palette };
        first = std::move(DitherTuneFrames(set, tune, tried, threads).front());
    }
    const double strictScore
        = TuneToDithering(set, tune, palette, fixedEntries, std::move(first), threads);
    if (colours <= kFreeFitColours)
        SpreadForDithering(
            set, tune, points, dominant, palette, fixedEntries, strictScore, threads);
    ReplaceRepeatedEntries(points, palette);
    return palette;
}

} // namespace zx
