#pragma once

// The built-in default picture (resources/DEFAULTIMAGE.bmp, 150 x 100 at 8 bits
// per pixel), compiled into the core so that programs without Qt resources have
// it too.

#include "core/imaging/XDIBUnit.h"

#include <cstddef>
#include <cstdint>

namespace zx {

// The BMP file's bytes (generated from resources/DEFAULTIMAGE.bmp at build time).
extern const std::uint8_t kDefaultImageBmp[];
extern const std::size_t kDefaultImageBmpSize;

// Makes target the default picture as a 24-bit 150 x 100 image. On failure
// target is left as it was.
void LoadDefaultImage(TDIB& target);

} // namespace zx
