// Merging the frames' colour tables into one global table.
//
// Every colour table (the global one with the frames that use it, and each
// local one with its frame) gets a histogram of the colours its pixels use.
// Equal colours from different tables are pooled; the most used colours
// become the new global table, and colours that do not fit are sent to the
// kept colour whose component sum is closest. The frames' pixels are then
// translated to the new table and their local tables dropped.

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnit.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

namespace zx {

class TColorMapOptimizer {
public:
    explicit TColorMapOptimizer(TGIFImage& image)
        : m_image(image)
    {
    }

    void Optimize();

private:
    struct TEntry {
        std::uint64_t Count = 0;
        std::int32_t Index = 0;
        std::int32_t NewIndex = 256;
        TGIFColor Color;
        TEntry* MergedInto = nullptr;
    };
    struct THistogram {
        const TGIFColorMap* Map = nullptr;
        std::vector<TGIFSubImage*> Frames;
        std::vector<TEntry> Entries;
    };

    // How often each index occurs in a frame's pixels.
    using TCounts = std::array<std::uint32_t, 256>;
    static TCounts CountIndices(std::span<const std::uint8_t> pixels);

    // counts: CountIndices of the frame's pixels.
    void Count(THistogram& histogram, TGIFSubImage& frame, const TCounts& counts);
    void FinishCount(TGIFSubImage& frame, bool transparent, bool usesTransparency);

    TGIFImage& m_image;
    bool m_useTransparency = false;
};

TColorMapOptimizer::TCounts TColorMapOptimizer::CountIndices(std::span<const std::uint8_t> pixels)
{
    // Four partial histograms, so that runs of one index do not wait on
    // their own previous increment. A frame has at most 65535 x 65535
    // pixels, so no count overflows.
    std::array<TCounts, 4> partial {};
    const std::size_t n = pixels.size();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++partial[0][pixels[i]];
        ++partial[1][pixels[i + 1]];
        ++partial[2][pixels[i + 2]];
        ++partial[3][pixels[i + 3]];
    }
    for (; i < n; ++i)
        ++partial[0][pixels[i]];
    TCounts counts {};
    for (std::size_t c = 0; c < 256; ++c)
        counts[c] = partial[0][c] + partial[1][c] + partial[2][c] + partial[3][c];
    return counts;
}

void TColorMapOptimizer::Count(
    THistogram& histogram, TGIFSubImage& frame, const TCounts& frameCounts)
{
    // Nothing has changed yet while the frames are counted: a cancel may stop
    // the merge here, but not once the tables are replaced.
    ThrowIfCancelled();
    const bool transparent = frame.Transparent();
    const std::uint8_t transparentIndex = frame.TransparentColorIndex();
    const std::int32_t colours = histogram.Map->Count();
    bool usesTransparency = false;
    const std::span<std::uint8_t> pixels = frame.Data();

    // The common case first: no count can reach its 32-bit ceiling within
    // this frame and every index is in the table. Then a plain histogram of
    // the frame gives the same counts as the careful loop below.
    std::uint64_t counted = 0;
    for (const TEntry& entry : histogram.Entries)
        counted += entry.Count;
    if (counted + pixels.size() < std::numeric_limits<std::uint32_t>::max()) {
        TCounts counts = frameCounts;
        if (transparent) {
            usesTransparency = counts[transparentIndex] != 0;
            counts[transparentIndex] = 0;
        }
        bool inTable = true;
        for (std::size_t c = static_cast<std::size_t>(colours); c < 256; ++c)
            inTable = inTable && counts[c] == 0;
        if (inTable) {
            for (std::size_t c = 0; c < static_cast<std::size_t>(colours); ++c)
                histogram.Entries[c].Count += counts[c];
            FinishCount(frame, transparent, usesTransparency);
            return;
        }
        usesTransparency = false;
    }

    bool warned = false;
    for (std::uint8_t& pixel : pixels) {
        if (transparent && pixel == transparentIndex) {
            usesTransparency = true;
            continue;
        }
        if (pixel >= colours) {
            if (!warned)
                m_image.Warning(GIFMessages::sBadColorIndex);
            warned = true;
            pixel = 0;
        }
        TEntry& entry = histogram.Entries[pixel];
        if (entry.Count == std::numeric_limits<std::uint32_t>::max())
            break;
        ++entry.Count;
    }
    FinishCount(frame, transparent, usesTransparency);
}

