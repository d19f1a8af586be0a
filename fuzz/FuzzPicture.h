#pragma once

// Shared by the fuzz targets of the roads that give a TPicture (PNG, WebP,
// SVG): a marked target that a failed load must leave alone, and the shape
// every loaded picture has.

#include "FuzzTarget.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdint>
#include <stdexcept>

namespace zx::fuzz {

inline TPicture MarkedPicture()
{
    TPicture picture;
    picture.Color.SetSize(3, 2, 24);
    picture.Alpha.SetSize(3, 2, 8);
    picture.Color.ScanLine(1)[4] = 0x5A;
    picture.Alpha.ScanLine(0)[2] = 0xA5;
    return picture;
}

// Loads with load(file, target); checks that a failure left the target as it
// was and that a success gave a 24-bit picture with, at most, an 8-bit alpha
// plane of its size that is not all opaque, and whose rows can all be read.
// Returns whether the load succeeded.
template <typename Load> bool CheckPictureLoad(Load load)
{
    TPicture target = MarkedPicture();
    const auto color = target.Color.Image();
    const auto alpha = target.Alpha.Image();
    try {
        load(target);
    } catch (const std::runtime_error&) {
        ZX_FUZZ_CHECK(target.Color.Image() == color && target.Alpha.Image() == alpha);
        ZX_FUZZ_CHECK(target.Color.ConstScanLine(1)[4] == 0x5A);
        ZX_FUZZ_CHECK(target.Alpha.ConstScanLine(0)[2] == 0xA5);
        return false;
    }
    const TDIB& c = target.Color;
    ZX_FUZZ_CHECK(c.BitCount() == 24 && c.Width() > 0 && c.Height() > 0);
    std::uint32_t sum = 0;
    for (std::int32_t y = 0; y < c.Height(); ++y)
        for (std::int32_t x = 0; x < c.Width() * 3; ++x)
            sum += c.ConstScanLine(y)[x];
    if (target.HasAlpha()) {
        const TDIB& a = target.Alpha;
        ZX_FUZZ_CHECK(a.BitCount() == 8 && a.Width() == c.Width() && a.Height() == c.Height());
        bool anyTransparent = false;
        for (std::int32_t y = 0; y < a.Height(); ++y)
            for (std::int32_t x = 0; x < a.Width(); ++x)
                anyTransparent |= a.ConstScanLine(y)[x] != 255;
        ZX_FUZZ_CHECK(anyTransparent);
    }
    volatile std::uint32_t keep = sum;
    (void)keep;
    return true;
}

} // namespace zx::fuzz
