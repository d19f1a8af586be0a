#include "core/gif/AnimationExport.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/gif/APNGWriter.h"

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

namespace {

    // 0 where the mask marks the background, 255 on the flag.
    TDIB AlphaOfMask(const TDIB& mask)
    {
        TDIB alpha;
        alpha.SetSize(mask.Width(), mask.Height(), 8);
        for (std::int32_t y = 0; y < mask.Height(); ++y) {
            const std::uint8_t* in = mask.ConstScanLine(y);
            std::uint8_t* out = alpha.ScanLine(y);
            for (std::int32_t x = 0; x < mask.Width(); ++x)
                out[x] = in[x] == 255 ? 0 : 255;
        }
        return alpha;
    }

    constexpr const char* sGifHasItsOwnBuild = "the GIF is written by its own build";

} // namespace

TExportAnimation AnimationOfExportFrames(const TExportFrames& frames)
{
    const std::size_t n = std::size_t(frames.Count());
    TExportAnimation animation;
    animation.Frames.assign(frames.Bitmaps().begin(), frames.Bitmaps().end());
    animation.Alpha.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        ThrowIfCancelled();
        if (frames.Transparent()[i])
            animation.Alpha[i] = AlphaOfMask(frames.Mask(std::int32_t(i)));
    }
    return animation;
}

TFrameWriter AnimationWriter(
    TAnimationFormat format, std::int32_t delay, std::int32_t loops, const TWebPOptions& options)
{
    if (format == TAnimationFormat::Gif)
        throw EInvalidGraphicOperation(sGifHasItsOwnBuild);
    return [format, delay, loops, options](TExportFrames& frames, TExportProgress& progress) {
        TExportAnimation animation = AnimationOfExportFrames(frames);
        // The animation shares the pictures; the frames' own references go.
        for (std::int32_t i = 0; i < frames.Count(); ++i) {
            frames.ReleaseBitmap(i);
            frames.ReleaseMask(i);
        }
        progress.Stage = TExportStage::Encoding;
        const TFrameCoded coded = [&progress](std::size_t bytes) { progress.BytesCoded += bytes; };
        const TAnimationFrames view = animation.View(delay, loops);
        std::vector<std::uint8_t> bytes = format == TAnimationFormat::WebP
            ? EncodeWebPAnimation(view, options, coded)
            : EncodeAPNG(view, {}, coded);
        // A cancel that came after the last frame had started is seen here.
        ThrowIfCancelled();
        progress.FileBytes = bytes.size();
        return bytes;
    };
}

void SaveAnimationFile(TAnimationFormat format, const std::string& path,
    const TAnimationFrames& frames, const TWebPOptions& options)
{
    if (format == TAnimationFormat::WebP)
        SaveWebPAnimationFile(path, frames, options);
    else if (format == TAnimationFormat::APNG)
        SaveAPNGFile(path, frames);
    else
        throw EInvalidGraphicOperation(sGifHasItsOwnBuild);
}

} // namespace zx
