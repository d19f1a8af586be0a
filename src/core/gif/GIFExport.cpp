#include "core/gif/GIFExport.h"

#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/flag/FlagParameters.h"
#include "core/gif/XGIFUnitLossy.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitQuantizeHigh.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

namespace zx {

namespace {

    void Say(const TExportStatus& status, const std::string& text)
    {
        if (status)
            status(text);
    }

    // Clears the status text however the build ends.
    class TStatusGuard {
    public:
        explicit TStatusGuard(const TExportStatus& status)
            : m_status(status)
        {
        }
        ~TStatusGuard() { Say(m_status, std::string()); }
        TStatusGuard(const TStatusGuard&) = delete;
        TStatusGuard& operator=(const TStatusGuard&) = delete;

    private:
        const TExportStatus& m_status;
    };

    void CheckRange(std::int32_t value, std::int32_t min, std::int32_t max, const char* name)
    {
        if (value < min || value > max)
            throw EInvalidGraphicOperation(std::string(name) + " " + std::to_string(value)
                + " 超出范围 " + std::to_string(min) + ".." + std::to_string(max));
    }

} // namespace

void CheckSizeOptions(const TSizeOptions& options)
{
    CheckRange(options.Lossy, kLossyMin, kLossyMax, "Lossy");
}

void CheckExportOptions(const TExportOptions& options)
{
    CheckRange(options.Frames, kFramesRange.Min, kFramesRange.Max, "Frames");
    CheckRange(options.GIFBits, kGIFBitsRange.Min, kGIFBitsRange.Max, "GIFBits");
    CheckRange(options.GIFDelay, kGIFDelayRange.Min, kGIFDelayRange.Max, "GIFDelay");
    CheckRange(options.GIFLoops, kGIFLoopsRange.Min, kGIFLoopsRange.Max, "GIFLoops");
}

TExportPalette BuildExportPalette(TFrameStore& store, const TExportOptions& options,
    const TRenderMissingFrame& renderFrame, const TExportStatus& status)
{
    CheckExportOptions(options);
    const std::int32_t n = options.Frames;
    for (std::int32_t i = 0; i < n; ++i) {
        if (!store.FrameRendered[i])
            renderFrame(i, FramePhase(i, n));
    }
    const std::span<const TDIB> frames(store.FrameBitmaps.data(), static_cast<std::size_t>(n));
    const std::span<const TDIB> masks(store.FrameMasks.data(), static_cast<std::size_t>(n));
    const std::span<const bool> transparent(
        store.FrameTransparent.data(), static_cast<std::size_t>(n));
    return BuildExportPalette(frames, masks, transparent, options, status);
}

namespace {

