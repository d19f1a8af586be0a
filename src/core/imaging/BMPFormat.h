#pragma once

// The one BMP parser. It serves TDIB's own stream reader (strict: the shapes a
// TDIB can hold, kept as stored) and the picture loader's BMP road (lenient: what
// a platform bitmap reader accepts, always converted to a 24-bit picture).

#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <span>

namespace zx {

// The picture loader's BMP road: reads a complete BMP file and makes target a
// 24-bit picture of the file's size with the colours the file shows. On any
// failure target is left exactly as it was and the error is raised.
void LoadBMPPicture(std::span<const std::uint8_t> file, TDIB& target);

} // namespace zx
