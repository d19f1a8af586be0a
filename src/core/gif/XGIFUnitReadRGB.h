#pragma once

// Reading a bitmap of any bit count as rows of 24-bit pixels (blue, green,
// red), the form the quantizer and the ditherer work on.

#include "core/imaging/XDIBUnit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zx {

class TRowReader24 {
public:
    // Takes the bitmap's row address; after that Row only reads the bitmap's
    // storage and never changes the picture, so readers of different bitmaps
    // may be used on different threads. The bitmap must not be empty and must
    // outlive the reader unchanged.
    explicit TRowReader24(const TDIB& bitmap);

    // Row y (0 = top) as width pixels of blue, green, red: the bitmap's own row
    // when it has 24 bits, otherwise a conversion in the reader's buffer that
    // is valid until the next call.
    const std::uint8_t* Row(std::int32_t y);

private:
    const std::uint8_t* m_top;
    std::ptrdiff_t m_step;
    std::int32_t m_width;
    std::int32_t m_bitCount;
    // Other bit counts are converted through the drawing layer's SourceColor,
    // which reads the storage (its colour table, its channel layout) only.
    const TDIB& m_bitmap;
    std::vector<std::uint8_t> m_row;
};

} // namespace zx
