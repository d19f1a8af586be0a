// The high quality level's palette: counted colours, a greedy split into as
// many groups as there are entries, k-means rounds, then the tuning of the
// entries to the dithering.

#include "core/gif/XGIFUnitQuantizeHigh.h"

#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitDitherHigh.h"
#include "core/gif/XGIFUnitMessages.h"

#include <algorithm>
#include <array>
#include <new>
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

    // Rounds of each refinement, and the frames the tuning dithers. Chosen by
    // measurement on a photograph (bench/quality.sh): more change the result
    // by about a tenth of a dB and cost a quarter more time each.
    constexpr std::int32_t kMeansRounds = 3;
    constexpr std::int32_t kTuneRounds = 4;
    constexpr std::size_t kTuneFrames = 3;

    // The counted colours of one cell.
    struct TPoint {
        std::uint64_t Count = 0;
        std::array<std::uint64_t, 3> Sum {};
        // The cell, per component (red first), and the mean colour, rounded.
        std::array<std::uint8_t, 3> Cell {};
        std::array<std::uint8_t, 3> Mean {};
    };

    std::uint8_t RoundedMean(std::uint64_t sum, std::uint64_t count)
    {
        return static_cast<std::uint8_t>((2 * sum + count) / (2 * count));
    }

    template <class Visit> void ForEachVisiblePixel(const TFrameSet& set, Visit&& visit)
    {
        for (std::size_t j = 0; j < set.Frames.size(); ++j) {
            TRowReader24 rows(*set.Frames[j]);
            for (std::int32_t y = 0; y < set.Height; ++y) {
                const std::uint8_t* bgr = rows.Row(y);
                const std::uint8_t* mask = set.Masks[j] ? set.Masks[j]->ConstScanLine(y) : nullptr;
                for (std::int32_t x = 0; x < set.Width; ++x) {
                    if (!IsBackground(mask, x))
                        visit(bgr + 3 * x);
                }
            }
        }
    }

    std::vector<TPoint> CountColours(const TFrameSet& set)
    {
        struct TCellCount {
            std::uint64_t Count = 0;
            std::array<std::uint64_t, 3> Sum {};
        };
        std::vector<TCellCount> cells;
        try {
            cells.resize(std::size_t(1) << (3 * kCellBits));
        } catch (const std::bad_alloc&) {
            throw EOutOfResources(GIFMessages::sOutOfMemoryForDIB);
        }
        ForEachVisiblePixel(set, [&](const std::uint8_t* p) {
            const std::size_t cell = std::size_t(p[2] >> kCellShift)
                | (std::size_t(p[1] >> kCellShift) << kCellBits)
                | (std::size_t(p[0] >> kCellShift) << (2 * kCellBits));
            TCellCount& c = cells[cell];
            c.Count += 1;
            c.Sum[0] += p[2];
            c.Sum[1] += p[1];
            c.Sum[2] += p[0];
        });
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
        std::array<std::array<TSlice, kCellSide>, 3> slices {};
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
            for (int cut = 0; cut + 1 < kCellSide; ++cut) {
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

    void MeansRound(const std::vector<TPoint>& points, TColorPalette& palette)
    {
        TNearestColor search(palette);
        std::vector<std::uint64_t> count(palette.size());
        std::vector<std::array<std::uint64_t, 3>> sum(palette.size());
        for (const TPoint& p : points) {
            const std::size_t i = std::size_t(search.Find(p.Mean[0], p.Mean[1], p.Mean[2]));
            count[i] += p.Count;
            for (int c = 0; c < 3; ++c)
                sum[i][c] += p.Sum[c];
        }
        for (std::size_t i = 0; i < palette.size(); ++i) {
            if (count[i] == 0)
                continue;
            palette[i].Red = RoundedMean(sum[i][0], count[i]);
            palette[i].Green = RoundedMean(sum[i][1], count[i]);
            palette[i].Blue = RoundedMean(sum[i][2], count[i]);
        }
    }

    // Moves each entry towards the mean of the values dithering mapped to it:
    // by half the way for palettes of more than 128 entries, by a quarter for
    // smaller ones, whose values spread wider and which overshoot and
    // oscillate with larger steps.
    void TuneToDithering(const TFrameSet& set, TColorPalette& palette, unsigned threads)
    {
        const std::size_t frameCount = set.Frames.size();
        const std::size_t tuneCount = std::min(frameCount, kTuneFrames);
        std::vector<std::size_t> chosen;
        for (std::size_t i = 0; i < tuneCount; ++i)
            chosen.push_back(i * frameCount / tuneCount);
        // Every visible pixel is the frame's own (self 0), the background
        // nobody's.
        std::vector<std::vector<std::uint16_t>> plans(tuneCount);
        for (std::size_t i = 0; i < tuneCount; ++i) {
            plans[i].assign(set.Pixels(), 0);
            const TDIB* mask = set.Masks[chosen[i]];
            if (!mask)
                continue;
            for (std::int32_t y = 0; y < set.Height; ++y) {
                const std::uint8_t* row = mask->ConstScanLine(y);
                for (std::int32_t x = 0; x < set.Width; ++x) {
                    if (IsBackground(row, x))
                        plans[i][std::size_t(y) * std::size_t(set.Width) + std::size_t(x)]
                            = kBackground;
                }
            }
        }
        const std::int64_t divisor = palette.size() > 128 ? 2 : 4;
        const std::size_t tasks = TaskCount(threads, tuneCount);
        for (std::int32_t round = 0; round < kTuneRounds; ++round) {
            std::vector<TEntrySums> sums(tasks);
            ParallelFor(tasks, threads, [&](std::size_t task) {
                TNearestColor search(palette);
                // The entries are tuned to the colours dithering asks for;
                // which of the nearly as near entries the file's coding
                // prefers makes no difference to that, so it is left out.
                TFloydSteinberg ditherer(set.Width, search, false);
                std::vector<std::uint8_t> scratch(set.Pixels());
                for (std::size_t i = task; i < tuneCount; i += tasks) {
                    TRowReader24 rows(*set.Frames[chosen[i]]);
                    ditherer.DitherFrame(
                        rows, set.Height, plans[i], 0, scratch.data(), set.Width, &sums[task]);
                }
            });
            for (std::size_t t = 1; t < tasks; ++t)
                sums[0].Add(sums[t]);
            const TEntrySums& total = sums[0];
            for (std::size_t i = 0; i < palette.size(); ++i) {
                const std::int64_t count = total.Count[i];
                if (count == 0)
                    continue;
                std::uint8_t* component[3]
                    = { &palette[i].Red, &palette[i].Green, &palette[i].Blue };
                for (int c = 0; c < 3; ++c) {
                    // Values carry 8 fractional bits.
                    const std::int64_t mean
                        = (2 * total.Sum[i * 3 + std::size_t(c)] + count) / (2 * count);
                    const std::int64_t old = std::int64_t(*component[c]) << 8;
                    const std::int64_t moved = old + (mean - old) / divisor;
                    *component[c] = static_cast<std::uint8_t>(
                        std::clamp<std::int64_t>((moved + 128) >> 8, 0, 255));
                }
            }
        }
    }

} // namespace

TColorPalette CreateHighQualityPalette(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, std::int32_t colours, unsigned threads)
{
    if (colours < 1 || colours > 256)
        throw EInvalidGraphicOperation(FormatMessage(GIFMessages::sColourLimitRange, colours));
    const TFrameSet set = CheckFrames(frames, masks, transparent);
    std::vector<TPoint> points = CountColours(set);
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

    palette = SplitIntoGroups(points, colours);
    for (std::int32_t round = 0; round < kMeansRounds; ++round)
        MeansRound(points, palette);
    TuneToDithering(set, palette, threads);
    return palette;
}

} // namespace zx
