#pragma once

// The source picture of the rendering commands.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <optional>
#include <string>

namespace zx::cli {

// The formats the loader reads, for help texts and messages.
inline constexpr const char* kPictureFormats = "BMP, JPEG, GIF, PNG, WebP or SVG";

// Makes target the source picture: the built-in default picture without a
// path (no alpha), otherwise the picture file at path, read by its content
// (and, for content no reader knows, by its extension). A failure names the
// file and says what was expected before the loader's own message, e.g.
// "notes.png: not a picture Zephyrix reads (BMP, JPEG, GIF, PNG, WebP or
// SVG): DIB 无效". On failure target is unchanged.
void LoadSourcePicture(const std::optional<std::string>& path, TPicture& target);
// The same for the colours alone.
void LoadSourcePicture(const std::optional<std::string>& path, TDIB& target);

} // namespace zx::cli
