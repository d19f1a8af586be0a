#pragma once

// The screen's colour depth, which decides whether the colour controls compute
// every pixel of their charts or fill them with blocks: on a screen of fewer
// than 15 bits per pixel a smooth field would only be dithered anyway.

#include <cstdint>

namespace zx {

// Bits per pixel of the primary screen, read on the first call and kept for
// the rest of the run (the colour controls do not follow a change of mode).
std::int32_t ScreenColorDepth();

// Replaces the depth the controls see (tests try the block painting with it);
// 0 makes the next call read the screen again.
void SetScreenColorDepth(std::int32_t depth);

// Depths from here on get every pixel computed.
inline constexpr std::int32_t kSmoothColorDepth = 15;

} // namespace zx
