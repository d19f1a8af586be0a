// The reduction of whole frames to a palette: each frame through its own
// lookup and Stucki ditherer, the frames of an animation side by side.

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitQuantize.h"
#include "core/gif/XGIFUnitReadRGB.h"

#include <algorithm>
#include <new>
#include <optional>
#include <span>

namespace zx {

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

    // The pixel loop of one, two or four frames of the same size, side by
    // side. Each frame's lookup and its colour cache belong to it alone:
    // sharing a cache between frames would change which index a cell keeps
    // and so the result.
    void RunReduceJobs(std::span<TReduceJob* const> jobs, const TColorPalette& palette)
    {
        constexpr std::size_t kMost = 4;
        std::optional<TFastColorLookup> lookups[kMost];
        std::optional<TStuckiDitherer> ditherers[kMost];
        TStuckiDitherer* each[kMost];
        const std::uint8_t* rows[kMost];
        std::uint8_t* out[kMost];
        const std::size_t n = std::min(jobs.size(), kMost);
        for (std::size_t k = 0; k < n; ++k) {
            lookups[k].emplace(palette);
            ditherers[k].emplace(jobs[k]->Width, *lookups[k]);
            each[k] = &*ditherers[k];
        }
        for (std::int32_t y = 0; y < jobs[0]->Height; ++y) {
            ThrowIfCancelled();
            for (std::size_t k = 0; k < n; ++k) {
                rows[k] = jobs[k]->Rows.Row(y);
                out[k] = jobs[k]->OutTop + std::ptrdiff_t(y) * jobs[k]->OutStep;
            }
            TStuckiDitherer::DitherRows(std::span<TStuckiDitherer* const>(each, n), rows, out);
        }
    }

} // namespace

TDIB MakeReducedBitmap(const TDIB& source, const TColorPalette& palette)
{
    TDIB reduced;
    const std::int32_t entries
        = static_cast<std::int32_t>(std::min<std::size_t>(palette.size(), 256));
    if (entries == 0)
        return reduced;
    if (source.Width() <= 0 || source.Height() <= 0)
        throw GIFException(GIFMessages::sInvalidImageSize);

    TDIBColorTable table {};
    for (std::int32_t i = 0; i < entries; ++i)
        table[i] = TRGBQuad { palette[i].Blue, palette[i].Green, palette[i].Red, 0 };
    try {
        reduced.ColorTable() = table;
        reduced.SetSize(source.Width(), source.Height(), 8);
        reduced.ColorTable() = table;
        reduced.UpdatePalette();
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(GIFMessages::sOutOfMemoryForDIB);
    }
    // The palette's own entries are the important ones; the black fill after
    // them is only there to make 256.
    reduced.SetImportantColorCount(static_cast<std::uint32_t>(entries));
    return reduced;
}

TDIB ReduceToPalette(const TDIB& bitmap, const TColorPalette& palette)
{
    TDIB reduced = MakeReducedBitmap(bitmap, palette);
    if (reduced.Empty())
        return reduced;
    TReduceJob job(bitmap, reduced);
    TReduceJob* one[1] = { &job };
    RunReduceJobs(one, palette);
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

    // Frames of the same size go in fours, else in pairs; a frame left over
    // goes alone.
    struct TUnit {
        std::size_t First;
        std::size_t Count;
    };
    auto sameSize = [&](std::size_t a, std::size_t b) {
        return b < jobs.size() && jobs[a].Width == jobs[b].Width
            && jobs[a].Height == jobs[b].Height;
    };
    std::vector<TUnit> units;
    for (std::size_t i = 0; i < jobs.size();) {
        std::size_t count = 1;
        if (sameSize(i, i + 1) && sameSize(i, i + 2) && sameSize(i, i + 3))
            count = 4;
        else if (sameSize(i, i + 1))
            count = 2;
        units.push_back({ i, count });
        i += count;
    }

    ParallelFor(units.size(), threads, [&](std::size_t i) {
        const TUnit& unit = units[i];
        TReduceJob* group[4];
        for (std::size_t k = 0; k < unit.Count; ++k)
            group[k] = &jobs[unit.First + k];
        RunReduceJobs(std::span<TReduceJob* const>(group, unit.Count), palette);
    });
    return reduced;
}

} // namespace zx
