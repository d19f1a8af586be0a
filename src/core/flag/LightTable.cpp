#include "core/flag/LightTable.h"

#include "core/IntMath.h"

#include <algorithm>

namespace zx {

TLightTable BuildLightTable(std::int32_t brightness, std::int32_t contrast, bool invertLightMode)
{
    TLightTable table {};
    for (std::int32_t i = -16; i <= 16; ++i) {
        const std::int32_t row = invertLightMode ? 16 - i : 16 + i;
        // The gain is m / 2550: at brightness 100 a flat part (i = 0) keeps its
        // colour exactly, and contrast swings it by contrast x i either way.
        // 64-bit so that out-of-range settings cannot overflow; in range the
        // products stay far below 2^31 and the result is the same.
        const std::int64_t m = std::int64_t(contrast) * i + std::int64_t(brightness) * 20 + 550;
        for (std::int32_t j = 0; j < 256; ++j) {
            const std::int64_t v = (m * j) / 2550;
            table[row][j] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
        }
    }
    return table;
}

} // namespace zx
