#pragma once

// Shared by the roads whose decoders hand out 8-bit RGBA samples (PNG, WebP,
// SVG): the split of those samples into the 24-bit colour picture and the
// 8-bit alpha plane of a TPicture.

#include "core/imaging/XImageFileUnit.h"

#include <cstdint>
#include <string>

namespace zx {

class TRGBAPictureBuilder {
public:
    // Refuses (EImageTooLarge) a picture whose colour rows, with the alpha
    // rows when withAlpha is set, would pass the pixel memory bound, before
    // anything is allocated (a width or height of 0 is refused with the
    // EInvalidGraphic message given); then allocates both planes.
    TRGBAPictureBuilder(
        std::uint64_t width, std::uint64_t height, bool withAlpha, const std::string& emptyMessage);

    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }

    // Stores pixels first, first + step, ... of row y (counted from the top)
    // from rgba, which holds a whole row of Width() pixels of 4 bytes (red,
    // green, blue, alpha). Without an alpha plane the alpha bytes are ignored.
    void SetRow(
        std::int32_t y, const std::uint8_t* rgba, std::int32_t first = 0, std::int32_t step = 1);

    // Hands the picture over; an alpha plane whose every byte is 255 is
    // dropped, so an opaque picture renders as one without alpha.
    void Finish(TPicture& target);

private:
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    TPicture m_picture;
};

} // namespace zx
