// The picture loader's PNG road (libspng) on arbitrary files.
//
// Invariants: a file that loads gives a picture of the IHDR's size (see
// FuzzPicture.h for the rest); a file that fails leaves the target alone and
// raises one of our errors.

#include "FuzzPicture.h"

#include <span>

namespace {

// Pictures above this many pixels are valid but slow the search down.
constexpr std::uint64_t kMaxFuzzPixels = 1ull << 20;

std::uint32_t BigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The IHDR follows the signature: length, "IHDR", width, height (PNG 11.2.2).
    std::uint64_t width = 0, height = 0;
    if (size >= 24) {
        width = BigEndian32(data + 16);
        height = BigEndian32(data + 20);
        if (width * height > kMaxFuzzPixels)
            return 0;
    }
    const std::span<const std::uint8_t> file(data, size);
    zx::TPicture loaded;
    const bool ok = zx::fuzz::CheckPictureLoad([&](zx::TPicture& target) {
        zx::LoadPNGPicture(file, target);
        loaded = target;
    });
    if (ok)
        ZX_FUZZ_CHECK(std::uint64_t(loaded.Color.Width()) == width
            && std::uint64_t(loaded.Color.Height()) == height);
    return 0;
}
