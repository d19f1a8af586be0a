#pragma once

// A picture on the clipboard as the platform's packed-DIB format: the info
// header, the channel masks, the colour table and the pixel rows, without a BMP
// file header. The desktop program puts such blocks on the system clipboard and
// takes them off it (ui/imaging/XDIBClipboardQt.h).

#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <span>
#include <vector>

namespace zx {

// The platform's number for the packed-DIB clipboard format.
inline constexpr std::uint32_t kClipboardFormatDIB = 8;

struct TClipboardBlock {
    std::uint32_t Format = 0;
    // Exactly what WriteData writes; empty for an empty picture.
    std::vector<std::uint8_t> Data;
    // No palette travels beside a packed DIB: its colours are in the block.
    HPalette Palette = 0;
};

TClipboardBlock SaveToClipboardFormat(const TDIB& picture);

// ReadData over the block; format and palette are not looked at. A block that
// does not read as a packed DIB raises the reader's error and leaves the picture
// as it was.
void LoadFromClipboardFormat(
    TDIB& picture, std::uint32_t format, std::span<const std::uint8_t> data, HPalette palette);

} // namespace zx
