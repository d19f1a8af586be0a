// Loading the further picture formats: a 12-megapixel PNG (opaque and with
// alpha, the photo and the cut-out logo) and an SVG flag rendered at its
// 1280 pixels.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spng.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A 4000 x 3000 PNG made with libspng's encoder: a gradient with some noise
// (so that it does not compress to nothing), RGB or RGBA with a transparent
// border.
std::vector<std::uint8_t> MakePNG(bool withAlpha)
{
    const std::uint32_t w = 4000, h = 3000, channels = withAlpha ? 4 : 3;
    std::vector<std::uint8_t> pixels(std::size_t(w) * h * channels);
    std::uint32_t noise = 12345;
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            std::uint8_t* p = &pixels[(std::size_t(y) * w + x) * channels];
            p[0] = std::uint8_t((x * 255 / w + (noise >> 29)) & 255);
            p[1] = std::uint8_t(y * 255 / h);
            p[2] = std::uint8_t((x ^ y) >> 4);
            if (withAlpha)
                p[3] = x < 200 || y < 200 || x >= w - 200 || y >= h - 200 ? 0 : 255;
        }
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr {};
    ihdr.width = w;
    ihdr.height = h;
    ihdr.bit_depth = 8;
    ihdr.color_type = withAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    spng_encode_image(ctx, pixels.data(), pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    std::size_t length = 0;
    int error = 0;
    auto* png = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &length, &error));
    spng_ctx_free(ctx);
    std::vector<std::uint8_t> bytes(png, png + length);
    std::free(png);
    return bytes;
}

std::string WriteTemp(const std::vector<std::uint8_t>& bytes, const char* extension)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path()
        / ("zx-bench-formats-" + std::to_string(::getpid()) + extension);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

void BM_LoadPictureFilePNG4000x3000(benchmark::State& state)
{
    const bool withAlpha = state.range(0) != 0;
    const std::vector<std::uint8_t> png = MakePNG(withAlpha);
    const std::string path = WriteTemp(png, ".png");
    for (auto _ : state) {
        zx::TPicture picture;
        zx::LoadPictureFile(path, picture);
        benchmark::DoNotOptimize(picture.Color.Image().get());
    }
    std::filesystem::remove(path);
    state.counters["MPixel/s"]
        = benchmark::Counter(4000.0 * 3000.0 / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_KiB"] = double(png.size()) / 1024.0;
    state.SetLabel(withAlpha ? "RGBA, transparent border" : "RGB");
}
BENCHMARK(BM_LoadPictureFilePNG4000x3000)
    ->ArgName("alpha")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// A flag as drawing programs write them: stripes, a star polygon, a circle
// with a gradient, a swallowtail cut-out; rendered at 1280 x 853.
const char* const kFlagSVG
    = R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="900" height="600" viewBox="0 0 900 600">
  <defs><radialGradient id="g"><stop offset="0" stop-color="#fff"/><stop offset="1" stop-color="#fc0"/></radialGradient></defs>
  <path d="M0 0H900L700 300L900 600H0Z" fill="#0033a0"/>
  <rect y="100" width="800" height="80" fill="#fff"/>
  <rect y="420" width="800" height="80" fill="#fff"/>
  <circle cx="260" cy="300" r="110" fill="url(#g)"/>
  <polygon points="260,200 283,270 357,270 297,313 320,383 260,340 200,383 223,313 163,270 237,270" fill="#c8102e"/>
</svg>)svg";

void BM_LoadPictureFileSVGFlag(benchmark::State& state)
{
    const std::string text = kFlagSVG;
    const std::string path = WriteTemp(std::vector<std::uint8_t>(text.begin(), text.end()), ".svg");
    for (auto _ : state) {
        zx::TPicture picture;
        zx::LoadPictureFile(path, picture);
        benchmark::DoNotOptimize(picture.Color.Image().get());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadPictureFileSVGFlag)->Unit(benchmark::kMillisecond);

} // namespace
