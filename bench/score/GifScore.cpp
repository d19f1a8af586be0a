// zephyrix-gifscore: how close the frames of an animated GIF come to the
// pictures they were made from. The GIF is decoded with giflib (not with our
// own reader) and composited frame by frame as a viewer shows it, so a GIF
// from any encoder can be scored, also one that stores only the changed part
// of a frame or marks unchanged pixels transparent.
//
// For each frame it computes the PSNR over red, green and blue against its
// source picture, once on the pixels as they are and once after a Gaussian
// blur of both (sigma 1.0, five taps, edges repeated), which rewards dithering
// that keeps the local average of the colours. Both figures are averaged over
// the frames. Given the frames' masks, it leaves the background of a
// transparent flag out: any encoder may show it as it likes.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <gif_lib.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A picture as rows of red, green, blue, top row first.
struct TRgbPicture {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<std::uint8_t> Pixels;
};

TRgbPicture LoadSource(const std::string& path)
{
    zx::TDIB dib;
    zx::LoadPictureFile(path, dib);
    TRgbPicture picture;
    picture.Width = dib.Width();
    picture.Height = dib.Height();
    picture.Pixels.resize(std::size_t(picture.Width) * picture.Height * 3);
    for (std::int32_t y = 0; y < picture.Height; ++y) {
        const std::uint8_t* row = dib.ConstScanLine(y);
        std::uint8_t* out = &picture.Pixels[std::size_t(y) * picture.Width * 3];
        for (std::int32_t x = 0; x < picture.Width; ++x) {
            out[3 * x] = row[3 * x + 2];
            out[3 * x + 1] = row[3 * x + 1];
            out[3 * x + 2] = row[3 * x];
        }
    }
    return picture;
}

// ---------------------------------------------------------------------------
// Decoding: giflib's record reader, with the compositing done here

class TGifFile {
public:
    explicit TGifFile(const std::string& path)
    {
        int error = 0;
        m_gif = DGifOpenFileName(path.c_str(), &error);
        if (!m_gif)
            throw std::runtime_error(path + ": " + GifErrorString(error));
    }
    ~TGifFile()
    {
        int error = 0;
        DGifCloseFile(m_gif, &error);
    }
    TGifFile(const TGifFile&) = delete;
    TGifFile& operator=(const TGifFile&) = delete;

    GifFileType* operator->() const { return m_gif; }
    GifFileType* Get() const { return m_gif; }
    [[noreturn]] void Fail() const { throw std::runtime_error(GifErrorString(m_gif->Error)); }

private:
    GifFileType* m_gif = nullptr;
};