    // What both levels' palettes share: the size, the transparent index and
    // the status text; make builds the colours.
    template <class Make>
    TExportPalette MakeExportPalette(std::span<const bool> transparent, std::int32_t bits,
        const TExportStatus& status, Make&& make)
    {
        CheckRange(bits, kGIFBitsRange.Min, kGIFBitsRange.Max, "GIFBits");
        TExportPalette result;
        result.AnyTransparent
            = std::find(transparent.begin(), transparent.end(), true) != transparent.end();
        TStatusGuard clear(status);
        Say(status, sStatusCreatingPalette);
        result.PaletteSize = 1 << bits;
        if (result.AnyTransparent)
            result.PaletteSize -= 1;
        result.TransparentIndex = static_cast<std::uint8_t>(result.PaletteSize & 0xFF);
        result.SharedPalette = make(result.PaletteSize);
        return result;
    }

} // namespace

TExportPalette BuildExportPalette(std::span<const TDIB> frames, std::span<const bool> transparent,
    std::int32_t bits, const TExportStatus& status)
{
    return BuildExportPalette(frames, transparent, bits, status, nullptr);
}

TExportPalette BuildExportPalette(std::span<const TDIB> frames, std::span<const bool> transparent,
    std::int32_t bits, const TExportStatus& status, const TColorPalette* madeAhead)
{
    return MakeExportPalette(transparent, bits, status, [&](std::int32_t colours) {
        if (madeAhead && madeAhead->size() == std::size_t(colours))
            return *madeAhead;
        // The frames go in exactly as rendered: in transparent mode the grey
        // checkerboard of the background takes part in the palette too.
        return CreateSharedPalette(frames, colours, bits);
    });
}

TExportPalette BuildExportPalette(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportStatus& status)
{
    if (options.Quality == TExportQuality::Standard)
        return BuildExportPalette(frames, transparent, options.GIFBits, status);
    // The background becomes the transparent index whatever its colour, so
    // only the flag's pixels are given entries.
    return MakeExportPalette(transparent, options.GIFBits, status, [&](std::int32_t colours) {
        return CreateHighQualityPalette(frames, masks, transparent, colours);
    });
}

TExportPalette BuildHighQualityPaletteAndPlan(std::span<const TDIB> frames,
    std::span<const TDIB> masks, std::span<const bool> transparent, const TExportOptions& options,
    const TExportStatus& status, unsigned threads, THighQualityPlan& plan)
{
    // The plan waits for the palette search to count the colours, which
    // keeps every processor busy; after that it takes what the search leaves
    // idle. The search says when (or fails: then the guard does), so the
    // plan never waits for ever; on one thread the search runs first.
    std::atomic<bool> counted { false };
    const auto release = [&counted] {
        counted.store(true, std::memory_order_release);
        counted.notify_all();
    };
    TExportPalette palette;
    ParallelFor(2, threads, [&](std::size_t task) {
        if (task == 0) {
            struct TRelease {
                const decltype(release)& Release;
                ~TRelease() { Release(); }
            } guard { release };
            if (options.Quality == TExportQuality::Standard)
                palette = BuildExportPalette(frames, transparent, options.GIFBits, status);
            else
                palette = MakeExportPalette(
                    transparent, options.GIFBits, status, [&](std::int32_t colours) {
                        return CreateHighQualityPalette(
                            frames, masks, transparent, colours, 0, release);
                    });
        } else {
            counted.wait(false, std::memory_order_acquire);
            plan = MakeHighQualityPlan(frames, masks, transparent, threads);
        }
    });
    return palette;
}

namespace {

    // Gives the background pixels of a transparent frame the transparent
    // index: with masks of 0 or 255 and the index 2^B - 1 above every palette
    // index, they become exactly that index.
    void MarkBackground(TDIB& bitmap, const TDIB* mask, const TExportPalette& palette)
    {
        if (!mask || mask->Width() != bitmap.Width() || mask->Height() != bitmap.Height()
            || mask->BitCount() != 8)
            throw EInvalidGraphicOperation(GIFMessages::sMaskDoesNotFit);
        // In locals: a store through the row's bytes could change anything
        // read through a pointer or reference, and the loop would read the
        // index and the width again at every pixel instead of running in
        // vectors.
        const std::uint8_t transparent = palette.TransparentIndex;
        const std::int32_t width = bitmap.Width();
        for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            const std::uint8_t* maskRow = mask->ConstScanLine(y);
            for (std::int32_t x = 0; x < width; ++x)
                row[x] = static_cast<std::uint8_t>(row[x] | (transparent & maskRow[x]));
        }
    }

