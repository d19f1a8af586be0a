// The APNG writer against the tests' independent reader (zlib, its own
// unfiltering and composition): frames, alpha planes and options from the
// input (FuzzAnimFrames.h); byte 5 picks the filter choice (bits 0-2), the
// level (bits 3-6, 0 automatic) and whole frames (bit 7).
//
// Invariants: the file reads back with valid chunks, CRCs and sequence
// numbers, RGB exactly when every pixel is opaque, and every frame as shown
// equals its input, alpha and colour under alpha 0 included, with the delay
// and play count asked for.

#include "APNGTestReader.h"
#include "FuzzAnimFrames.h"
#include "FuzzTarget.h"
#include "core/gif/APNGWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 7)
        return 0;
    const zx::fuzz::TFuzzAnimation animation = zx::fuzz::MakeFuzzAnimation(data, size);
    zx::TAPNGOptions options;
    options.Filter = static_cast<zx::TPNGFilterChoice>(animation.Options % 8);
    options.Level = (animation.Options >> 3) & 15; // 13..15 are clamped to 12
    options.ChangedArea = (animation.Options & 0x80) == 0;
    const std::vector<std::uint8_t> file = zx::EncodeAPNG(animation.View, options);

    zx::apng_test::TAPNG png;
    try {
        png = zx::apng_test::ReadAPNG(file);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "the reader refused the file: %s\n", error.what());
        std::abort();
    }
    const std::size_t count = animation.Frames.size();
    ZX_FUZZ_CHECK(png.Canvases.size() == count);
    bool opaque = true;
    for (const zx::TDIB& alpha : animation.Alpha)
        for (std::int32_t y = 0; y < alpha.Height(); ++y)
            for (std::int32_t x = 0; x < alpha.Width(); ++x)
                opaque = opaque && alpha.ConstScanLine(y)[x] == 255;
    ZX_FUZZ_CHECK(png.ColourType == (opaque ? 2 : 6));
    ZX_FUZZ_CHECK(png.Plays == std::uint32_t(zx::LoopCount(animation.View.Loops)));
    for (std::size_t i = 0; i < count; ++i) {
        ZX_FUZZ_CHECK(png.Canvases[i] == zx::fuzz::FuzzExpectedRGBA(animation, i));
        ZX_FUZZ_CHECK(png.Controls[i].DelayNum == animation.View.Delay);
        ZX_FUZZ_CHECK(png.Controls[i].DelayDen == 100);
    }
    return 0;
}
