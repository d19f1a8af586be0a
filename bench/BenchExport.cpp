// The whole GIF export: shared palette, reduction of every frame, transparency,
// extensions, colour-map merge and encoding to bytes, with the frames rendered
// beforehand (render excluded) or inside the measurement (render included).

#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/GIFExport.h"
#include "core/imaging/DefaultImage.h"

#include <benchmark/benchmark.h>
#include <cstdint>

namespace {

struct TExportSetup {
    zx::FlagParameters Params;
    zx::TFlagDerived Derived;
    zx::TLightTable Light;
    zx::TDIB Texture;
    zx::TExportOptions Options;

    TExportSetup(std::int32_t frames, std::int32_t width, std::int32_t height)
    {
        Params.Frames = frames;
        Derived = zx::DeriveFlagValues(Params, width, height);
        Light = zx::BuildLightTable(Params.Brightness, Params.Contrast, Params.InvertLightMode);
        zx::LoadDefaultImage(Texture);
        Options.Frames = frames;
        Options.GIFBits = 8;
    }

    zx::TRenderMissingFrame Renderer(zx::TFrameStore& store) const
    {
        return [this, &store](std::int32_t k, std::uint16_t phase) {
            zx::RenderFrame(
                store, static_cast<std::uint16_t>(k), phase, Params, Derived, Texture, Light);
        };
    }
};

void ExportOnce(zx::TFrameStore& store, const TExportSetup& setup)
{
    const auto gif = zx::BuildExportGif(store, setup.Options, setup.Renderer(store));
    const auto bytes = gif->SaveToBytes();
    benchmark::DoNotOptimize(bytes.data());
}

void BM_ExportRenderExcluded(benchmark::State& state)
{
    const TExportSetup setup(static_cast<std::int32_t>(state.range(0)),
        static_cast<std::int32_t>(state.range(1)), static_cast<std::int32_t>(state.range(2)));
    zx::TFrameStore store;
    ExportOnce(store, setup); // renders every frame once
    for (auto _ : state)
        ExportOnce(store, setup);
}

void BM_ExportRenderIncluded(benchmark::State& state)
{
    const TExportSetup setup(static_cast<std::int32_t>(state.range(0)),
        static_cast<std::int32_t>(state.range(1)), static_cast<std::int32_t>(state.range(2)));
    zx::TFrameStore store;
    for (auto _ : state) {
        store.InvalidateAll();
        ExportOnce(store, setup);
    }
}

BENCHMARK(BM_ExportRenderExcluded)
    ->ArgNames({ "frames", "w", "h" })
    ->Args({ 40, 320, 200 })
    ->Args({ 8, 150, 97 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ExportRenderIncluded)
    ->ArgNames({ "frames", "w", "h" })
    ->Args({ 40, 320, 200 })
    ->Args({ 8, 150, 97 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
