// zephyrix-anim-samples DIR: writes a set of animated WebP and APNG files
// through the core's writers, with what each must decode to, for
// check-animations.py to read back with decoders that are not ours (Pillow,
// ffmpeg, webpinfo).
//
// DIR/<set>.rgba holds a set's frames as the renderer made them (RGBA, top
// row first, frame after frame); DIR/manifest.tsv one line per file:
// file, set, format (webp or apng), lossless (0 or 1), width, height,
// frames, delay in milliseconds, loop count, alpha (0 or 1).

#include "core/Stream.h"
#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/FlagRendererCoverage.h"
#include "core/flag/LightTable.h"
#include "core/gif/APNGWriter.h"
#include "core/gif/WebPAnimWriter.h"
#include "core/imaging/DefaultImage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct TSet {
    std::string Name;
    std::vector<zx::TDIB> Frames;
    std::vector<zx::TDIB> Alpha;
    std::int32_t Delay = 5;
    std::int32_t Loops = 0;
};

// A smooth picture with a few sharp dark lines, so that lossy coding has
// both. (Thin saturated colour would lose most of its chroma to the 4:2:0
// sampling of lossy WebP; the built-in picture has some.)
zx::TDIB Picture()
{
    zx::TDIB dib;
    dib.SetSize(180, 120, 24);
    for (std::int32_t y = 0; y < 120; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (std::int32_t x = 0; x < 180; ++x) {
            const bool line = x % 45 == 0 || y % 40 == 0;
            row[3 * x] = static_cast<std::uint8_t>(line ? 20 : 128 + 100 * std::sin(x / 17.0));
            row[3 * x + 1] = static_cast<std::uint8_t>(line ? 20 : y * 2);
            row[3 * x + 2] = static_cast<std::uint8_t>(line ? 20 : x);
        }
    }
    return dib;
}

// count frames of the picture waving at 4 x 4 antialiasing. With alpha, the
// background is transparent and the frames are the coverage frames: the
// flag's edges and the picture's own alpha (pictureAlpha, when given) in
// every share between 0 and 255.
TSet Render(const std::string& name, std::int32_t count, std::int32_t width, std::int32_t height,
    bool alpha, const zx::TDIB& picture, const zx::TDIB& pictureAlpha = zx::TDIB())
{
    zx::FlagParameters params;
    params.Frames = count;
    params.Antialiasing = 2;
    params.TransparentMode = alpha;
    params.BackgroundColor = 0x603010;
    params.Distance = 25;
    const zx::TFlagDerived derived = zx::DeriveFlagValues(params, width, height);
    const zx::TLightTable light
        = zx::BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
    TSet set;
    set.Name = name;
    for (std::int32_t k = 0; k < count; ++k) {
        zx::TDIB frame, plane;
        zx::RenderCoverageFrame(frame, plane, zx::FramePhase(k, count), params, derived, picture,
            pictureAlpha, light, 1);
        set.Frames.push_back(frame);
        if (alpha)
            set.Alpha.push_back(plane);
    }
    return set;
}

// A soft round vignette: opaque in the middle, fading out to the edges.
zx::TDIB Vignette(std::int32_t width, std::int32_t height)
{
    zx::TDIB dib;
    dib.SetSize(width, height, 8);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / (width / 2.0);
            const double dy = (y - height / 2.0) / (height / 2.0);
            const double r = std::sqrt(dx * dx + dy * dy);
            dib.ScanLine(y)[x]
                = static_cast<std::uint8_t>(std::clamp((1.1 - r) * 400.0, 0.0, 255.0));
        }
    return dib;
}

void WriteRgba(const std::string& path, const TSet& set)
{
    zx::TAnimationFrames view;
    view.Frames = set.Frames;
    view.Alpha = set.Alpha;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < set.Frames.size(); ++i) {
        const std::size_t stride = std::size_t(set.Frames[i].Width()) * 4;
        std::vector<std::uint8_t> frame(stride * std::size_t(set.Frames[i].Height()));
        zx::CopyFramePixels(view, i, 4, frame.data(), stride);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    zx::WriteFileAtomic(path, bytes);
}

int Run(const std::string& dir)
{
    const zx::TDIB picture = Picture();
    zx::TDIB builtIn;
    zx::LoadDefaultImage(builtIn);
    std::vector<TSet> sets;
    sets.push_back(Render("opaque", 6, 96, 64, false, picture));
    sets.back().Delay = 7;
    sets.back().Loops = 51; // 60 plays
    sets.push_back(Render("alpha", 5, 80, 50, true, picture));
    sets.back().Delay = 4;
    sets.back().Loops = 0; // for ever
    sets.push_back(Render("builtin", 3, 64, 40, true, builtIn));
    sets.back().Loops = 3;
    sets.push_back(Render("single", 1, 40, 30, true, picture));
    sets.push_back(Render("soft", 4, 80, 50, true, picture, Vignette(180, 120)));
    sets.back().Delay = 3;
    sets.back().Loops = 1;

    std::ofstream manifest(dir + "/manifest.tsv");
    for (const TSet& set : sets) {
        WriteRgba(dir + "/" + set.Name + ".rgba", set);
        zx::TAnimationFrames view;
        view.Frames = set.Frames;
        view.Alpha = set.Alpha;
        view.Delay = set.Delay;
        view.Loops = set.Loops;
        const auto line = [&](const std::string& file, const char* format, bool lossless) {
            manifest << file << '\t' << set.Name << '\t' << format << '\t' << lossless << '\t'
                     << set.Frames[0].Width() << '\t' << set.Frames[0].Height() << '\t'
                     << set.Frames.size() << '\t' << set.Delay * 10 << '\t'
                     << zx::LoopCount(set.Loops) << '\t' << !set.Alpha.empty() << '\n';
        };
        zx::SaveWebPAnimationFile(dir + "/" + set.Name + "-lossy.webp", view, { false, 90 });
        line(set.Name + "-lossy.webp", "webp", false);
        zx::SaveWebPAnimationFile(dir + "/" + set.Name + "-lossless.webp", view, { true, 90 });
        line(set.Name + "-lossless.webp", "webp", true);
        zx::SaveAPNGFile(dir + "/" + set.Name + ".png", view);
        line(set.Name + ".png", "apng", true);
    }
    return manifest.good() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc != 2) {
            std::fprintf(stderr, "usage: zephyrix-anim-samples DIR\n");
            return 2;
        }
        return Run(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zephyrix-anim-samples: %s\n", error.what());
        return 1;
    }
}
