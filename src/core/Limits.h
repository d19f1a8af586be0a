#pragma once

#include <cstdint>

namespace zx {

// The largest pixel memory any reader (BMP, JPEG, GIF) will allocate for one
// picture or one frame: 512 MiB. Files that claim more are refused before
// anything large is allocated, so a 20-byte header cannot make the program
// ask for gigabytes.
inline constexpr std::uint64_t kMaxPixelBytes = 512ull * 1024 * 1024;

// Throws EImageTooLarge unless width x height x bytesPerPixel (after row
// padding where the caller includes it) fits within kMaxPixelBytes.
void CheckPixelMemory(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel);
void CheckPixelBytes(std::uint64_t bytes);

} // namespace zx
