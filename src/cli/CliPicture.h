#pragma once

// The source picture of the rendering commands.

#include "core/imaging/XDIBUnit.h"

#include <optional>
#include <string>

namespace zx::cli {

// Makes target the 24-bit source picture: the built-in default picture without
// a path, otherwise the picture file at path (BMP, JPEG or GIF, chosen by its
// extension). On failure target is unchanged.
void LoadSourcePicture(const std::optional<std::string>& path, TDIB& target);

} // namespace zx::cli
