// Colour reduction of a whole animation: one shared palette over 40 frames of
// 320 x 200, then every frame dithered onto it, at 256 and at 16 colours, by
// the standard and the high quality level. The whole-animation benchmarks
// also report the PSNR of the result (bench/quality.sh scores real GIFs).

#include "core/gif/XGIFUnitQuantize.h"
#include "core/gif/XGIFUnitQuantizeHigh.h"
#include "core/imaging/XDIBUnit.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace zx;

namespace {

constexpr int kFrames = 40;
constexpr int kWidth = 320;
constexpr int kHeight = 200;

// A photo-like picture: smooth colour gradients, a few soft shapes, fine
// texture and a little noise, so that colours vary everywhere as in a
// rendered flag.
void TextureColour(double u, double v, double& r, double& g, double& b)
{
    r = 60 + 150 * u + 30 * std::sin(9 * v);
    g = 40 + 120 * v + 40 * std::cos(7 * u + 3 * v);
    b = 180 - 100 * u * v + 25 * std::sin(23 * u) * std::cos(17 * v);
    const double dx = u - 0.35, dy = v - 0.45;
    const double spot = std::exp(-(dx * dx + dy * dy) * 30);
    r += 80 * spot;
    g += 60 * spot;
    b -= 50 * spot;
    const double stripe = std::sin(60 * (u + 0.3 * v)) > 0.7 ? 25 : 0;
    r -= stripe;
    g -= stripe;
}

// Frame k of the animation: the texture moved by a travelling wave and shaded
// by its slope, with background pixels (grey checkerboard) where the waving
// flag does not reach.
std::vector<TDIB> MakeFrames()
{
    std::vector<TDIB> frames;
    std::uint32_t noise = 12345;
    for (int k = 0; k < kFrames; ++k) {
        TDIB frame;
        frame.SetSize(kWidth, kHeight, 24);
        const double phase = 2 * M_PI * k / kFrames;
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = frame.ScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                const double wave = std::sin(2 * M_PI * x / 140.0 - phase);
                const double slope = std::cos(2 * M_PI * x / 140.0 - phase);
                const double sy = y + 8 * wave * (x / double(kWidth)) - 6;
                double r, g, b;
                if (sy < 0 || sy >= kHeight - 12) {
                    const bool dark = ((x >> 3) + (y >> 3)) & 1;
                    r = g = b = dark ? 192 : 224;
                } else {
                    TextureColour(x / double(kWidth), sy / kHeight, r, g, b);
                    const double light = 0.8 + 0.35 * slope;
                    noise = noise * 1664525u + 1013904223u;
                    const double jitter = double(noise >> 29) - 3.5;
                    r = r * light + jitter;
                    g = g * light + jitter;
                    b = b * light + jitter;
                }
                row[3 * x] = std::uint8_t(std::clamp(b, 0.0, 255.0));
                row[3 * x + 1] = std::uint8_t(std::clamp(g, 0.0, 255.0));
                row[3 * x + 2] = std::uint8_t(std::clamp(r, 0.0, 255.0));
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

const std::vector<TDIB>& Frames()
{
    static const std::vector<TDIB> frames = MakeFrames();
    return frames;
}

int DepthFor(int colours)
{
    int depth = 1;
    while ((1 << depth) < colours)
        ++depth;
    return depth;
}

void SetPixels(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kFrames * kWidth * kHeight);
}

void BM_CreateSharedPalette(benchmark::State& state)
{
    const int colours = int(state.range(0));
    const std::vector<TDIB>& frames = Frames();
    for (auto _ : state)
        benchmark::DoNotOptimize(CreateSharedPalette(frames, colours, DepthFor(colours)));
    SetPixels(state);
}

void BM_ReduceToPaletteEachFrame(benchmark::State& state)
{
    const int colours = int(state.range(0));
    const std::vector<TDIB>& frames = Frames();
    const TColorPalette palette = CreateSharedPalette(frames, colours, DepthFor(colours));
    for (auto _ : state) {
        for (const TDIB& frame : frames)
            benchmark::DoNotOptimize(ReduceToPalette(frame, palette));
    }
    SetPixels(state);
}

void BM_ReduceFramesToPalette(benchmark::State& state)
{
    const int colours = int(state.range(0));
    const std::vector<TDIB>& frames = Frames();
    const TColorPalette palette = CreateSharedPalette(frames, colours, DepthFor(colours));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReduceFramesToPalette(frames, palette, unsigned(state.range(1))));
    SetPixels(state);
}

// PSNR over red, green and blue of the reduced frames against the sources.
double Psnr(const std::vector<TDIB>& reduced, const TColorPalette& palette)
{
    const std::vector<TDIB>& frames = Frames();
    double sum = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* source = frames[i].ConstScanLine(y);
            const std::uint8_t* index = reduced[i].ConstScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                const TPaletteEntry& p = palette[index[x]];
                const double d[3] = { double(source[3 * x + 2]) - p.Red,
                    double(source[3 * x + 1]) - p.Green, double(source[3 * x]) - p.Blue };
                sum += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
            }
        }
    }
    const double mse = sum / (3.0 * kFrames * kWidth * kHeight);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

