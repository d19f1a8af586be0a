// zephyrix-animscore: how close the frames of an animated WebP come to the
// pictures they were made from, scored as zephyrix-gifscore scores a GIF:
// libwebp's animation decoder (not our code) composes the frames, and the
// PSNR over red, green and blue of each frame against its source is
// averaged over the frames. It also says whether every frame is exact.

#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include <webp/demux.h>

namespace {

int Run(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
            "Usage: zephyrix-animscore ANIMATION.webp SOURCE...\n"
            "Scores each frame of the animation against its source picture (in order):\n"
            "PSNR over R, G, B, averaged over the frames, the worst frame, and whether\n"
            "every frame decodes to exactly its source.\n");
        return 2;
    }
    const std::vector<std::uint8_t> file = zx::ReadFileBytes(argv[1]);
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        throw std::runtime_error("libwebp's decoder options");
    options.color_mode = MODE_RGBA;
    const WebPData data { file.data(), file.size() };
    const std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(
        WebPAnimDecoderNew(&data, &options), &WebPAnimDecoderDelete);
    if (!decoder)
        throw std::runtime_error(std::string(argv[1]) + ": libwebp does not read it");
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder.get(), &info);
    const std::size_t sources = std::size_t(argc - 2);
    if (info.frame_count != sources)
        throw std::runtime_error(std::string(argv[1]) + " has " + std::to_string(info.frame_count)
            + " frames, " + std::to_string(sources) + " sources given");

    double psnr = 0;
    double worst = 1e9;
    bool exact = true;
    for (std::size_t i = 0; i < sources; ++i) {
        std::uint8_t* pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp))
            throw std::runtime_error("frame " + std::to_string(i) + " does not decode");
        zx::TDIB source;
        zx::LoadPictureFile(argv[i + 2], source);
        if (source.Width() != std::int32_t(info.canvas_width)
            || source.Height() != std::int32_t(info.canvas_height))
            throw std::runtime_error(std::string(argv[i + 2]) + " is not the animation's size");
        double sum = 0;
        for (std::int32_t y = 0; y < source.Height(); ++y) {
            const std::uint8_t* bgr = source.ConstScanLine(y);
            const std::uint8_t* rgba = pixels + std::size_t(y) * info.canvas_width * 4;
            for (std::int32_t x = 0; x < source.Width(); ++x)
                for (int c = 0; c < 3; ++c) {
                    const double d = double(rgba[4 * x + c]) - double(bgr[3 * x + 2 - c]);
                    sum += d * d;
                }
        }
        exact = exact && sum == 0;
        const double mse = sum / (double(source.Width()) * source.Height() * 3);
        // A frame that matches exactly counts as 100 dB, as zephyrix-gifscore has it.
        const double p = mse <= 1e-10 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
        psnr += p;
        worst = std::min(worst, p);
    }
    std::printf("frames %zu  psnr %.2f dB  worst frame %.2f dB  exact %s\n", sources,
        psnr / double(sources), worst, exact ? "yes" : "no");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zephyrix-animscore: %s\n", error.what());
        return 1;
    }
}
