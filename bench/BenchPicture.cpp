// Picture loading and the box blur: decoding a 12-megapixel JPEG file, and
// blurring a full-HD picture with small and large radii (the blur's cost must
// not grow with the radius).

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A colourful 4:2:0 JPEG of the given size at quality 90, made with libjpeg.
std::vector<std::uint8_t> MakeJPEG(int width, int height)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    std::uint32_t noise = 12345;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            row[3 * std::size_t(x)] = JSAMPLE((x * 255 / width + (noise >> 28)) & 255);
            row[3 * std::size_t(x) + 1] = JSAMPLE((y * 255 / height) & 255);
            row[3 * std::size_t(x) + 2] = JSAMPLE(((x ^ y) >> 3) & 255);
        }
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

void BM_LoadPictureFileJPEG4000x3000(benchmark::State& state)
{
    const std::vector<std::uint8_t> jpeg = MakeJPEG(4000, 3000);
    const std::filesystem::path path = std::filesystem::temp_directory_path()
        / ("zx-bench-picture-" + std::to_string(::getpid()) + ".jpg");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    for (auto _ : state) {
        zx::TDIB picture;
        zx::LoadPictureFile(path.string(), picture);
        benchmark::DoNotOptimize(picture.Image().get());
    }
    std::filesystem::remove(path);
    state.counters["MPixel/s"]
        = benchmark::Counter(4000.0 * 3000.0 / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_KiB"] = double(jpeg.size()) / 1024.0;
}
BENCHMARK(BM_LoadPictureFileJPEG4000x3000)->Unit(benchmark::kMillisecond);

void BM_Blur24FullHD(benchmark::State& state)
{
    const int radius = static_cast<int>(state.range(0));
    zx::TDIB source;
    source.SetSize(1920, 1080, 24);
    std::uint32_t noise = 99;
    for (int y = 0; y < 1080; ++y) {
        std::uint8_t* row = source.ScanLine(y);
        for (int i = 0; i < source.RowBytes(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            row[i] = static_cast<std::uint8_t>(noise >> 24);
        }
    }
    for (auto _ : state) {
        // The copy shares the source's pixels; the blur's first write unshares
        // it, which is part of every blur.
        zx::TDIB picture(source);
        picture.Blur(24, radius);
        benchmark::DoNotOptimize(picture.Image().get());
    }
    state.counters["MPixel/s"]
        = benchmark::Counter(1920.0 * 1080.0 / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Blur24FullHD)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

} // namespace