    // The GIF frame of a reduced frame (taken over: it is cleared), with its
    // extensions, not yet added to gif. Touches nothing but the new frame,
    // so frames are made side by side and added in order.
    std::unique_ptr<TGIFSubImage> MakeExportFrame(TGIFImage& gif, TDIB& reduced, bool transparent,
        bool first, const TExportOptions& options, const TExportPalette& palette)
    {
        auto frame = std::make_unique<TGIFSubImage>(&gif);
        frame->Assign(reduced);
        reduced.Clear();
        const std::int32_t fullColours = 1 << options.GIFBits;
        while (frame->ActiveColorMap().Count() < fullColours)
            frame->ActiveColorMap().Add(0, 0, 0);
        if (first) {
            auto& loop = frame->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(frame.get()));
            loop.SetLoops(static_cast<std::uint16_t>(LoopCount(options.GIFLoops)));
        }
        auto& control
            = frame->Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(frame.get()));
        control.SetDelay(static_cast<std::uint16_t>(options.GIFDelay));
        control.SetTransparent(transparent);
        if (transparent)
            control.SetTransparentColorIndex(palette.TransparentIndex);
        control.SetDisposal(TGIFDisposal::dmBackground);
        return frame;
    }

} // namespace

void AddExportFrame(TGIFImage& gif, TDIB& reduced, const TDIB* mask, bool transparent,
    const TExportOptions& options, const TExportPalette& palette)
{
    if (transparent)
        MarkBackground(reduced, mask, palette);
    const bool first = gif.Images().Count() == 0;
    gif.AddFrame(MakeExportFrame(gif, reduced, transparent, first, options, palette));
}

void AddExportFrames(TGIFImage& gif, std::span<TDIB> reduced, std::span<const bool> transparent,
    const TExportOptions& options, const TExportPalette& palette, unsigned threads,
    const std::function<TDIB(std::size_t)>& maskOf, const std::function<void(std::size_t)>& done)
{
    CheckExportOptions(options);
    const bool empty = gif.Images().Count() == 0;
    std::vector<std::unique_ptr<TGIFSubImage>> made(reduced.size());
    ParallelFor(reduced.size(), threads, [&](std::size_t i) {
        const bool frameTransparent = i < transparent.size() && transparent[i];
        if (frameTransparent && maskOf) {
            const TDIB mask = maskOf(i);
            MarkBackground(reduced[i], &mask, palette);
        }
        made[i]
            = MakeExportFrame(gif, reduced[i], frameTransparent, empty && i == 0, options, palette);
        if (done)
            done(i);
    });
    for (std::unique_ptr<TGIFSubImage>& frame : made)
        gif.AddFrame(std::move(frame));
}

namespace {

    // Either level with loss. The coder follows the string table the
    // writer will build, and that depends on the code size, which the merge
    // of the colour maps sets from the colours the frames actually use. The
    // first pass assumes they use every distinct colour of the palette; when
    // the loss has left so many unused that the code size shrinks, the frames
    // are coded again for the smaller size (a second change is not chased:
    // the file is right either way, only a little larger).
    std::vector<TDIB> ReduceLossy(TExportQuality quality, std::span<const TDIB> frames,
        std::span<const TDIB> masks, std::span<const bool> transparent,
        const TExportPalette& palette, std::int32_t lossy, unsigned threads)
    {
        const auto reduce
            = quality == TExportQuality::High ? ReduceFramesLossyHigh : ReduceFramesLossy;
        const std::array<std::uint8_t, 256> canonical = CanonicalEntries(palette.SharedPalette);
        std::int32_t distinct = 0;
        const std::size_t entries = std::min<std::size_t>(palette.SharedPalette.size(), 256);
        for (std::size_t i = 0; i < entries; ++i)
            distinct += canonical[i] == i;
        auto codeSize
            = [](std::int32_t colours) { return std::max<std::int32_t>(ColourBits(colours), 2); };
        TLossyCoding coding;
        coding.Level = lossy;
        coding.TransparentIndex = palette.TransparentIndex;
        coding.CodeSize = codeSize(distinct + (palette.AnyTransparent ? 1 : 0));
        TLossyFrames result
            = reduce(frames, masks, transparent, palette.SharedPalette, coding, threads);
        const std::int32_t used
            = static_cast<std::int32_t>(std::count(result.Used.begin(), result.Used.end(), true))
            + (result.UsesTransparentIndex ? 1 : 0);
        if (codeSize(used) != coding.CodeSize) {
            coding.CodeSize = codeSize(used);
            result = reduce(frames, masks, transparent, palette.SharedPalette, coding, threads);
        }
        return std::move(result.Frames);
    }

} // namespace

