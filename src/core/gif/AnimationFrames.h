#pragma once

// The frames of one animation as every writer beside the GIF's takes them:
// the rendered 24-bit frames, an optional 8-bit alpha plane per frame, the
// frame delay and the loop-count slider position. The checks and the pixel
// gathering live here so that the WebP and APNG writers refuse the same
// input with the same messages and see the same pixels.

#include "core/Translatable.h"
#include "core/flag/FlagParameters.h"
#include "core/imaging/XDIBUnit.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace zx {

// The writers' messages. %d is the frame's number, counted from 1 as the
// panel shows them.
namespace AnimationMessages {
    inline constexpr const char* sNoFrames = ZX_TR_NOOP("Messages", "动画中没有帧");
    inline constexpr const char* sNot24Bit = ZX_TR_NOOP("Messages", "第 %d 帧不是 24 位图像");
    inline constexpr const char* sSizeDiffers
        = ZX_TR_NOOP("Messages", "第 %d 帧的尺寸与第 1 帧不同");
    inline constexpr const char* sAlphaDoesNotFit
        = ZX_TR_NOOP("Messages", "第 %d 帧的透明度平面不是帧尺寸的 8 位图像");
    inline constexpr const char* sTooManyAlphaPlanes = ZX_TR_NOOP("Messages", "透明度平面多于帧");
    inline constexpr const char* sTooWide = ZX_TR_NOOP("Messages", "动画的宽度或高度超过 %d");
    inline constexpr const char* sEncoderFailed = ZX_TR_NOOP("Messages", "%s 编码失败");
} // namespace AnimationMessages

// Told the size of each frame an encoder has coded, on the thread that coded
// it (several at a time when the frames are coded side by side).
using TFrameCoded = std::function<void(std::size_t bytes)>;

struct TAnimationFrames {
    // The frames, all 24-bit and of one size.
    std::span<const TDIB> Frames;
    // Straight (not premultiplied) alpha, 255 = opaque: one 8-bit plane of the
    // frame's size per frame. A plane that is missing (the span is shorter
    // than Frames) or empty stands for an opaque frame.
    std::span<const TDIB> Alpha;
    // Frame delay in hundredths of a second (1..50), as the GIF's.
    std::int32_t Delay = kGIFDelayRange.Default;
    // Loop-count slider position (0..101), mapped through LoopCount: both ends
    // repeat for ever.
    std::int32_t Loops = kGIFLoopsRange.Default;
};

// What the checks found out about valid frames.
struct TAnimationShape {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t Count = 0;
    // Some pixel of some frame has an alpha below 255.
    bool Translucent = false;
};

// Throws EInvalidGraphicOperation, with one message naming the problem, when
// there are no frames or more than the frame store holds, a frame is not
// 24-bit or not the size of the first, an alpha plane is not 8-bit or not
// the frame's size, there are more alpha planes than frames, a side exceeds
// maxSide, or the delay or the loop position is out of range. Frames whose
// pixel memory would pass the readers' bound raise EImageTooLarge.
TAnimationShape CheckAnimationFrames(const TAnimationFrames& frames, std::int32_t maxSide);

// The alpha plane of frame i, or null for an opaque frame.
const TDIB* FrameAlpha(const TAnimationFrames& frames, std::size_t i);
// Frame i has a pixel with an alpha below 255.
bool FrameIsTranslucent(const TAnimationFrames& frames, std::size_t i);

// Frame i as rows of red, green, blue (channels 3) or red, green, blue,
// alpha (channels 4, opaque where the frame has no plane), top row first,
// stride bytes from one row to the next.
void CopyFramePixels(const TAnimationFrames& frames, std::size_t i, std::int32_t channels,
    std::uint8_t* out, std::size_t stride);

} // namespace zx
