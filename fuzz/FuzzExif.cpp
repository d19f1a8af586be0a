// The EXIF orientation parser on arbitrary JPEG headers, and the turn it
// asks for.
//
// Invariants: the orientation is 1..8 and reading it never leaves the input
// (ASan); turning a picture by it keeps every pixel, swaps width and height
// exactly for 5..8, and turning it back by the inverse gives the original.

#include "FuzzTarget.h"
#include "core/imaging/XImageFileUnit.h"

#include <span>

namespace {

// The orientation that undoes each one: the turns by 90 degrees swap, the
// mirrors undo themselves.
constexpr std::int32_t kInverse[9] = { 0, 1, 2, 3, 4, 5, 8, 7, 6 };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::int32_t orientation = zx::ReadExifOrientation(std::span(data, size));
    ZX_FUZZ_CHECK(orientation >= 1 && orientation <= 8);

    zx::TDIB picture;
    picture.SetSize(3, 2, 24);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t i = 0; i < 9; ++i)
            picture.ScanLine(y)[i] = static_cast<std::uint8_t>(y * 9 + i + 1);
    const zx::TDIB original = picture;
    zx::ApplyExifOrientation(picture, orientation);
    const bool swapped = orientation >= 5;
    ZX_FUZZ_CHECK(picture.Width() == (swapped ? 2 : 3) && picture.Height() == (swapped ? 3 : 2));
    zx::ApplyExifOrientation(picture, kInverse[orientation]);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t i = 0; i < 9; ++i)
            ZX_FUZZ_CHECK(picture.ConstScanLine(y)[i] == original.ConstScanLine(y)[i]);
    return 0;
}
