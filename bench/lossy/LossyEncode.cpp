// zephyrix-lossy-encode: the GIF of ready-made frames at a lossy level, or at
// the lossy level whose file comes nearest to a given size, for
// bench/lossy.sh. It prints the level and the size of the file it wrote.
//
// Usage: zephyrix-lossy-encode [--quality standard|high] [--bits B]
//            (--lossy N | --size BYTES) -o OUT.gif FRAME...

#include "core/gif/GIFExport.h"
#include "core/gif/GIFSizeFit.h"
#include "core/gif/XGIFUnitLossy.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct TArguments {
    zx::TExportOptions Options;
    std::int32_t Lossy = -1;
    std::uint64_t Size = 0;
    std::uint64_t Fit = 0;
    std::string Output;
    std::vector<std::string> Frames;
};

TArguments Parse(int argc, char** argv)
{
    TArguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::runtime_error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--quality") {
            const std::string q = value();
            if (q != "standard" && q != "high")
                throw std::runtime_error("--quality standard|high");
            args.Options.Quality
                = q == "high" ? zx::TExportQuality::High : zx::TExportQuality::Standard;
        } else if (arg == "--bits") {
            args.Options.GIFBits = std::stoi(value());
        } else if (arg == "--lossy") {
            args.Lossy = std::stoi(value());
        } else if (arg == "--size") {
            args.Size = std::stoull(value());
        } else if (arg == "--fit") {
            args.Fit = std::stoull(value());
        } else if (arg == "-o") {
            args.Output = value();
        } else {
            args.Frames.push_back(arg);
        }
    }
    if (args.Output.empty() || args.Frames.empty()
        || (args.Lossy < 0) + (args.Size == 0) + (args.Fit == 0) != 2)
        throw std::runtime_error("usage: zephyrix-lossy-encode [--quality standard|high] "
                                 "[--bits B] (--lossy N | --size BYTES) -o OUT.gif FRAME...");
    args.Options.Frames = static_cast<std::int32_t>(args.Frames.size());
    return args;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const TArguments args = Parse(argc, argv);
        std::vector<zx::TDIB> frames(args.Frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i)
            zx::LoadPictureFile(args.Frames[i], frames[i]);
        if (args.Fit > 0) {
            zx::TFitFrames fit;
            fit.Frames = frames;
            zx::TSizeOptions size;
            size.MaxSize = args.Fit;
            const zx::TFitResult result = zx::FitGifToSize(fit, args.Options, size);
            std::ofstream out(args.Output, std::ios::binary);
            out.write(reinterpret_cast<const char*>(result.File.data()),
                std::streamsize(result.File.size()));
            std::printf("%s\n", result.Description.c_str());
            return out ? 0 : 1;
        }
        const zx::TExportPalette palette = zx::BuildExportPalette(frames, {}, {}, args.Options);
        auto encode = [&](std::int32_t lossy) {
            zx::TGIFImage gif;
            zx::BuildGifFrames(gif, frames, {}, {}, args.Options, palette, lossy);
            return gif.SaveToBytes();
        };

        std::int32_t lossy = args.Lossy;
        std::vector<std::uint8_t> bytes;
        if (args.Size == 0) {
            bytes = encode(lossy);
        } else {
            // The level whose file is nearest to the size: the files shrink as
            // the level rises, so a bisection finds the step where they cross
            // it.
            std::int32_t low = 0, high = zx::kLossyMax;
            std::vector<std::uint8_t> lowBytes = encode(low);
            std::vector<std::uint8_t> highBytes = encode(high);
            while (high - low > 1) {
                const std::int32_t mid = (low + high) / 2;
                std::vector<std::uint8_t> midBytes = encode(mid);
                if (midBytes.size() > args.Size) {
                    low = mid;
                    lowBytes = std::move(midBytes);
                } else {
                    high = mid;
                    highBytes = std::move(midBytes);
                }
            }
            auto off = [&](const std::vector<std::uint8_t>& b) {
                return b.size() > args.Size ? b.size() - args.Size : args.Size - b.size();
            };
            const bool takeLow = off(lowBytes) < off(highBytes);
            lossy = takeLow ? low : high;
            bytes = takeLow ? std::move(lowBytes) : std::move(highBytes);
        }
        std::ofstream out(args.Output, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + args.Output);
        std::printf("%d %zu\n", lossy, bytes.size());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zephyrix-lossy-encode: %s\n", e.what());
        return 1;
    }
}
