#pragma once

#include <cstdint>

namespace zx {

// The largest pixel memory any reader (BMP, JPEG, GIF) will allocate for one
// picture or one frame: 512 MiB. Files that claim more are refused before
// anything large is allocated, so a 20-byte header cannot make the program
// ask for gigabytes.
inline constexpr std::uint64_t kMaxPixelBytes = 512ull * 1024 * 1024;

// The most decoded pixel memory the frames of one GIF may hold together:
// 1 GiB. LZW packs up to about 2700 pixels into a byte, so without it a file
// of a few megabytes could ask for many gigabytes over its frames.
inline constexpr std::uint64_t kMaxAnimationBytes = 2 * kMaxPixelBytes;

// The largest file read whole (a picture, an animation): 1 GiB, twice the
// pixel memory of the largest picture and as much as the largest animation
// decodes to, so no file a reader accepts is near it. A device or pipe that
// never ends (/dev/zero chosen as a picture) stops there instead of filling
// the memory.
inline constexpr std::uint64_t kMaxFileBytes = 1ull << 30;

// Throws EImageTooLarge unless width x height x bytesPerPixel (after row
// padding where the caller includes it) fits within kMaxPixelBytes.
void CheckPixelMemory(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel);
void CheckPixelBytes(std::uint64_t bytes);
// Throws the EImageTooLarge of CheckPixelMemory, for readers that learn of
// the excess from elsewhere (a decoder library's own limit).
[[noreturn]] void RefuseImageTooLarge();
// Throws EImageTooLarge when the frames of one animation would hold more than
// limit bytes of pixels.
void CheckAnimationBytes(std::uint64_t bytes, std::uint64_t limit);

} // namespace zx