std::vector<TDIB> ReduceExportFrames(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportPalette& palette,
    std::int32_t lossy, unsigned threads, const THighQualityPlan* plan)
{
    CheckExportOptions(options);
    CheckSizeOptions(TSizeOptions { lossy, 0 });
    // Both levels reduce the frames side by side with results that do not
    // depend on how the frames are shared out: the standard level's frames
    // are independent, each with its own colour cache and ditherer; the high
    // level's take still pixels from earlier frames only after all are done
    // (with loss, row by row as the earlier frames have them).
    std::vector<TDIB> reduced;
    if (lossy > 0) {
        reduced = ReduceLossy(options.Quality, frames, masks, transparent, palette, lossy, threads);
    } else if (options.Quality == TExportQuality::High && plan) {
        reduced = ReduceFramesHighQuality(
            frames, masks, transparent, palette.SharedPalette, threads, *plan);
    } else if (options.Quality == TExportQuality::High) {
        reduced
            = ReduceFramesHighQuality(frames, masks, transparent, palette.SharedPalette, threads);
    } else {
        reduced = ReduceFramesToPalette(frames, palette.SharedPalette, threads);
    }

    for (std::size_t i = 0; i < reduced.size(); ++i) {
        TDIB& bitmap = reduced[i];
        if (i >= transparent.size() || !transparent[i])
            continue;
        if (i >= masks.size() || masks[i].Width() != bitmap.Width()
            || masks[i].Height() != bitmap.Height() || masks[i].BitCount() != 8)
            throw EInvalidGraphicOperation(GIFMessages::sMaskDoesNotFit);
        // With masks of 0 or 255 and the index 2^B - 1 above every palette
        // index, background pixels become exactly the transparent index.
        for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            const std::uint8_t* mask = masks[i].ConstScanLine(y);
            for (std::int32_t x = 0; x < bitmap.Width(); ++x)
                row[x] = static_cast<std::uint8_t>(row[x] | (palette.TransparentIndex & mask[x]));
        }
    }
    return reduced;
}

void AddExportFrames(TGIFImage& gif, std::vector<TDIB>&& reduced, std::span<const bool> transparent,
    const TExportOptions& options, const TExportPalette& palette, unsigned threads)
{
    // The background pixels have their index already (ReduceExportFrames).
    AddExportFrames(gif, reduced, transparent, options, palette, threads, {}, {});
    reduced.clear();
    gif.MergeColourMaps();
}

void BuildGifFrames(TGIFImage& gif, std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportPalette& palette,
    std::int32_t lossy, const TExportStatus& status, const THighQualityPlan* plan)
{
    CheckExportOptions(options);
    TStatusGuard clear(status);
    Say(status, sStatusRecolouring);
    AddExportFrames(gif,
        ReduceExportFrames(frames, masks, transparent, options, palette, lossy, 0, plan),
        transparent, options, palette);
}

void BuildGifFrames(TGIFImage& gif, std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportPalette& palette,
    const TExportStatus& status)
{
    BuildGifFrames(gif, frames, masks, transparent, options, palette, 0, status);
}

std::unique_ptr<TGIFImage> BuildExportGif(TFrameStore& store, const TExportOptions& options,
    const TRenderMissingFrame& renderFrame, const TExportStatus& status)
{
    const TExportPalette palette = BuildExportPalette(store, options, renderFrame, status);
    auto gif = std::make_unique<TGIFImage>();
    const auto n = static_cast<std::size_t>(options.Frames);
    BuildGifFrames(*gif, std::span<const TDIB>(store.FrameBitmaps.data(), n),
        std::span<const TDIB>(store.FrameMasks.data(), n),
        std::span<const bool>(store.FrameTransparent.data(), n), options, palette, status);
    return gif;
}

} // namespace zx
