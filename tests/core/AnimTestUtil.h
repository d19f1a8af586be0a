#pragma once

// Frames for the animation writers' tests: pictures made from a function,
// alpha planes, frames of the real renderer, and what a decoder must give
// back for them.

#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/AnimationFrames.h"
#include "core/imaging/DefaultImage.h"
#include "core/imaging/XDIBUnit.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace zx::anim_test {

using TRgb = std::array<std::uint8_t, 3>;

inline TDIB MakeFrame(std::int32_t width, std::int32_t height,
    const std::function<TRgb(std::int32_t, std::int32_t)>& rgb)
{
    TDIB dib;
    dib.SetSize(width, height, 24);
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (std::int32_t x = 0; x < width; ++x) {
            const TRgb c = rgb(x, y);
            row[3 * x] = c[2]; // blue, green, red
            row[3 * x + 1] = c[1];
            row[3 * x + 2] = c[0];
        }
    }
    return dib;
}

inline TDIB MakeAlpha(std::int32_t width, std::int32_t height,
    const std::function<std::uint8_t(std::int32_t, std::int32_t)>& alpha)
{
    TDIB dib;
    dib.SetSize(width, height, 8);
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (std::int32_t x = 0; x < width; ++x)
            row[x] = alpha(x, y);
    }
    return dib;
}

// A cheap, well-mixed hash for noise-like test pixels.
inline std::uint8_t Noise(std::uint32_t x, std::uint32_t y, std::uint32_t k)
{
    std::uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ k * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return static_cast<std::uint8_t>(h);
}

// Frames of the picture (the built-in one when none is given) waving,
// rendered as the program renders them with 4 x 4 antialiasing; the alpha
// planes (when asked for) are 255 on the flag and 0 off it, and every
// off-flag pixel keeps its checkerboard grey.
struct TRenderedFrames {
    std::vector<TDIB> Frames;
    std::vector<TDIB> Alpha;
};

inline TRenderedFrames RenderFlagFrames(std::int32_t count, std::int32_t width, std::int32_t height,
    bool transparent, const TDIB* picture = nullptr)
{
    FlagParameters params;
    params.Frames = count;
    params.Antialiasing = 2;
    params.TransparentMode = transparent;
    params.Distance = 30; // off-flag pixels around the picture
    TDIB texture;
    if (picture)
        texture = *picture;
    else
        LoadDefaultImage(texture);
    const TFlagDerived derived = DeriveFlagValues(params, width, height);
    const TLightTable light
        = BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
    TFrameStore store;
    TRenderedFrames out;
    for (std::int32_t k = 0; k < count; ++k) {
        RenderFrame(store, static_cast<std::uint16_t>(k), FramePhase(k, count), params, derived,
            texture, light);
        out.Frames.push_back(store.FrameBitmaps[k]);
        if (transparent) {
            TDIB alpha = store.FrameMasks[k];
            for (std::int32_t y = 0; y < alpha.Height(); ++y) {
                std::uint8_t* row = alpha.ScanLine(y);
                for (std::int32_t x = 0; x < alpha.Width(); ++x)
                    row[x] = static_cast<std::uint8_t>(255 - row[x]);
            }
            out.Alpha.push_back(alpha);
        }
    }
    return out;
}

// Frame i as a decoder must give it back: RGBA, top row first, opaque where
// the frame has no alpha plane.
inline std::vector<std::uint8_t> ExpectedRGBA(const TAnimationFrames& frames, std::size_t i)
{
    const TDIB& frame = frames.Frames[i];
    std::vector<std::uint8_t> rgba;
    for (std::int32_t y = 0; y < frame.Height(); ++y)
        for (std::int32_t x = 0; x < frame.Width(); ++x) {
            const std::uint32_t c = frame.Pixel(x, y); // red | green << 8 | blue << 16
            rgba.push_back(static_cast<std::uint8_t>(c));
            rgba.push_back(static_cast<std::uint8_t>(c >> 8));
            rgba.push_back(static_cast<std::uint8_t>(c >> 16));
            rgba.push_back(i < frames.Alpha.size() && !frames.Alpha[i].Empty()
                    ? static_cast<std::uint8_t>(frames.Alpha[i].Pixel(x, y))
                    : 255);
        }
    return rgba;
}

// PSNR over red, green and blue of two RGBA pictures.
inline double RgbPsnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (i % 4 == 3)
            continue;
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
        ++n;
    }
    return sum == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

} // namespace zx::anim_test
