// zephyrix-animwrite: writes ready-made frames (the BMP files of
// `zephyrix-cli frames`) as a GIF, an animated WebP or an APNG through the
// core's writers, so that the writers can be timed as whole processes and
// their files checked by other decoders. The GIF is the standard export's,
// as `zephyrix-cli encode` writes it.
//
// Usage: zephyrix-animwrite FORMAT -o OUT [options] FRAME...
//   FORMAT          gif, webp, webp-lossless or apng
//   --delay D       hundredths of a second (default 5)
//   --loops L       loop-count slider position (default 0: for ever)
//   --quality Q     lossy WebP quality (default 90)
//   --alpha         take each frame's alpha from the mask-NN.bmp beside its
//                   frame-NN.bmp (alpha = 255 - mask), as transparent frames
//   --filter F      APNG row filters: none, sub, up, average, paeth, sum,
//                   entropy or trial (the default)
//   --level N       APNG deflate level (1..12; default automatic)
//   --whole-frames  APNG: store every frame whole, not its changed area

#include "core/Stream.h"
#include "core/gif/APNGWriter.h"
#include "core/gif/GIFExport.h"
#include "core/gif/WebPAnimWriter.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// mask-NN.bmp for .../frame-NN.bmp.
std::string MaskPathFor(const std::string& frame)
{
    const std::size_t slash = frame.find_last_of('/');
    const std::size_t at = frame.find("frame-", slash == std::string::npos ? 0 : slash);
    if (at == std::string::npos)
        throw std::runtime_error(frame + ": not named frame-NN.bmp");
    return frame.substr(0, at) + "mask-" + frame.substr(at + 6);
}

zx::TDIB AlphaFromMask(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = zx::ReadFileBytes(path);
    zx::TSpanStream stream(bytes);
    zx::TDIB mask;
    mask.LoadFromStream(stream);
    if (mask.BitCount() != 8)
        throw std::runtime_error(path + ": not an 8-bit mask");
    for (std::int32_t y = 0; y < mask.Height(); ++y) {
        std::uint8_t* row = mask.ScanLine(y);
        for (std::int32_t x = 0; x < mask.Width(); ++x)
            row[x] = static_cast<std::uint8_t>(255 - row[x]);
    }
    return mask;
}

zx::TPNGFilterChoice FilterNamed(const std::string& name)
{
    using F = zx::TPNGFilterChoice;
    if (name == "none")
        return F::None;
    if (name == "sub")
        return F::Sub;
    if (name == "up")
        return F::Up;
    if (name == "average")
        return F::Average;
    if (name == "paeth")
        return F::Paeth;
    if (name == "sum")
        return F::SmallestSum;
    if (name == "entropy")
        return F::SmallestEntropy;
    if (name == "trial")
        return F::Trial;
    throw std::runtime_error("unknown filter " + name);
}

int Run(int argc, char** argv)
{
    if (argc < 2)
        throw std::runtime_error("usage: zephyrix-animwrite gif|webp|webp-lossless|apng -o OUT "
                                 "[--delay D] [--loops L] [--quality Q] [--alpha] [--filter F] "
                                 "[--level N] [--whole-frames] FRAME...");
    const std::string format = argv[1];
    std::string out;
    std::int32_t delay = 5;
    std::int32_t loops = 0;
    bool alpha = false;
    zx::TWebPOptions webp;
    zx::TAPNGOptions apng;
    std::vector<std::string> paths;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::runtime_error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-o")
            out = value();
        else if (arg == "--delay")
            delay = std::stoi(value());
        else if (arg == "--loops")
            loops = std::stoi(value());
        else if (arg == "--quality")
            webp.Quality = std::stoi(value());
        else if (arg == "--alpha")
            alpha = true;
        else if (arg == "--filter")
            apng.Filter = FilterNamed(value());
        else if (arg == "--level")
            apng.Level = std::stoi(value());
        else if (arg == "--whole-frames")
            apng.ChangedArea = false;
        else
            paths.push_back(arg);
    }
    if (out.empty() || paths.empty())
        throw std::runtime_error("an output (-o) and frames are needed");

    std::vector<zx::TDIB> frames(paths.size());
    std::vector<zx::TDIB> planes;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        zx::LoadPictureFile(paths[i], frames[i]);
        if (alpha)
            planes.push_back(AlphaFromMask(MaskPathFor(paths[i])));
    }

    if (format == "gif") {
        zx::TExportOptions options;
        options.Frames = static_cast<std::int32_t>(frames.size());
        options.GIFDelay = delay;
        options.GIFLoops = loops;
        const zx::TExportPalette palette = zx::BuildExportPalette(frames, {}, {}, options);
        zx::TGIFImage gif;
        zx::BuildGifFrames(gif, frames, {}, {}, options, palette);
        zx::WriteFileAtomic(out, gif.SaveToBytes());
        return 0;
    }
    zx::TAnimationFrames animation;
    animation.Frames = frames;
    animation.Alpha = planes;
    animation.Delay = delay;
    animation.Loops = loops;
    if (format == "webp" || format == "webp-lossless") {
        webp.Lossless = format == "webp-lossless";
        zx::SaveWebPAnimationFile(out, animation, webp);
    } else if (format == "apng") {
        zx::SaveAPNGFile(out, animation, apng);
    } else {
        throw std::runtime_error("unknown format " + format);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zephyrix-animwrite: %s\n", error.what());
        return 1;
    }
}