// The frames as a viewer shows them: each frame drawn over what the previous
// one's disposal left, transparent pixels letting the canvas show through.
// "Restore to background" clears to the background colour of the global
// table (as most viewers do, transparency would show the page behind).
std::vector<TRgbPicture> DecodeFrames(const std::string& path)
{
    TGifFile gif(path);
    const std::int32_t width = gif->SWidth;
    const std::int32_t height = gif->SHeight;
    std::array<std::uint8_t, 3> background {};
    if (gif->SColorMap && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
        const GifColorType c = gif->SColorMap->Colors[gif->SBackGroundColor];
        background = { c.Red, c.Green, c.Blue };
    }
    TRgbPicture canvas;
    canvas.Width = width;
    canvas.Height = height;
    canvas.Pixels.assign(std::size_t(width) * height * 3, 0);

    std::vector<TRgbPicture> frames;
    int transparent = -1;
    int disposal = 0;
    std::vector<GifPixelType> line;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif.Get(), &record) != GIF_OK)
            gif.Fail();
        if (record == TERMINATE_RECORD_TYPE)
            break;
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.Get(), &code, &block) != GIF_OK)
                gif.Fail();
            // Graphic control extension (GIF89a section 23): packed fields,
            // delay, transparent colour index.
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                disposal = (block[1] >> 2) & 7;
                transparent = (block[1] & 1) ? block[4] : -1;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.Get(), &block) != GIF_OK)
                    gif.Fail();
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif.Get()) != GIF_OK)
            gif.Fail();
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map)
            throw std::runtime_error(path + ": a frame without a colour table");
        const TRgbPicture before = canvas;

        // The rows come in file order; an interlaced frame stores them in
        // four passes (GIF89a appendix E).
        std::vector<std::int32_t> order;
        if (desc.Interlace) {
            const std::int32_t start[4] = { 0, 4, 2, 1 };
            const std::int32_t step[4] = { 8, 8, 4, 2 };
            for (int pass = 0; pass < 4; ++pass)
                for (std::int32_t y = start[pass]; y < desc.Height; y += step[pass])
                    order.push_back(y);
        } else {
            for (std::int32_t y = 0; y < desc.Height; ++y)
                order.push_back(y);
        }
        line.resize(std::size_t(std::max(desc.Width, 1)));
        for (const std::int32_t y : order) {
            if (DGifGetLine(gif.Get(), line.data(), desc.Width) != GIF_OK)
                gif.Fail();
            const std::int32_t cy = desc.Top + y;
            if (cy < 0 || cy >= height)
                continue;
            for (std::int32_t x = 0; x < desc.Width; ++x) {
                const std::int32_t cx = desc.Left + x;
                const int index = line[x];
                if (cx < 0 || cx >= width || index == transparent || index >= map->ColorCount)
                    continue;
                std::uint8_t* out = &canvas.Pixels[(std::size_t(cy) * width + cx) * 3];
                out[0] = map->Colors[index].Red;
                out[1] = map->Colors[index].Green;
                out[2] = map->Colors[index].Blue;
            }
        }
        frames.push_back(canvas);

        if (disposal == 2) {
            for (std::int32_t y = std::max(desc.Top, 0);
                 y < std::min(desc.Top + desc.Height, height); ++y)
                for (std::int32_t x = std::max(desc.Left, 0);
                     x < std::min(desc.Left + desc.Width, width); ++x) {
                    std::uint8_t* out = &canvas.Pixels[(std::size_t(y) * width + x) * 3];
                    out[0] = background[0];
                    out[1] = background[1];
                    out[2] = background[2];
                }
        } else if (disposal == 3) {
            canvas = before;
        }
        transparent = -1;
        disposal = 0;
    }
    return frames;
}

// ---------------------------------------------------------------------------
// Scoring

// Gaussian with sigma 1.0 over five taps (-2..2), normalised to sum 1.
std::array<double, 5> GaussianTaps()
{
    std::array<double, 5> taps {};
    double sum = 0;
    for (int i = -2; i <= 2; ++i) {
        taps[i + 2] = std::exp(-double(i * i) / 2.0);
        sum += taps[i + 2];
    }
    for (double& t : taps)
        t /= sum;
    return taps;
}

// One pass of the kernel along the rows (dx 1) or the columns (dy 1) of a
// picture of three values per pixel; coordinates beyond the edge are clamped
// to it.
std::vector<double> BlurPass(
    const std::vector<double>& in, std::int32_t w, std::int32_t h, std::int32_t dx, std::int32_t dy)
{
    static const std::array<double, 5> taps = GaussianTaps();
    std::vector<double> out(in.size());
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int i = -2; i <= 2; ++i) {
                    const std::int32_t sx = std::clamp(x + i * dx, 0, w - 1);
                    const std::int32_t sy = std::clamp(y + i * dy, 0, h - 1);
                    sum += taps[i + 2] * in[(std::size_t(sy) * w + sx) * 3 + c];
                }
                out[(std::size_t(y) * w + x) * 3 + c] = sum;
            }
    return out;
}

// The picture blurred separably, rows then columns; kept in floating point,
// not rounded back to bytes.
std::vector<double> Blur(const TRgbPicture& picture)
{
    const std::vector<double> values(picture.Pixels.begin(), picture.Pixels.end());
    return BlurPass(
        BlurPass(values, picture.Width, picture.Height, 1, 0), picture.Width, picture.Height, 0, 1);
}

