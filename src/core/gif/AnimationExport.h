#pragma once

// The frames an export hands to the writers beside the GIF's (WebP, APNG):
// every slot of the loop rendered, and for a frame with transparent pixels
// an alpha plane that is 0 where the frame's mask marks the background and
// 255 on the flag.

#include "core/gif/AnimationFrames.h"
#include "core/gif/GIFExport.h"
#include "core/gif/WebPAnimWriter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zx {

// The formats an export writes; the numbers are the "SaveFormat" setting's.
enum class TAnimationFormat : std::int32_t { Gif = 0, WebP = 1, APNG = 2 };

// The format a file name's extension names, case ignored: .gif, .webp, .png
// or .apng; none for any other name.
std::optional<TAnimationFormat> AnimationFormatOfName(std::string_view path);

// "GIF", "WebP", "APNG".
const char* AnimationFormatName(TAnimationFormat format);

struct TExportAnimation {
    std::vector<TDIB> Frames;
    // One plane per frame; an empty plane stands for an opaque frame.
    std::vector<TDIB> Alpha;

    // The frames as the writers take them, with the delay and loop position.
    TAnimationFrames View(std::int32_t delay, std::int32_t loops) const
    {
        return { .Frames = Frames, .Alpha = Alpha, .Delay = delay, .Loops = loops };
    }
};

// Renders the slots below frameCount that are not rendered yet (as the GIF's
// palette step does: slot i with phase FramePhase(i, frameCount)), then takes
// the frames (sharing their pixels with the store) and makes their alpha
// planes. Throws EInvalidGraphicOperation for a count outside 1..40.
TExportAnimation GatherExportAnimation(
    TFrameStore& store, std::int32_t frameCount, const TRenderMissingFrame& renderFrame);

// Encodes the frames as an animated WebP (with options) or an APNG and writes
// the file atomically: a failure leaves an existing file as it was and no
// temporary file behind. Not for the GIF, which has its own build.
void SaveAnimationFile(TAnimationFormat format, const std::string& path,
    const TAnimationFrames& frames, const TWebPOptions& options = {});

} // namespace zx
