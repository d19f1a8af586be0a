#pragma once

// The pictures of tests/data/quality waved as flags: the frames, masks and
// transparency the export gets, at a small size so that the tests stay fast.

#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/GIFSizeFit.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdint>
#include <span>
#include <string>

namespace zx::waved_test {

// frames frames of width x height of the picture with the default flag
// settings (transparent mode on: the background is the checkerboard, masked).
inline TFitFrames WavePicture(
    const std::string& name, std::int32_t frames, std::int32_t width, std::int32_t height)
{
    TDIB texture;
    LoadPictureFile(std::string(ZX_TEST_DATA_DIR) + "/quality/" + name, texture);
    FlagParameters params;
    params.Frames = frames;
    const TFlagDerived derived = DeriveFlagValues(params, width, height);
    const TLightTable light
        = BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
    TFrameStore store;
    TFitFrames result;
    for (std::int32_t k = 0; k < frames; ++k) {
        RenderFrame(store, static_cast<std::uint16_t>(k), FramePhase(k, frames), params, derived,
            texture, light);
        result.Frames.push_back(store.FrameBitmaps[k]);
        result.Masks.push_back(store.FrameMasks[k]);
        result.Transparent[std::size_t(k)] = store.FrameTransparent[k];
    }
    return result;
}

inline std::span<const bool> TransparentOf(const TFitFrames& frames)
{
    return { frames.Transparent.data(), frames.Frames.size() };
}

} // namespace zx::waved_test
