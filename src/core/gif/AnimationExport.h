#pragma once

// The export job's writers beside the GIF's (WebP, APNG): the job's frames
// with coverage alpha, so that the flag's edges blend into any background.

#include "core/gif/AnimationFrames.h"
#include "core/gif/ExportJob.h"
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

// An export job's frames as the writers take them: its coverage frames
// (TExportFrames::Coverage, rendered now unless they were before), sharing
// their pixels. With a background colour the planes are empty.
TExportAnimation AnimationOfExportFrames(TExportFrames& frames);

// The export job's writer of an animated WebP (with options) or an APNG, with
// the delay and loop count: the frames coded side by side, the coded bytes
// reported to the progress, a cancel noticed between frames. Not for the GIF,
// whose writer is GifWriter.
TFrameWriter AnimationWriter(TAnimationFormat format, std::int32_t delay, std::int32_t loops,
    const TWebPOptions& options = {});

// Encodes the frames as an animated WebP (with options) or an APNG and writes
// the file atomically: a failure leaves an existing file as it was and no
// temporary file behind. Not for the GIF, which has its own build.
void SaveAnimationFile(TAnimationFormat format, const std::string& path,
    const TAnimationFrames& frames, const TWebPOptions& options = {});

} // namespace zx
