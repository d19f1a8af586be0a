// The animation writers on 40 frames of 320 x 200 waving at 4 x 4
// antialiasing, against the standard GIF export of the same frames and, for
// WebP, against libwebp's own animation encoder with the same frame
// settings. The frames show the built-in picture, or the picture named by
// ZX_BENCH_PICTURE (a photograph measures the lossy coder as it is used).
// Each benchmark reports the file's size as the counter "bytes"; the size fit
// of WebP and APNG comes last.

#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/APNGWriter.h"
#include "core/gif/AnimationSizeFit.h"
#include "core/gif/GIFExport.h"
#include "core/gif/WebPAnimWriter.h"
#include "core/imaging/DefaultImage.h"
#include "core/imaging/XImageFileUnit.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>
#include <webp/encode.h>
#include <webp/mux.h>

namespace {

struct TAnimSetup {
    std::vector<zx::TDIB> Frames;
    zx::TAnimationFrames View;

    TAnimSetup()
    {
        zx::FlagParameters params;
        params.Frames = 40;
        params.Antialiasing = 2;
        params.TransparentMode = false;
        zx::TDIB texture;
        if (const char* picture = std::getenv("ZX_BENCH_PICTURE"))
            zx::LoadPictureFile(picture, texture);
        else
            zx::LoadDefaultImage(texture);
        const zx::TFlagDerived derived = zx::DeriveFlagValues(params, 320, 200);
        const zx::TLightTable light
            = zx::BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
        zx::TFrameStore store;
        for (std::int32_t k = 0; k < 40; ++k) {
            zx::RenderFrame(store, static_cast<std::uint16_t>(k), zx::FramePhase(k, 40), params,
                derived, texture, light);
            Frames.push_back(store.FrameBitmaps[k]);
        }
        View.Frames = Frames;
    }
};

const TAnimSetup& Setup()
{
    static const TAnimSetup setup;
    return setup;
}

void BM_AnimStandardGif(benchmark::State& state)
{
    const TAnimSetup& setup = Setup();
    zx::TExportOptions options;
    options.Frames = 40;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const zx::TExportPalette palette = zx::BuildExportPalette(setup.Frames, {}, {}, options);
        zx::TGIFImage gif;
        zx::BuildGifFrames(gif, setup.Frames, {}, {}, options, palette);
        bytes = gif.SaveToBytes().size();
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_AnimStandardGif)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AnimWebP(benchmark::State& state)
{
    const TAnimSetup& setup = Setup();
    const zx::TWebPOptions options { state.range(0) != 0, zx::kWebPQualityRange.Default };
    std::size_t bytes = 0;
    for (auto _ : state)
        bytes = zx::EncodeWebPAnimation(setup.View, options).size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_AnimWebP)
    ->ArgName("lossless")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The peer: libwebp's animation encoder with the writer's lossy settings,
// as it is left to choose (kmax 0: partial frames after the first) and with
// every frame a key frame (kmax 1, the frames the writer makes).
void BM_AnimWebPAnimEncoder(benchmark::State& state)
{
    const TAnimSetup& setup = Setup();
    const int width = setup.Frames[0].Width();
    const int height = setup.Frames[0].Height();
    std::vector<std::vector<std::uint8_t>> rgb(setup.Frames.size());
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        rgb[i].resize(std::size_t(width) * height * 3);
        zx::CopyFramePixels(setup.View, i, 3, rgb[i].data(), std::size_t(width) * 3);
    }
    WebPConfig config;
    WebPConfigInit(&config);
    config.quality = 90;
    config.method = 4;
    config.sns_strength = 100;
    std::size_t bytes = 0;
    for (auto _ : state) {
        WebPAnimEncoderOptions options;
        WebPAnimEncoderOptionsInit(&options);
        options.kmin = 0;
        options.kmax = static_cast<int>(state.range(0));
        const std::unique_ptr<WebPAnimEncoder, decltype(&WebPAnimEncoderDelete)> encoder(
            WebPAnimEncoderNew(width, height, &options), &WebPAnimEncoderDelete);
        for (std::size_t i = 0; i < rgb.size(); ++i) {
            WebPPicture picture;
            WebPPictureInit(&picture);
            picture.width = width;
            picture.height = height;
            picture.use_argb = 1;
            WebPPictureImportRGB(&picture, rgb[i].data(), width * 3);
            WebPAnimEncoderAdd(encoder.get(), &picture, int(i) * 50, &config);
            WebPPictureFree(&picture);
        }
        WebPAnimEncoderAdd(encoder.get(), nullptr, int(rgb.size()) * 50, nullptr);
        WebPData data;
        WebPDataInit(&data);
        WebPAnimEncoderAssemble(encoder.get(), &data);
        bytes = data.size;
        WebPDataClear(&data);
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_AnimWebPAnimEncoder)
    ->ArgName("kmax")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// APNG with each way of choosing the row filters (TPNGFilterChoice) at the
// automatic level, and the trial at fixed levels.
void BM_AnimAPNG(benchmark::State& state)
{
    const TAnimSetup& setup = Setup();
    zx::TAPNGOptions options;
    options.Filter = static_cast<zx::TPNGFilterChoice>(state.range(0));
    options.Level = static_cast<std::int32_t>(state.range(1));
    std::size_t bytes = 0;
    for (auto _ : state)
        bytes = zx::EncodeAPNG(setup.View, options).size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_AnimAPNG)
    ->ArgNames({ "filter", "level" })
    ->Args({ int(zx::TPNGFilterChoice::Trial), zx::kAPNGAutomaticLevel })
    ->Args({ int(zx::TPNGFilterChoice::SmallestSum), zx::kAPNGAutomaticLevel })
    ->Args({ int(zx::TPNGFilterChoice::SmallestEntropy), zx::kAPNGAutomaticLevel })
    ->Args({ int(zx::TPNGFilterChoice::Paeth), zx::kAPNGAutomaticLevel })
    ->Args({ int(zx::TPNGFilterChoice::Trial), 7 })
    ->Args({ int(zx::TPNGFilterChoice::Trial), 12 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The size fit of WebP (lossy at the default quality, range(0) 0; lossless,
// 1) and APNG (2): the limit is range(1) % of the file without one. Compare
// with BM_AnimWebP and BM_AnimAPNG/filter:7/level:0 of the same run.
void BM_AnimFitToSize(benchmark::State& state)
{
    const TAnimSetup& setup = Setup();
    zx::TExportAnimation animation;
    animation.Frames = setup.Frames;
    zx::TAnimationFit fit;
    fit.Format = state.range(0) == 2 ? zx::TAnimationFormat::APNG : zx::TAnimationFormat::WebP;
    fit.Delay = 5;
    fit.WebP.Lossless = state.range(0) == 1;
    fit.Limit = zx::EncodeSizedAnimation(animation, fit).File.size() * std::uint64_t(state.range(1))
        / 100;
    zx::TFitResult result;
    for (auto _ : state)
        result = zx::FitAnimationToSize(animation, fit);
    state.counters["bytes"] = double(result.File.size());
    state.counters["encodes"] = result.Encodes;
    state.counters["filled"] = double(result.File.size()) / double(fit.Limit);
}
BENCHMARK(BM_AnimFitToSize)
    ->ArgNames({ "format", "percent" })
    ->Args({ 0, 50 })
    ->Args({ 0, 20 })
    ->Args({ 1, 60 })
    ->Args({ 2, 60 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
