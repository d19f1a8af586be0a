#include "core/gif/GIFExport.h"

#include "core/Errors.h"
#include "core/flag/FlagParameters.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitQuantizeHigh.h"

#include <algorithm>
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
    return MakeExportPalette(transparent, bits, status, [&](std::int32_t colours) {
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

void AddExportFrame(TGIFImage& gif, TDIB& reduced, const TDIB* mask, bool transparent,
    const TExportOptions& options, const TExportPalette& palette)
{
    TDIB& bitmap = reduced;
    if (transparent) {
        if (!mask || mask->Width() != bitmap.Width() || mask->Height() != bitmap.Height()
            || mask->BitCount() != 8)
            throw EInvalidGraphicOperation(GIFMessages::sMaskDoesNotFit);
        // With masks of 0 or 255 and the index 2^B - 1 above every palette
        // index, background pixels become exactly the transparent index.
        for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            const std::uint8_t* maskRow = mask->ConstScanLine(y);
            for (std::int32_t x = 0; x < bitmap.Width(); ++x)
                row[x] = static_cast<std::uint8_t>(row[x] | (palette.TransparentIndex & maskRow[x]));
        }
    }

    const std::int32_t k = gif.AddFrame(bitmap);
    bitmap.Clear();
    TGIFSubImage& frame = gif.Images()[k];
    const std::int32_t fullColours = 1 << options.GIFBits;
    while (frame.ActiveColorMap().Count() < fullColours)
        frame.ActiveColorMap().Add(0, 0, 0);
    if (k == 0) {
        auto& loop = frame.Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(&frame));
        loop.SetLoops(static_cast<std::uint16_t>(LoopCount(options.GIFLoops)));
    }
    auto& control = frame.Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(&frame));
    control.SetDelay(static_cast<std::uint16_t>(options.GIFDelay));
    control.SetTransparent(transparent);
    if (transparent)
        control.SetTransparentColorIndex(palette.TransparentIndex);
    control.SetDisposal(TGIFDisposal::dmBackground);
}

void BuildGifFrames(TGIFImage& gif, std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportPalette& palette,
    const TExportStatus& status)
{
    CheckExportOptions(options);
    TStatusGuard clear(status);
    Say(status, sStatusRecolouring);

    // Both levels reduce the frames side by side with results that do not
    // depend on how the frames are shared out: the standard level's frames
    // are independent, each with its own colour cache and ditherer; the high
    // level's take still pixels from earlier frames only after all are done.
    std::vector<TDIB> reduced = options.Quality == TExportQuality::High
        ? ReduceFramesHighQuality(frames, masks, transparent, palette.SharedPalette)
        : ReduceFramesToPalette(frames, palette.SharedPalette);
    for (std::size_t i = 0; i < reduced.size(); ++i) {
        const bool frameTransparent = i < transparent.size() && transparent[i];
        AddExportFrame(gif, reduced[i], frameTransparent && i < masks.size() ? &masks[i] : nullptr,
            frameTransparent, options, palette);
    }
    gif.MergeColourMaps();
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
