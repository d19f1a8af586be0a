#pragma once

// The core half of the drawing layer: the pixel operations the other units need
// from a canvas, done directly on a TDIB's rows.

#include "core/imaging/XDIBUnit.h"

#include <cstdint>

namespace zx {

// Draws source unscaled with its top-left pixel at (x, y) of target, clipped to
// target. target must be 24 or 32 bits; source may have any bit count (indexed
// pixels through its colour table, 16/32 bits through its channel layout).
void DrawDIB(TDIB& target, std::int32_t x, std::int32_t y, const TDIB& source);

// Fills the rectangle [left, right) x [top, bottom) of a 24- or 32-bit picture
// with a colour value 0x00BBGGRR (red in the low byte), clipped.
void FillRect(TDIB& target, std::int32_t left, std::int32_t top, std::int32_t right,
    std::int32_t bottom, std::uint32_t color);

// Stretches the whole source into the rectangle of target with nearest-neighbour
// sampling (rows and columns dropped or repeated, never blended), clipped.
void StretchDraw(TDIB& target, std::int32_t left, std::int32_t top, std::int32_t right,
    std::int32_t bottom, const TDIB& source);

// The colour of pixel x in a row of source as 0x00BBGGRR, whatever its bit count.
std::uint32_t SourceColor(const TDIB& source, const std::uint8_t* row, std::int32_t x);

} // namespace zx
