// BMP reading and writing: TDIB's own streams and the picture loader's road.

#include "core/Stream.h"
#include "core/imaging/BMPFormat.h"
#include "core/imaging/XDIBUnit.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

using namespace zx;

namespace {

// A 24-bit picture with a gradient, so that no stage can shortcut on
// uniform bytes.
TDIB MakePicture(std::int32_t width, std::int32_t height)
{
    TDIB dib;
    dib.SetSize(width, height, 24);
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (std::int32_t x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x);
            row[3 * x + 1] = static_cast<std::uint8_t>(y);
            row[3 * x + 2] = static_cast<std::uint8_t>(x + y);
        }
    }
    return dib;
}

std::vector<std::uint8_t> SaveBMP(const TDIB& dib)
{
    TMemoryStream stream;
    dib.SaveToStream(stream);
    return stream.Data();
}

void BM_TDIBSaveToStream24(benchmark::State& state)
{
    const TDIB dib = MakePicture(4000, 3000);
    for (auto _ : state) {
        TMemoryStream stream;
        dib.SaveToStream(stream);
        benchmark::DoNotOptimize(stream.Data().data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(dib.Size()));
}
BENCHMARK(BM_TDIBSaveToStream24)->Unit(benchmark::kMillisecond);

void BM_TDIBLoadFromStream24(benchmark::State& state)
{
    const std::vector<std::uint8_t> file = SaveBMP(MakePicture(4000, 3000));
    for (auto _ : state) {
        TSpanStream stream(file);
        TDIB dib;
        dib.LoadFromStream(stream);
        benchmark::DoNotOptimize(dib.Image().get());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(file.size()));
}
BENCHMARK(BM_TDIBLoadFromStream24)->Unit(benchmark::kMillisecond);

void BM_LoadBMPPicture24(benchmark::State& state)
{
    const std::vector<std::uint8_t> file = SaveBMP(MakePicture(4000, 3000));
    for (auto _ : state) {
        TDIB dib;
        LoadBMPPicture(file, dib);
        benchmark::DoNotOptimize(dib.Image().get());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(file.size()));
}
BENCHMARK(BM_LoadBMPPicture24)->Unit(benchmark::kMillisecond);

// The loader's slowest common case: palette lookups per pixel.
void BM_LoadBMPPicture8(benchmark::State& state)
{
    TDIB source;
    source.SetSize(4000, 3000, 8);
    for (std::int32_t y = 0; y < source.Height(); ++y) {
        std::uint8_t* row = source.ScanLine(y);
        for (std::int32_t x = 0; x < source.Width(); ++x)
            row[x] = static_cast<std::uint8_t>(x ^ y);
    }
    const std::vector<std::uint8_t> file = SaveBMP(source);
    for (auto _ : state) {
        TDIB dib;
        LoadBMPPicture(file, dib);
        benchmark::DoNotOptimize(dib.Image().get());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(file.size()));
}
BENCHMARK(BM_LoadBMPPicture8)->Unit(benchmark::kMillisecond);

} // namespace
