#include "core/gif/AnimationExport.h"

#include "core/Errors.h"
#include "core/gif/APNGWriter.h"
#include "core/gif/XGIFUnitMessages.h"

#include <algorithm>
#include <cctype>

namespace zx {

std::optional<TAnimationFormat> AnimationFormatOfName(std::string_view path)
{
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string_view::npos || path[dot] != '.')
        return std::nullopt;
    std::string extension(path.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "gif")
        return TAnimationFormat::Gif;
    if (extension == "webp")
        return TAnimationFormat::WebP;
    if (extension == "png" || extension == "apng")
        return TAnimationFormat::APNG;
    return std::nullopt;
}

const char* AnimationFormatName(TAnimationFormat format)
{
    switch (format) {
    case TAnimationFormat::WebP:
        return "WebP";
    case TAnimationFormat::APNG:
        return "APNG";
    case TAnimationFormat::Gif:
        break;
    }
    return "GIF";
}

TExportAnimation GatherExportAnimation(
    TFrameStore& store, std::int32_t frameCount, const TRenderMissingFrame& renderFrame)
{
    if (frameCount < 1)
        throw EInvalidGraphicOperation(AnimationMessages::sNoFrames);
    if (frameCount > kFrameSlots)
        throw EInvalidGraphicOperation(FormatMessage(GIFMessages::sTooManyFrames, frameCount));
    for (const TFrameJob& job : MissingFrameJobs(store, frameCount))
        renderFrame(job.Slot, job.Phase);

    TExportAnimation animation;
    animation.Frames.resize(static_cast<std::size_t>(frameCount));
    animation.Alpha.resize(static_cast<std::size_t>(frameCount));
    for (std::size_t i = 0; i < animation.Frames.size(); ++i) {
        animation.Frames[i] = store.FrameBitmaps[i];
        if (!store.FrameTransparent[i])
            continue;
        const TDIB& mask = store.FrameMasks[i];
        TDIB& alpha = animation.Alpha[i];
        alpha.SetSize(mask.Width(), mask.Height(), 8);
        for (std::int32_t y = 0; y < mask.Height(); ++y) {
            const std::uint8_t* in = mask.ConstScanLine(y);
            std::uint8_t* out = alpha.ScanLine(y);
            for (std::int32_t x = 0; x < mask.Width(); ++x)
                out[x] = in[x] == 255 ? 0 : 255;
        }
    }
    return animation;
}

void SaveAnimationFile(TAnimationFormat format, const std::string& path,
    const TAnimationFrames& frames, const TWebPOptions& options)
{
    if (format == TAnimationFormat::WebP)
        SaveWebPAnimationFile(path, frames, options);
    else if (format == TAnimationFormat::APNG)
        SaveAPNGFile(path, frames);
    else
        throw EInvalidGraphicOperation("the GIF is written by its own build");
}

} // namespace zx
