// Lossy GIF coding on a photograph waved as a flag, 40 frames of 320 x 200
// with its transparent background: one whole export without loss for
// reference, the reduction of every frame at several lossy levels, and the
// fit to a size limit (a share of the lossless file) against one export.

#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/GIFExport.h"
#include "core/gif/GIFSizeFit.h"
#include "core/imaging/XImageFileUnit.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kFrames = 40;

// The frames of a picture from tests/data/quality as the export gets them.
struct TWavedPicture {
    std::vector<zx::TDIB> Frames;
    std::vector<zx::TDIB> Masks;
    std::vector<bool> TransparentBits;
    std::vector<char> Transparent;
    zx::TExportOptions Options;

    TWavedPicture(const std::string& name, std::int32_t width, std::int32_t height)
    {
        zx::TDIB texture;
        zx::LoadPictureFile(std::string(ZX_TEST_DATA_DIR) + "/quality/" + name, texture);
        zx::FlagParameters params;
        params.Frames = kFrames;
        const zx::TFlagDerived derived = zx::DeriveFlagValues(params, width, height);
        const zx::TLightTable light
            = zx::BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
        zx::TFrameStore store;
        for (std::int32_t k = 0; k < kFrames; ++k) {
            zx::RenderFrame(store, static_cast<std::uint16_t>(k), zx::FramePhase(k, kFrames),
                params, derived, texture, light);
            Frames.push_back(store.FrameBitmaps[k]);
            Masks.push_back(store.FrameMasks[k]);
            Transparent.push_back(store.FrameTransparent[k]);
        }
        Options.Frames = kFrames;
    }

    std::span<const bool> TransparentSpan() const
    {
        return { reinterpret_cast<const bool*>(Transparent.data()), Transparent.size() };
    }
};

const TWavedPicture& Cat()
{
    static const TWavedPicture picture("photo-cat.png", 320, 200);
    return picture;
}

void BM_LossyExportWhole(benchmark::State& state)
{
    const TWavedPicture& cat = Cat();
    zx::TExportOptions options = cat.Options;
    const auto lossy = static_cast<std::int32_t>(state.range(0));
    options.Quality = state.range(1) ? zx::TExportQuality::High : zx::TExportQuality::Standard;
    std::size_t size = 0;
    for (auto _ : state) {
        const zx::TExportPalette palette
            = zx::BuildExportPalette(cat.Frames, cat.Masks, cat.TransparentSpan(), options);
        zx::TGIFImage gif;
        zx::BuildGifFrames(
            gif, cat.Frames, cat.Masks, cat.TransparentSpan(), options, palette, lossy);
        size = gif.SaveToBytes().size();
    }
    state.counters["bytes"] = double(size);
}

void BM_LossyReduce(benchmark::State& state)
{
    const TWavedPicture& cat = Cat();
    zx::TExportOptions options = cat.Options;
    const auto lossy = static_cast<std::int32_t>(state.range(0));
    const zx::TExportPalette palette
        = zx::BuildExportPalette(cat.Frames, cat.Masks, cat.TransparentSpan(), options);
    for (auto _ : state) {
        auto reduced = zx::ReduceExportFrames(cat.Frames, cat.Masks, cat.TransparentSpan(), options,
            palette, lossy, static_cast<unsigned>(state.range(1)));
        benchmark::DoNotOptimize(reduced.data());
    }
}

// The whole fit, frames given: the limit is range(0) % of the lossless file
// of the level range(1) (1: high).
void BM_FitToSize(benchmark::State& state)
{
    const TWavedPicture& cat = Cat();
    zx::TExportOptions options = cat.Options;
    options.Quality = state.range(1) ? zx::TExportQuality::High : zx::TExportQuality::Standard;
    const zx::TExportPalette palette
        = zx::BuildExportPalette(cat.Frames, cat.Masks, cat.TransparentSpan(), options);
    zx::TGIFImage plain;
    zx::BuildGifFrames(plain, cat.Frames, cat.Masks, cat.TransparentSpan(), options, palette);
    zx::TSizeOptions size;
    size.MaxSize = plain.SaveToBytes().size() * std::uint64_t(state.range(0)) / 100;
    zx::TFitFrames frames;
    frames.Frames = cat.Frames;
    frames.Masks = cat.Masks;
    for (std::size_t i = 0; i < cat.Transparent.size(); ++i)
        frames.Transparent[i] = cat.Transparent[i] != 0;
    zx::TFitResult result;
    for (auto _ : state)
        result = zx::FitGifToSize(frames, options, size);
    state.counters["encodes"] = result.Encodes;
    state.counters["filled"] = double(result.File.size()) / double(size.MaxSize);
}

BENCHMARK(BM_LossyExportWhole)
    ->ArgNames({ "lossy", "high" })
    ->Args({ 0, 0 })
    ->Args({ 40, 0 })
    ->Args({ 0, 1 })
    ->Args({ 40, 1 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_FitToSize)
    ->ArgNames({ "percent", "high" })
    ->Args({ 80, 0 })
    ->Args({ 50, 0 })
    ->Args({ 25, 0 })
    ->Args({ 80, 1 })
    ->Args({ 50, 1 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_LossyReduce)
    ->ArgNames({ "lossy", "threads" })
    ->Args({ 0, 1 })
    ->Args({ 20, 1 })
    ->Args({ 60, 1 })
    ->Args({ 120, 1 })
    ->Args({ 60, 0 })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

} // namespace
