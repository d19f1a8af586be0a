#include "core/gif/GIFExportSize.h"

#include "core/flag/FlagParameters.h"

#include <algorithm>

namespace zx {

TSizedGif EncodeSizedGif(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TSizeOptions& size,
    const TExportStatus& status, const TFitTrying& trying)
{
    CheckExportOptions(options);
    CheckSizeOptions(size);
    TSizedGif result;
    if (size.MaxSize == 0) {
        // The high level's plan is made while its palette is searched.
        const bool planAhead = options.Quality == TExportQuality::High && size.Lossy == 0;
        THighQualityPlan plan;
        const TExportPalette palette = planAhead
            ? BuildHighQualityPaletteAndPlan(frames, masks, transparent, options, status, 0, plan)
            : BuildExportPalette(frames, masks, transparent, options, status);
        TGIFImage gif;
        BuildGifFrames(gif, frames, masks, transparent, options, palette, size.Lossy, status,
            planAhead ? &plan : nullptr);
        result.File = gif.SaveToBytes();
        result.Width = gif.Width();
        result.Height = gif.Height();
        return result;
    }

    TFitFrames fit;
    fit.Frames.assign(frames.begin(), frames.end());
    for (std::size_t i = 0; i < frames.size() && i < fit.Transparent.size(); ++i) {
        fit.Transparent[i] = i < transparent.size() && transparent[i];
        fit.Masks.push_back(i < masks.size() ? masks[i] : TDIB());
    }
    if (status)
        status(sStatusRecolouring);
    TFitResult fitted;
    try {
        fitted = FitGifToSize(fit, options, size, {}, 0, trying);
    } catch (...) {
        if (status)
            status(std::string());
        throw;
    }
    if (status)
        status(std::string());
    result.Fitted = true;
    result.Knobs = fitted.Knobs;
    result.Report = fitted.Description;
    result.File = std::move(fitted.File);
    const std::vector<std::array<std::int32_t, 2>> sizes = FitFrameSizes(
        frames.empty() ? 0 : frames[0].Width(), frames.empty() ? 0 : frames[0].Height());
    const std::size_t step
        = std::min(std::size_t(std::max(result.Knobs.Step, 0)), sizes.size() - 1);
    result.Width = sizes[step][0];
    result.Height = sizes[step][1];
    return result;
}

TSizedGif BuildSizedExportGif(TFrameStore& store, const TExportOptions& options,
    const TSizeOptions& size, const TRenderMissingFrame& renderFrame, const TExportStatus& status)
{
    CheckExportOptions(options);
    const std::int32_t n = options.Frames;
    for (std::int32_t i = 0; i < n; ++i) {
        if (!store.FrameRendered[std::size_t(i)])
            renderFrame(i, FramePhase(i, n));
    }
    const auto count = static_cast<std::size_t>(n);
    return EncodeSizedGif(std::span<const TDIB>(store.FrameBitmaps.data(), count),
        std::span<const TDIB>(store.FrameMasks.data(), count),
        std::span<const bool>(store.FrameTransparent.data(), count), options, size, status);
}

TFrameWriter SizedGifWriter(
    const TExportOptions& options, const TSizeOptions& size, std::shared_ptr<TSizedGif> result)
{
    CheckExportOptions(options);
    CheckSizeOptions(size);
    if (size.Lossy == 0 && size.MaxSize == 0) {
        const TFrameWriter gif = GifWriter(options);
        return [gif, result](TExportFrames& frames, TExportProgress& progress) {
            const std::int32_t width = frames.Count() > 0 ? frames.Bitmaps()[0].Width() : 0;
            const std::int32_t height = frames.Count() > 0 ? frames.Bitmaps()[0].Height() : 0;
            std::vector<std::uint8_t> bytes = gif(frames, progress);
            if (result) {
                result->Width = width;
                result->Height = height;
            }
            return bytes;
        };
    }
    return [options, size, result](TExportFrames& frames, TExportProgress& progress) {
        // Every try of the search goes through all the frames.
        frames.SingleUse = false;
        progress.Stage = TExportStage::Reducing;
        TSizedGif sized
            = EncodeSizedGif(frames.Bitmaps(), frames.Masks(), frames.Transparent(), options, size,
                progress.Status, [&progress](std::int32_t first) { progress.FitTry = first; });
        progress.FitTry = 0;
        progress.Stage = TExportStage::Encoding;
        progress.FramesReduced = frames.Count();
        return HandOverSizedFile(std::move(sized), progress, result);
    };
}

std::vector<std::uint8_t> HandOverSizedFile(
    TSizedGif sized, TExportProgress& progress, const std::shared_ptr<TSizedGif>& result)
{
    progress.BytesCoded = sized.File.size();
    progress.FileBytes = sized.File.size();
    std::vector<std::uint8_t> bytes = std::move(sized.File);
    if (result)
        *result = std::move(sized);
    return bytes;
}

} // namespace zx
