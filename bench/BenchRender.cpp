// RenderFrame at the largest frame size on the built-in picture, for each
// antialiasing level, directional and radial; on its pole; and with an alpha
// plane that makes the left half of the picture transparent. Also frames at an export scale,
// the parallel render of an export's frames, and the coverage frames against the ordinary ones.

#include "core/flag/FlagRenderer.h"
#include "core/flag/FlagRendererCoverage.h"
#include "core/flag/LightTable.h"
#include "core/imaging/DefaultImage.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void BM_RenderFrame(benchmark::State& state)
{
    zx::FlagParameters params;
    params.Antialiasing = static_cast<std::int32_t>(state.range(0));
    params.Radial = state.range(1) != 0;
    const zx::TFlagDerived derived = zx::DeriveFlagValues(params, 320, 200);
    const zx::TLightTable light = zx::BuildLightTable(100, 50, false);
    zx::TDIB texture;
    zx::LoadDefaultImage(texture);
    zx::TFrameStore store;

    std::uint16_t k = 0;
    for (auto _ : state) {
        zx::RenderFrame(
            store, k, zx::FramePhase(k, params.Frames), params, derived, texture, light);
        k = static_cast<std::uint16_t>((k + 1) % params.Frames);
        benchmark::DoNotOptimize(store.FrameBitmaps[0].ConstScanLine(0));
    }
    const double samplesPerFrame = 320.0 * 200.0 * (1 << (2 * params.Antialiasing));
    // Rates inverted: seconds per frame and per sample, shown as "509us", "7.9ns".
    state.counters["per_frame"] = benchmark::Counter(static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["per_sample"]
        = benchmark::Counter(static_cast<double>(state.iterations()) * samplesPerFrame,
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(std::string(params.Radial ? "radial" : "directional") + ", "
        + (params.Antialiasing == 0        ? "no antialiasing"
                : params.Antialiasing == 1 ? "2x2"
                                           : "4x4"));
}

BENCHMARK(BM_RenderFrame)
    ->ArgNames({ "antialias", "radial" })
    ->ArgsProduct({ { 0, 1, 2 }, { 0, 1 } })
    ->Unit(benchmark::kMicrosecond);

void BM_RenderFrameWithAlpha(benchmark::State& state)
{
    zx::FlagParameters params;
    params.Antialiasing = static_cast<std::int32_t>(state.range(0));
    params.TransparentMode = state.range(1) != 0;
    const zx::TFlagDerived derived = zx::DeriveFlagValues(params, 320, 200);
    const zx::TLightTable light = zx::BuildLightTable(100, 50, false);
    zx::TDIB texture;
    zx::LoadDefaultImage(texture);
    zx::TDIB alpha;
    alpha.SetSize(texture.Width(), texture.Height(), 8);
    for (std::int32_t y = 0; y < alpha.Height(); ++y)
        for (std::int32_t x = 0; x < alpha.Width(); ++x)
            alpha.ScanLine(y)[x] = static_cast<std::uint8_t>(x < alpha.Width() / 2 ? 0 : 200);
    zx::TFrameStore store;
    std::uint16_t k = 0;
    for (auto _ : state) {
        zx::RenderFrame(
            store, k, zx::FramePhase(k, params.Frames), params, derived, texture, alpha, light);
        k = static_cast<std::uint16_t>((k + 1) % params.Frames);
        benchmark::DoNotOptimize(store.FrameBitmaps[0].ConstScanLine(0));
    }
    state.counters["per_frame"] = benchmark::Counter(static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(params.TransparentMode ? "transparent" : "blended over the background");
}

BENCHMARK(BM_RenderFrameWithAlpha)
    ->ArgNames({ "antialias", "transparent" })
    ->ArgsProduct({ { 0, 2 }, { 0, 1 } })
    ->Unit(benchmark::kMicrosecond);

// The same frames with the flag on its pole: a left hoist with the default
// width, the pole drawn, directional and radial.
void BM_RenderFrameOnPole(benchmark::State& state)
{
    zx::FlagParameters params;
    params.Antialiasing = static_cast<std::int32_t>(state.range(0));
    params.Radial = state.range(1) != 0;
    params.Hoist = zx::hoLeft;
    params.ShowPole = true;
    const zx::TFlagDerived derived = zx::DeriveFlagValues(params, 320, 200);
    const zx::TLightTable light = zx::BuildLightTable(100, 50, false);
    zx::TDIB texture;
    zx::LoadDefaultImage(texture);
    zx::TFrameStore store;
    std::uint16_t k = 0;
    for (auto _ : state) {
        zx::RenderFrame(
            store, k, zx::FramePhase(k, params.Frames), params, derived, texture, light);
        k = static_cast<std::uint16_t>((k + 1) % params.Frames);
        benchmark::DoNotOptimize(store.FrameBitmaps[0].ConstScanLine(0));
    }
    state.counters["per_frame"] = benchmark::Counter(static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_RenderFrameOnPole)
    ->ArgNames({ "antialias", "radial" })
    ->ArgsProduct({ { 0, 1, 2 }, { 0, 1 } })
    ->Unit(benchmark::kMicrosecond);

} // namespace

namespace {

// A frame at an export scale: the built-in picture at 160 x 100, rendered at
// scale x that size with 2 x 2 antialiasing.
void BM_RenderScaledFrame(benchmark::State& state)
{
    zx::FlagParameters params;
    params.Antialiasing = 1;
    params.Radial = state.range(1) != 0;
    const auto scale = static_cast<std::int32_t>(state.range(0));
    const zx::TFlagDerived derived = zx::DeriveFlagValues(params, 160, 100);
    const zx::TLightTable light = zx::BuildLightTable(100, 50, false);
    zx::TDIB texture;
    zx::LoadDefaultImage(texture);
    zx::TFrameStore store;
    std::uint16_t k = 0;
    for (auto _ : state) {
        zx::RenderScaledFrame(store, k, zx::FramePhase(k, params.Frames), params, derived, texture,
            zx::TDIB(), light, scale);
        k = static_cast<std::uint16_t>((k + 1) % params.Frames);
        benchmark::DoNotOptimize(store.FrameBitmaps[0].ConstScanLine(0));
    }
    const double samplesPerFrame = 160.0 * 100.0 * scale * scale * 4;
    state.counters["per_sample"]
        = benchmark::Counter(static_cast<double>(state.iterations()) * samplesPerFrame,
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_RenderScaledFrame)
    ->ArgNames({ "scale", "radial" })
    ->ArgsProduct({ { 1, 2, 3, 4, 6 }, { 0, 1 } })
    ->Unit(benchmark::kMillisecond);

// The 40 frames of an export of 1280 x 720 (320 x 180 at scale 4) with 2 x 2
// antialiasing, on 1 or 2 workers. Wall-clock time, as the work is spread
// over threads.
void BM_RenderFrames(benchmark::State& state)
{
    zx::FlagParameters params;
    params.Antialiasing = 1;
    params.Frames = 40;
    const auto workers = static_cast<unsigned>(state.range(0));
    const zx::TFlagDerived derived = zx::DeriveFlagValues(params, 320, 180);
    const zx::TLightTable light = zx::BuildLightTable(100, 50, false);
    zx::TDIB texture;
    zx::LoadDefaultImage(texture);
    zx::TFrameStore store;
    for (auto _ : state) {
        store.InvalidateAll();
        const std::vector<zx::TFrameJob> jobs = zx::MissingFrameJobs(store, params.Frames);
        zx::RenderFrames(store, jobs, params, derived, texture, zx::TDIB(), light, 4, workers);
        benchmark::DoNotOptimize(store.FrameBitmaps[39].ConstScanLine(0));
    }
    state.counters["per_frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * 40,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_RenderFrames)
    ->ArgName("workers")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One export's 40 frames of 320 x 200 with 4 x 4 antialiasing in transparent
// mode, on one worker: the ordinary frames (kind 0) against the coverage
// frames a WebP or APNG export renders as well (kind 1), with and without
// the picture's own alpha.
void BM_RenderCoverage(benchmark::State& state)
{
    zx::FlagParameters params;
    params.Antialiasing = 2;
    params.Frames = 40;
    params.TransparentMode = true;
    const bool coverage = state.range(0) != 0;
    const bool withAlpha = state.range(1) != 0;
    const zx::TFlagDerived derived = zx::DeriveFlagValues(params, 320, 200);
    const zx::TLightTable light = zx::BuildLightTable(100, 50, false);
    zx::TDIB texture;
    zx::LoadDefaultImage(texture);
    zx::TDIB alpha;
    if (withAlpha) {
        alpha.SetSize(texture.Width(), texture.Height(), 8);
        for (std::int32_t y = 0; y < alpha.Height(); ++y)
            for (std::int32_t x = 0; x < alpha.Width(); ++x)
                alpha.ScanLine(y)[x] = static_cast<std::uint8_t>((x * 5 + y * 3) % 256);
    }
    std::vector<std::uint16_t> phases;
    for (std::int32_t k = 0; k < params.Frames; ++k)
        phases.push_back(zx::FramePhase(k, params.Frames));
    zx::TFrameStore store;
    for (auto _ : state) {
        if (coverage) {
            const zx::TCoverageFrames frames
                = zx::RenderCoverageFrames(phases, params, derived, texture, alpha, light, 1, 1);
            benchmark::DoNotOptimize(frames.Alpha[39].ConstScanLine(0));
        } else {
            store.InvalidateAll();
            const std::vector<zx::TFrameJob> jobs = zx::MissingFrameJobs(store, params.Frames);
            zx::RenderFrames(store, jobs, params, derived, texture, alpha, light, 1, 1);
            benchmark::DoNotOptimize(store.FrameBitmaps[39].ConstScanLine(0));
        }
    }
    state.counters["per_frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * 40,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(std::string(coverage ? "coverage" : "ordinary") + (withAlpha ? ", alpha" : ""));
}

BENCHMARK(BM_RenderCoverage)
    ->ArgNames({ "coverage", "alpha" })
    ->ArgsProduct({ { 0, 1 }, { 0, 1 } })
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