// PSNR of a mean squared error over 8-bit values. A frame that matches
// exactly would have an infinite PSNR; it counts as 100 dB so that the
// average stays finite.
double Psnr(double mse)
{
    if (mse <= 1e-10)
        return 100.0;
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Blurs both pictures and gives the mean squared error over the counted
// pixels. Pixels not counted (the background of a transparent frame) take the
// source's colours in both first, so that no error spreads from them into the
// counted ones.
double BlurredError(
    TRgbPicture decoded, const TRgbPicture& source, const std::vector<bool>& counted)
{
    for (std::size_t i = 0; i < counted.size(); ++i)
        if (!counted[i])
            for (int c = 0; c < 3; ++c)
                decoded.Pixels[i * 3 + c] = source.Pixels[i * 3 + c];
    const std::vector<double> a = Blur(decoded);
    const std::vector<double> b = Blur(source);
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < counted.size(); ++i) {
        if (!counted[i])
            continue;
        for (int c = 0; c < 3; ++c) {
            const double d = a[i * 3 + c] - b[i * 3 + c];
            sum += d * d;
        }
        n += 3;
    }
    return n ? sum / double(n) : 0.0;
}

double PlainError(
    const TRgbPicture& decoded, const TRgbPicture& source, const std::vector<bool>& counted)
{
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < counted.size(); ++i) {
        if (!counted[i])
            continue;
        for (int c = 0; c < 3; ++c) {
            const double d = double(decoded.Pixels[i * 3 + c]) - double(source.Pixels[i * 3 + c]);
            sum += d * d;
        }
        n += 3;
    }
    return n ? sum / double(n) : 0.0;
}

int Run(int argc, char** argv)
{
    std::vector<std::string> sources;
    std::vector<std::string> masks;
    bool inMasks = false;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--masks" && !inMasks) {
            inMasks = true;
            continue;
        }
        (inMasks ? masks : sources).push_back(argv[i]);
    }
    if (argc < 3 || sources.empty() || (inMasks && masks.size() != sources.size())) {
        std::fprintf(stderr,
            "Usage: zephyrix-gifscore ANIMATION.gif SOURCE... [--masks MASK...]\n"
            "Scores each frame of the GIF against its source picture (in order): PSNR over\n"
            "R, G, B and PSNR after a Gaussian blur (sigma 1.0, 5 x 5, edges repeated) of\n"
            "both, each averaged over the frames. With masks (one a source, as\n"
            "zephyrix-cli frames writes them), the pixels a mask marks 255 are the\n"
            "transparent background and are left out of both figures.\n");
        return 2;
    }
    const std::vector<TRgbPicture> frames = DecodeFrames(argv[1]);
    if (frames.size() != sources.size())
        throw std::runtime_error(std::string(argv[1]) + " has " + std::to_string(frames.size())
            + " frames, " + std::to_string(sources.size()) + " sources given");
    double psnr = 0;
    double blurred = 0;
    double worst = 1e9;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const TRgbPicture source = LoadSource(sources[i]);
        if (source.Width != frames[i].Width || source.Height != frames[i].Height)
            throw std::runtime_error(sources[i] + " is not the size of the GIF");
        std::vector<bool> counted(std::size_t(source.Width) * source.Height, true);
        if (!masks.empty()) {
            const TRgbPicture mask = LoadSource(masks[i]);
            if (mask.Width != source.Width || mask.Height != source.Height)
                throw std::runtime_error(masks[i] + " is not the size of the GIF");
            for (std::size_t p = 0; p < counted.size(); ++p)
                counted[p] = mask.Pixels[p * 3] != 255;
        }
        const double p = Psnr(PlainError(frames[i], source, counted));
        psnr += p;
        worst = std::min(worst, p);
        blurred += Psnr(BlurredError(frames[i], source, counted));
    }
    psnr /= double(sources.size());
    blurred /= double(sources.size());
    std::printf("frames %zu  psnr %.2f dB  blurred %.2f dB  worst frame %.2f dB\n", sources.size(),
        psnr, blurred, worst);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zephyrix-gifscore: %s\n", error.what());
        return 1;
    }
}
