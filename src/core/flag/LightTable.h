#pragma once

// The lighting table: brightness, contrast and the inverted-light switch folded
// into 33 rows of 256 bytes, so that shading a texel in the renderer's inner
// loop is three look-ups. The renderer reads row 16 - L for the light level L
// (-16..16): with normal light L = +16 is the darkest shade and L = -16 the
// brightest; inverted light swaps them.

#include <array>
#include <cstdint>

namespace zx {

inline constexpr std::int32_t kLightLevels = 33;

using TLightTable = std::array<std::array<std::uint8_t, 256>, kLightLevels>;

// Builds all 33 rows. brightness is 0..200 (%), contrast 0..100 (%); values
// outside those ranges still give a well-defined, clamped table.
TLightTable BuildLightTable(std::int32_t brightness, std::int32_t contrast, bool invertLightMode);

} // namespace zx
