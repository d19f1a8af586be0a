#include "core/gif/AnimationFrames.h"

#include "core/Errors.h"
#include "core/Limits.h"
#include "core/gif/GIFExport.h"

#include <algorithm>
#include <string>

namespace zx {

namespace {

    std::string SizeText(const TDIB& dib)
    {
        return std::to_string(dib.Width()) + " x " + std::to_string(dib.Height());
    }

    [[noreturn]] void Refuse(const char* message, std::size_t frame)
    {
        throw EInvalidGraphicOperation(FormatMessage(message, static_cast<long long>(frame + 1)));
    }

} // namespace

TAnimationShape CheckAnimationFrames(const TAnimationFrames& frames, std::int32_t maxSide)
{
    if (frames.Frames.empty())
        throw EInvalidGraphicOperation(AnimationMessages::sNoFrames);
    // The frame count, delay and loop position obey the GIF's own ranges and
    // messages, so that every format refuses the same options alike.
    TExportOptions options;
    options.Frames
        = static_cast<std::int32_t>(std::min<std::size_t>(frames.Frames.size(), 1 << 30));
    options.GIFDelay = frames.Delay;
    options.GIFLoops = frames.Loops;
    CheckExportOptions(options);
    if (frames.Alpha.size() > frames.Frames.size())
        throw EInvalidGraphicOperation(AnimationMessages::sTooManyAlphaPlanes);

    const TDIB& first = frames.Frames.front();
    TAnimationShape shape;
    shape.Width = first.Width();
    shape.Height = first.Height();
    shape.Count = options.Frames;
    for (std::size_t i = 0; i < frames.Frames.size(); ++i) {
        const TDIB& frame = frames.Frames[i];
        if (frame.BitCount() != 24 || frame.Empty())
            Refuse(AnimationMessages::sNot24Bit, i);
        if (frame.Width() != shape.Width || frame.Height() != shape.Height)
            throw EInvalidGraphicOperation(
                FormatMessage(AnimationMessages::sSizeDiffers, static_cast<long long>(i + 1)) + " ("
                + SizeText(frame) + ", " + SizeText(first) + ")");
        if (i < frames.Alpha.size() && !frames.Alpha[i].Empty()) {
            const TDIB& alpha = frames.Alpha[i];
            if (alpha.BitCount() != 8 || alpha.Width() != shape.Width
                || alpha.Height() != shape.Height)
                Refuse(AnimationMessages::sAlphaDoesNotFit, i);
            // An 8-bit plane may still be an RLE stream (a BMP read as it
            // was stored), which the first read of a row decodes in place.
            // Decode it here, before the writers' workers read the planes
            // side by side, often the same plane from two of them.
            alpha.EnsureDecompressed();
        }
    }
    if (shape.Width > maxSide || shape.Height > maxSide)
        throw EInvalidGraphicOperation(
            FormatMessage(AnimationMessages::sTooWide, static_cast<long long>(maxSide)));
    // The writers hold a frame as RGBA while they code it.
    CheckPixelMemory(
        static_cast<std::uint64_t>(shape.Width), static_cast<std::uint64_t>(shape.Height), 4);
    for (std::size_t i = 0; i < frames.Frames.size() && !shape.Translucent; ++i)
        shape.Translucent = FrameIsTranslucent(frames, i);
    return shape;
}

const TDIB* FrameAlpha(const TAnimationFrames& frames, std::size_t i)
{
    if (i >= frames.Alpha.size() || frames.Alpha[i].Empty())
        return nullptr;
    return &frames.Alpha[i];
}

bool FrameIsTranslucent(const TAnimationFrames& frames, std::size_t i)
{
    const TDIB* alpha = FrameAlpha(frames, i);
    if (!alpha)
        return false;
    for (std::int32_t y = 0; y < alpha->Height(); ++y) {
        const std::uint8_t* row = alpha->ConstScanLine(y);
        if (std::any_of(row, row + alpha->Width(), [](std::uint8_t a) { return a != 255; }))
            return true;
    }
    return false;
}

void CopyFramePixels(const TAnimationFrames& frames, std::size_t i, std::int32_t channels,
    std::uint8_t* out, std::size_t stride)
{
    const TDIB& frame = frames.Frames[i];
    const TDIB* alpha = FrameAlpha(frames, i);
    const std::int32_t width = frame.Width();
    for (std::int32_t y = 0; y < frame.Height(); ++y) {
        // 24-bit pixels are stored blue, green, red.
        const std::uint8_t* bgr = frame.ConstScanLine(y);
        const std::uint8_t* a = alpha ? alpha->ConstScanLine(y) : nullptr;
        std::uint8_t* o = out + static_cast<std::size_t>(y) * stride;
        if (channels == 3) {
            for (std::int32_t x = 0; x < width; ++x, bgr += 3, o += 3) {
                o[0] = bgr[2];
                o[1] = bgr[1];
                o[2] = bgr[0];
            }
        } else {
            for (std::int32_t x = 0; x < width; ++x, bgr += 3, o += 4) {
                o[0] = bgr[2];
                o[1] = bgr[1];
                o[2] = bgr[0];
                o[3] = a ? a[x] : 255;
            }
        }
    }
}

} // namespace zx
