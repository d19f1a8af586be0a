#pragma once

// Shared by the animation writers' round-trip targets: frames, alpha planes
// and options made from the fuzzer's bytes, and the pixels a decoder must
// give back.
//
// Input: byte 0 (bits 0-1 frames - 1, bits 2-3 the alpha mode: none, every
// frame, every other frame, planes only on some), byte 1 width - 1 (up to
// 48), byte 2 height - 1 (up to 32), byte 3 the delay and byte 4 the loop
// slider position, byte 5 the writer's options; then pixel bytes from the
// rest of the input in a cycle, changing only where byte 6 says, so that
// frames repeat in part as a flag's background does.

#include "FuzzTarget.h"
#include "core/gif/AnimationFrames.h"
#include "core/imaging/XDIBUnit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zx::fuzz {

struct TFuzzAnimation {
    std::vector<TDIB> Frames;
    std::vector<TDIB> Alpha;
    TAnimationFrames View;
    std::uint8_t Options = 0;
};

// Needs at least 7 bytes.
inline TFuzzAnimation MakeFuzzAnimation(const std::uint8_t* data, std::size_t size)
{
    TFuzzAnimation out;
    const int count = 1 + (data[0] & 3);
    const int alphaMode = (data[0] >> 2) & 3;
    const std::int32_t width = 1 + data[1] % 48;
    const std::int32_t height = 1 + data[2] % 32;
    out.Options = data[5];
    const std::uint8_t changes = data[6];
    TByteCycle bytes(data + 7, size - 7);
    for (int k = 0; k < count; ++k) {
        TDIB frame;
        TDIB alpha;
        if (k > 0) {
            frame = out.Frames.back();
            frame.MakeWritable();
        } else {
            frame.SetSize(width, height, 24);
        }
        const bool withAlpha = alphaMode == 1 || (alphaMode == 2 && k % 2 == 1)
            || (alphaMode == 3 && (changes >> k) & 1);
        if (withAlpha)
            alpha.SetSize(width, height, 8);
        for (std::int32_t y = 0; y < height; ++y) {
            // Frame 0 is filled everywhere; later ones only in a band of rows.
            const bool change = k == 0 || ((y + k) % 8) < (changes & 7);
            std::uint8_t* row = frame.ScanLine(y);
            for (std::int32_t x = 0; x < width && change; ++x)
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = bytes.Next();
            if (withAlpha) {
                std::uint8_t* a = alpha.ScanLine(y);
                for (std::int32_t x = 0; x < width; ++x) {
                    // Mostly the ends, as a flag's coverage is.
                    const std::uint8_t v = bytes.Next();
                    a[x] = v < 96 ? 0 : v > 160 ? 255 : v;
                }
            }
        }
        out.Frames.push_back(frame);
        out.Alpha.push_back(alpha);
    }
    out.View.Frames = out.Frames;
    out.View.Alpha = out.Alpha;
    out.View.Delay = 1 + data[3] % 50;
    out.View.Loops = data[4] % 102;
    return out;
}

// Frame i as RGBA, top row first, opaque without a plane.
inline std::vector<std::uint8_t> FuzzExpectedRGBA(const TFuzzAnimation& animation, std::size_t i)
{
    std::vector<std::uint8_t> rgba;
    const TDIB& frame = animation.Frames[i];
    const TDIB& alpha = animation.Alpha[i];
    for (std::int32_t y = 0; y < frame.Height(); ++y) {
        const std::uint8_t* row = frame.ConstScanLine(y);
        for (std::int32_t x = 0; x < frame.Width(); ++x) {
            rgba.push_back(row[3 * x + 2]);
            rgba.push_back(row[3 * x + 1]);
            rgba.push_back(row[3 * x]);
            rgba.push_back(alpha.Empty() ? 255 : alpha.ConstScanLine(y)[x]);
        }
    }
    return rgba;
}

} // namespace zx::fuzz
