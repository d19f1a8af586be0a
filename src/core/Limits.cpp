#include "core/Limits.h"

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/Translatable.h"

#include <string>

namespace zx {

void RefuseImageTooLarge()
{
    throw EImageTooLarge(ZX_TR_NOOP("Messages", "图像太大: 像素内存超过 512 MiB"));
}

void CheckPixelBytes(std::uint64_t bytes)
{
    if (bytes > kMaxPixelBytes)
        RefuseImageTooLarge();
}

void CheckAnimationBytes(std::uint64_t bytes, std::uint64_t limit)
{
    if (bytes > limit)
        throw EImageTooLarge(
            FormatMessage(ZX_TR_NOOP("Messages", "图像太大: 动画各帧的像素内存合计超过 %d MiB"),
                static_cast<long long>(limit >> 20)));
}

void CheckPixelMemory(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel)
{
    std::uint64_t area = 0;
    std::uint64_t bytes = 0;
    if (!CheckedMul(width, height, area) || !CheckedMul(area, bytesPerPixel, bytes))
        RefuseImageTooLarge();
    CheckPixelBytes(bytes);
}

} // namespace zx
