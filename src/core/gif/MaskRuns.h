#pragma once

// An 8-bit plane kept as runs of equal bytes. A frame's mask (255 where the
// flag does not cover the frame, 0 where it does) is a few runs a row, so an
// export holds its frames' masks this way while the frames wait for their
// palette: 40 masks of 1920 x 1200 are 92 MB as planes and some kilobytes as
// runs.

#include "core/imaging/XDIBUnit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zx {

class TMaskRuns {
public:
    TMaskRuns() = default;
    // The runs of an 8-bit plane (EInvalidGraphicOperation for another bit
    // count); an empty plane gives empty runs.
    explicit TMaskRuns(const TDIB& plane);

    bool Empty() const { return m_width <= 0; }
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }
    // How many runs the plane took.
    std::size_t RunCount() const { return m_runs.size(); }

    // The plane again: every pixel as it was (the rows' padding is zero).
    TDIB Plane() const;

private:
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    // A run of the pixels in row order (top row first, rows joined): its
    // byte in the low 8 bits and its length above them.
    std::vector<std::uint32_t> m_runs;
};

} // namespace zx