// Everything the export does to the colours: palette, then all frames.
void BM_PaletteAndAllFrames(benchmark::State& state)
{
    const int colours = int(state.range(0));
    const std::vector<TDIB>& frames = Frames();
    TColorPalette palette;
    std::vector<TDIB> reduced;
    for (auto _ : state) {
        palette = CreateSharedPalette(frames, colours, DepthFor(colours));
        reduced = ReduceFramesToPalette(frames, palette);
        benchmark::DoNotOptimize(reduced);
    }
    SetPixels(state);
    state.counters["PSNR_dB"] = Psnr(reduced, palette);
}

// The high quality level: the fitted and tuned palette, then the reduction.
void BM_CreateHighQualityPalette(benchmark::State& state)
{
    const int colours = int(state.range(0));
    const std::vector<TDIB>& frames = Frames();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            CreateHighQualityPalette(frames, {}, {}, colours, unsigned(state.range(1))));
    SetPixels(state);
}

void BM_ReduceFramesHighQuality(benchmark::State& state)
{
    const int colours = int(state.range(0));
    const std::vector<TDIB>& frames = Frames();
    const TColorPalette palette = CreateHighQualityPalette(frames, {}, {}, colours);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ReduceFramesHighQuality(frames, {}, {}, palette, unsigned(state.range(1))));
    SetPixels(state);
}

void BM_HighQualityPaletteAndAllFrames(benchmark::State& state)
{
    const int colours = int(state.range(0));
    const std::vector<TDIB>& frames = Frames();
    TColorPalette palette;
    std::vector<TDIB> reduced;
    for (auto _ : state) {
        palette = CreateHighQualityPalette(frames, {}, {}, colours);
        reduced = ReduceFramesHighQuality(frames, {}, {}, palette);
        benchmark::DoNotOptimize(reduced);
    }
    SetPixels(state);
    state.counters["PSNR_dB"] = Psnr(reduced, palette);
}

} // namespace

BENCHMARK(BM_CreateSharedPalette)->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceToPaletteEachFrame)->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond);
// Second argument: worker threads (0: one per processor). With one thread the
// CPU time is the whole cost of the reduction.
BENCHMARK(BM_ReduceFramesToPalette)
    ->Args({ 256, 1 })
    ->Args({ 256, 0 })
    ->Args({ 16, 1 })
    ->Args({ 16, 0 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PaletteAndAllFrames)->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CreateHighQualityPalette)
    ->Args({ 256, 1 })
    ->Args({ 256, 0 })
    ->Args({ 16, 0 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ReduceFramesHighQuality)
    ->Args({ 256, 1 })
    ->Args({ 256, 0 })
    ->Args({ 16, 0 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_HighQualityPaletteAndAllFrames)
    ->Arg(256)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
