// The picture loader's JPEG road (LoadJPEGPicture, the in-memory form of
// LoadPictureFile for ".JPG" names) on arbitrary files.
//
// Invariants: a file that loads gives a 24-bit picture of the frame header's
// size whose rows can all be read; a file that fails leaves the target
// picture exactly as it was, and the error is one of ours.

#include "FuzzTarget.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <stdexcept>

namespace {

// Pictures above this many pixels are valid but slow the search down.
constexpr std::uint64_t kMaxFuzzPixels = 1ull << 20;

// The largest picture any start-of-frame marker claims (ITU T.81 B.2.2:
// FFCn, length, precision, height, width), 0 when there is none.
std::uint64_t ClaimedPixels(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t largest = 0;
    for (std::size_t at = 0; at + 9 <= size; ++at) {
        if (data[at] != 0xFF)
            continue;
        const std::uint8_t marker = data[at + 1];
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4
            && marker != 0xC8 && marker != 0xCC;
        if (!startOfFrame)
            continue;
        const std::uint64_t height = std::uint64_t(data[at + 5]) << 8 | data[at + 6];
        const std::uint64_t width = std::uint64_t(data[at + 7]) << 8 | data[at + 8];
        largest = std::max(largest, width * height);
    }
    return largest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (ClaimedPixels(data, size) > kMaxFuzzPixels)
        return 0;

    zx::TDIB target;
    target.SetSize(3, 2, 24);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 9; ++x)
            target.ScanLine(y)[x] = static_cast<std::uint8_t>(y * 9 + x);
    const auto before = target.Image();

    try {
        zx::LoadJPEGPicture(std::span(data, size), target);
    } catch (const std::runtime_error&) {
        ZX_FUZZ_CHECK(target.Image() == before);
        ZX_FUZZ_CHECK(target.Width() == 3 && target.Height() == 2 && target.BitCount() == 24);
        for (std::int32_t y = 0; y < 2; ++y)
            for (std::int32_t x = 0; x < 9; ++x)
                ZX_FUZZ_CHECK(target.ConstScanLine(y)[x] == y * 9 + x);
        return 0;
    }
    ZX_FUZZ_CHECK(target.BitCount() == 24);
    ZX_FUZZ_CHECK(target.Width() > 0 && target.Height() > 0);
    ZX_FUZZ_CHECK(std::uint64_t(target.Width()) * std::uint64_t(target.Height())
        <= ClaimedPixels(data, size));
    std::uint32_t sum = 0;
    for (std::int32_t y = 0; y < target.Height(); ++y) {
        const std::uint8_t* row = target.ConstScanLine(y);
        for (std::int32_t x = 0; x < target.Width() * 3; ++x)
            sum += row[x];
    }
    volatile std::uint32_t keep = sum;
    (void)keep;
    return 0;
}
