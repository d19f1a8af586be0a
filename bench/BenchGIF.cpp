// GIF reading and writing: our reader against giflib's DGifSlurp on the same
// bytes, and the writer.

#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "core/imaging/XDIBUnit.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <vector>

using namespace zx;

namespace {

constexpr std::int32_t kWidth = 2000;
constexpr std::int32_t kHeight = 2000;
constexpr std::int32_t kFrames = 8;

// Eight frames of a picture-like 256-colour image: smooth bands with a
// little noise, shifted from frame to frame, merged into one global table
// as the export does.
std::unique_ptr<TGIFImage> MakeAnimation()
{
    auto gif = std::make_unique<TGIFImage>();
    std::uint32_t seed = 12345;
    for (std::int32_t f = 0; f < kFrames; ++f) {
        TDIB dib;
        dib.SetSize(kWidth, kHeight, 8);
        for (std::int32_t i = 0; i < 256; ++i)
            dib.ColorTable()[static_cast<std::size_t>(i)] = TRGBQuad { static_cast<std::uint8_t>(i),
                static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 7), 0 };
        dib.UpdatePalette();
        for (std::int32_t y = 0; y < kHeight; ++y) {
            std::uint8_t* row = dib.ScanLine(y);
            for (std::int32_t x = 0; x < kWidth; ++x) {
                seed = seed * 1103515245u + 12345u;
                const std::int32_t noise = (seed >> 29) == 0 ? 1 : 0;
                row[x] = static_cast<std::uint8_t>((x + f * 16) / 9 + y / 11 + noise);
            }
        }
        gif->AddFrame(dib);
    }
    gif->MergeColourMaps();
    return gif;
}

const std::vector<std::uint8_t>& AnimationBytes()
{
    static const std::vector<std::uint8_t> bytes = MakeAnimation()->SaveToBytes();
    return bytes;
}

struct TReader {
    const std::vector<std::uint8_t>* Data;
    std::size_t Position = 0;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* reader = static_cast<TReader*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(
        static_cast<std::size_t>(count), reader->Data->size() - reader->Position);
    std::memcpy(buffer, reader->Data->data() + reader->Position, n);
    reader->Position += n;
    return static_cast<int>(n);
}

void BM_GIFDecodeZephyrix(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = AnimationBytes();
    for (auto _ : state) {
        TGIFImage gif;
        TSpanStream stream(bytes);
        gif.LoadFromStream(stream);
        for (const auto& frame : gif.Images())
            benchmark::DoNotOptimize(frame->Data().data());
    }
    state.SetItemsProcessed(state.iterations() * kFrames * std::int64_t(kWidth) * kHeight);
    state.counters["file_MB"] = double(bytes.size()) / 1e6;
}
BENCHMARK(BM_GIFDecodeZephyrix)->Unit(benchmark::kMillisecond);

void BM_GIFDecodeGiflibSlurp(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = AnimationBytes();
    for (auto _ : state) {
        TReader reader { &bytes };
        int error = 0;
        GifFileType* gif = DGifOpen(&reader, ReadMemory, &error);
        if (!gif || DGifSlurp(gif) != GIF_OK || gif->ImageCount != kFrames)
            state.SkipWithError("giflib could not read the file");
        if (gif) {
            benchmark::DoNotOptimize(gif->SavedImages);
            DGifCloseFile(gif, &error);
        }
    }
    state.SetItemsProcessed(state.iterations() * kFrames * std::int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_GIFDecodeGiflibSlurp)->Unit(benchmark::kMillisecond);

// The picture loader's road: read everything, draw frame 0 into a texture.
void BM_LoadGIFPicture(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = AnimationBytes();
    for (auto _ : state) {
        TDIB target;
        LoadGIFPicture(bytes, target);
        benchmark::DoNotOptimize(target.Image().get());
    }
}
BENCHMARK(BM_LoadGIFPicture)->Unit(benchmark::kMillisecond);

void BM_GIFSaveToBytes(benchmark::State& state)
{
    static const std::unique_ptr<TGIFImage> gif = MakeAnimation();
    for (auto _ : state) {
        const std::vector<std::uint8_t> bytes = gif->SaveToBytes();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrames * std::int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_GIFSaveToBytes)->Unit(benchmark::kMillisecond);

} // namespace
