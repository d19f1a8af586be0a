// LZW encoding and decoding of a full animation: 40 frames of 320 x 200
// 8-bit indices, the largest the export writes.

#include "core/Stream.h"
#include "core/gif/XGIFUnitLZW.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;
constexpr int kFrames = 40;

// Photo-like indices: smooth gradients and a moving wave, with the speckle
// that error-diffusion dithering leaves behind.
std::vector<std::vector<std::uint8_t>> MakeFrames()
{
    std::mt19937 random(1);
    std::vector<std::vector<std::uint8_t>> frames(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        auto& frame = frames[static_cast<std::size_t>(f)];
        frame.resize(kWidth * kHeight);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double wave = std::sin((x + 8 * f) * 0.05) * 20.0 + std::cos(y * 0.07) * 15.0;
                int value = static_cast<int>(x * 96 / kWidth + y * 64 / kHeight + wave) + 64;
                value += static_cast<int>(random() % 5) - 2;
                frame[static_cast<std::size_t>(y * kWidth + x)]
                    = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
            }
        }
    }
    return frames;
}

const std::vector<std::vector<std::uint8_t>>& Frames()
{
    static const auto frames = MakeFrames();
    return frames;
}

void BM_LZWEncode40Frames(benchmark::State& state)
{
    const auto& frames = Frames();
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        out.clear();
        for (const auto& frame : frames)
            zx::TLZWEncoder::Encode(frame, 8, 256, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrames * kWidth * kHeight);
    state.counters["bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_LZWEncode40Frames)->Unit(benchmark::kMillisecond);

void BM_LZWDecode40Frames(benchmark::State& state)
{
    const auto& frames = Frames();
    std::vector<std::vector<std::uint8_t>> encoded(kFrames);
    for (int f = 0; f < kFrames; ++f)
        zx::TLZWEncoder::Encode(
            frames[static_cast<std::size_t>(f)], 8, 256, encoded[static_cast<std::size_t>(f)]);
    std::vector<std::uint8_t> pixels(kWidth * kHeight);
    for (auto _ : state) {
        for (const auto& data : encoded) {
            zx::TSpanStream stream { std::span(data).subspan(1) };
            zx::TLZWDecoder decoder(stream, data[0], nullptr);
            benchmark::DoNotOptimize(decoder.Decode(pixels));
            decoder.Finish();
        }
    }
    state.SetItemsProcessed(state.iterations() * kFrames * kWidth * kHeight);
}
BENCHMARK(BM_LZWDecode40Frames)->Unit(benchmark::kMillisecond);

} // namespace
