#pragma once

// Shared by the BMP fuzz targets: a look at the info header's size fields, so
// that a target can skip pictures that are valid but too large to decode
// within the fuzzer's time limit.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace zx::fuzz {

// Pixel memory up to which a target lets the reader decode.
inline constexpr std::uint64_t kMaxFuzzPixelBytes = 4ull << 20;
// Above this the reader must refuse before allocating anything, which is fast:
// those inputs are kept. Between the two they are skipped.
inline constexpr std::uint64_t kRefusedPixelBytes = 1ull << 30;

// False when the info header at infoOffset describes a picture of more than
// kMaxFuzzPixelBytes (at least minBytesPerPixel per pixel) that the reader
// would have to accept.
inline bool AcceptableBMPSize(
    std::span<const std::uint8_t> data, std::size_t infoOffset, std::uint64_t minBytesPerPixel)
{
    if (data.size() < infoOffset + 16)
        return true;
    const std::uint8_t* info = data.data() + infoOffset;
    auto u16 = [info](std::size_t at) {
        return std::uint32_t(info[at]) | std::uint32_t(info[at + 1]) << 8;
    };
    auto u32 = [&u16](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t bits = 0;
    if (u32(0) == 12) {
        width = u16(4);
        height = u16(6);
        bits = u16(10);
    } else {
        width = static_cast<std::uint64_t>(std::llabs(static_cast<std::int32_t>(u32(4))));
        height = static_cast<std::uint64_t>(std::llabs(static_cast<std::int32_t>(u32(8))));
        bits = u16(14);
    }
    const std::uint64_t pixels = width * height;
    if (pixels > (1ull << 40))
        return true;
    std::uint64_t bytes = pixels * bits / 8;
    if (bytes < pixels * minBytesPerPixel)
        bytes = pixels * minBytesPerPixel;
    return bytes <= kMaxFuzzPixelBytes || bytes > kRefusedPixelBytes;
}

} // namespace zx::fuzz