void TColorMapOptimizer::FinishCount(TGIFSubImage& frame, bool transparent, bool usesTransparency)
{
    if (usesTransparency) {
        m_useTransparency = true;
    } else if (transparent) {
        // A transparent colour nobody uses would only cost a table entry.
        TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
        gce->SetTransparentColorIndex(0);
        gce->SetTransparent(false);
    }
}

void TColorMapOptimizer::Optimize()
{
    // No animation may read pixels while they are rewritten.
    std::lock_guard lock(m_image.PainterLock());
    m_image.StopPaintersLocked();

    // 1. Histograms.
    std::vector<THistogram> histograms;
    auto makeHistogram = [](const TGIFColorMap& map) {
        THistogram histogram;
        histogram.Map = &map;
        histogram.Entries.resize(static_cast<std::size_t>(map.Count()));
        for (std::int32_t i = 0; i < map.Count(); ++i) {
            histogram.Entries[static_cast<std::size_t>(i)].Index = i;
            histogram.Entries[static_cast<std::size_t>(i)].Color = map[i];
        }
        return histogram;
    };
    // The frames' indices are counted side by side (their pixels are made
    // here first, one frame after the other, where a frame read from a file
    // still has only its codes).
    const std::int32_t frameCount = m_image.Images().Count();
    std::vector<std::span<const std::uint8_t>> pixels(std::size_t(std::max(frameCount, 0)));
    for (std::int32_t k = 0; k < frameCount; ++k) {
        TGIFSubImage& frame = m_image.Images()[k];
        if (!frame.Empty())
            pixels[std::size_t(k)] = frame.Data();
    }
    std::vector<TCounts> counts(pixels.size());
    ParallelFor(pixels.size(), 0, [&](std::size_t k) { counts[k] = CountIndices(pixels[k]); });

    TGIFGlobalColorMap& global = m_image.GlobalColorMap();
    if (!global.Empty()) {
        histograms.push_back(makeHistogram(global));
        for (std::int32_t k = 0; k < frameCount; ++k) {
            TGIFSubImage& frame = m_image.Images()[k];
            if (!frame.Empty() && frame.ColorMap().Empty()) {
                histograms.back().Frames.push_back(&frame);
                Count(histograms.back(), frame, counts[std::size_t(k)]);
            }
        }
    }
    for (std::int32_t k = 0; k < frameCount; ++k) {
        TGIFSubImage& frame = m_image.Images()[k];
        if (!frame.Empty() && !frame.ColorMap().Empty()) {
            histograms.push_back(makeHistogram(frame.ColorMap()));
            histograms.back().Frames.push_back(&frame);
            Count(histograms.back(), frame, counts[std::size_t(k)]);
        }
    }

    // 2. Prune: most used first, unused colours dropped. Entries are looked
    // up by their table index later, so the pruning only reorders copies.
    std::vector<TEntry*> pool;
    for (THistogram& histogram : histograms) {
        std::vector<TEntry*> sorted;
        for (TEntry& entry : histogram.Entries)
            sorted.push_back(&entry);
        std::stable_sort(sorted.begin(), sorted.end(),
            [](const TEntry* a, const TEntry* b) { return a->Count > b->Count; });
        for (TEntry* entry : sorted) {
            if (entry->Count == 0)
                break;
            pool.push_back(entry);
        }
    }

    // 3. Pool equal colours: the first of a run takes the sum of the counts.
    auto colourKey = [](const TEntry* e) {
        return std::uint32_t(e->Color.Red) | (std::uint32_t(e->Color.Green) << 8)
            | (std::uint32_t(e->Color.Blue) << 16);
    };
    std::stable_sort(pool.begin(), pool.end(),
        [&](const TEntry* a, const TEntry* b) { return colourKey(a) < colourKey(b); });
    for (std::size_t i = 0; i < pool.size();) {
        std::size_t j = i + 1;
        while (j < pool.size() && colourKey(pool[j]) == colourKey(pool[i])) {
            pool[i]->Count += pool[j]->Count;
            pool[j]->Count = 0;
            pool[j]->MergedInto = pool[i];
            ++j;
        }
        i = j;
    }

    // 4. Keep the most used colours; the transparent entry needs one slot.
    std::stable_sort(pool.begin(), pool.end(),
        [](const TEntry* a, const TEntry* b) { return a->Count > b->Count; });
    const std::size_t limit = m_useTransparency ? 255 : 256;
    std::size_t kept = 0;
    while (kept < pool.size() && kept < limit && pool[kept]->Count != 0)
        ++kept;
    TGIFColorMap table;
    for (std::size_t j = 0; j < kept; ++j) {
        pool[j]->NewIndex = static_cast<std::int32_t>(j);
        table.Add(pool[j]->Color);
    }

    // 5. Colours that did not fit go to the kept colour with the closest
    // component sum; pooled duplicates follow the entry they joined.
    auto sum = [](const TGIFColor& c) { return std::int32_t(c.Red) + c.Green + c.Blue; };
    for (std::size_t i = kept; i < pool.size(); ++i) {
        TEntry* entry = pool[i];
        if (entry->Count == 0)
            continue;
        std::int32_t best = 0;
        std::int32_t bestDistance = 765;
        for (std::size_t j = 0; j < kept; ++j) {
            const std::int32_t distance = std::abs(sum(pool[j]->Color) - sum(entry->Color));
            if (distance < bestDistance) {
                bestDistance = distance;
                best = static_cast<std::int32_t>(j);
            }
        }
        entry->NewIndex = best;
    }
    for (std::size_t i = kept; i < pool.size(); ++i)
        if (pool[i]->Count == 0 && pool[i]->MergedInto)
            pool[i]->NewIndex = pool[i]->MergedInto->NewIndex;

    // 6. The transparent entry is black and last.
    const std::int32_t newTransparentIndex = static_cast<std::int32_t>(kept);
    if (m_useTransparency)
        table.Add(0, 0, 0);

    // 7. Translation tables, made before the old tables are replaced.
    std::vector<std::array<std::uint8_t, 256>> translations(histograms.size());
    for (std::size_t h = 0; h < histograms.size(); ++h) {
        translations[h].fill(0);
        for (const TEntry& entry : histograms[h].Entries)
            if (entry.NewIndex < 256)
                translations[h][static_cast<std::size_t>(entry.Index)]
                    = static_cast<std::uint8_t>(entry.NewIndex);
    }

    for (auto& frame : m_image.Images())
        frame->ColorMap().Clear();
    global.Assign(table);
    global.SetSortedByUse(true);

    // 8. Remap, frame by frame side by side.
    std::vector<std::pair<TGIFSubImage*, std::size_t>> remaps;
    for (std::size_t h = 0; h < histograms.size(); ++h)
        for (TGIFSubImage* frame : histograms[h].Frames)
            remaps.emplace_back(frame, h);
    ParallelFor(remaps.size(), 0, [&](std::size_t r) {
        TGIFSubImage* frame = remaps[r].first;
        const bool transparent = frame->Transparent() && m_useTransparency;
        const std::uint8_t oldTransparent = frame->TransparentColorIndex();
        // The frame's transparent index goes to the new transparent entry
        // whatever colour it had in its table.
        std::array<std::uint8_t, 256> translation = translations[remaps[r].second];
        if (transparent)
            translation[oldTransparent] = static_cast<std::uint8_t>(newTransparentIndex);
        for (std::uint8_t& pixel : frame->Data())
            pixel = translation[pixel];
        if (transparent)
            frame->GraphicControlExtension()->SetTransparentColorIndex(
                static_cast<std::uint8_t>(newTransparentIndex));
    });

    // 9. Cached bitmaps show the old colours.
    for (auto& frame : m_image.Images())
        frame->FreeBitmap();
}

void TGIFImage::MergeColourMaps()
{
    TColorMapOptimizer(*this).Optimize();
}

} // namespace zx
