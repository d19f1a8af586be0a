// The picture loader's WebP road (libwebp, with its animation decoder) on
// arbitrary files.
//
// Invariants: a file that loads gives a picture of the size libwebp's header
// parser reports (the canvas of an animation; see FuzzPicture.h for the
// rest); a file that fails leaves the target alone and raises one of ours.

#include "FuzzPicture.h"

#include <span>
#include <webp/decode.h>

namespace {

constexpr std::uint64_t kMaxFuzzPixels = 1ull << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int width = 0, height = 0;
    const bool header = WebPGetInfo(data, size, &width, &height) != 0;
    if (header && std::uint64_t(width) * std::uint64_t(height) > kMaxFuzzPixels)
        return 0;
    const std::span<const std::uint8_t> file(data, size);
    zx::TPicture loaded;
    const bool ok = zx::fuzz::CheckPictureLoad([&](zx::TPicture& target) {
        zx::LoadWebPPicture(file, target);
        loaded = target;
    });
    if (ok)
        ZX_FUZZ_CHECK(header && loaded.Color.Width() == width && loaded.Color.Height() == height);
    return 0;
}
