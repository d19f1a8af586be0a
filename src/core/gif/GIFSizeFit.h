#pragma once

// Fitting an animation into a file size limit. The search turns a format's
// knobs in a fixed order and writes the largest file that fits: first its
// quality knob (for a GIF the lossy level, raised from the level asked for up
// to 200), then its colours (a GIF's bits, from those asked for down to 3),
// then the frame size, scaled down in steps of about 10 % that keep the
// proportions. The frame count and the delay are never touched: they are the
// animation. A try at knobs further along the order never gives a larger file
// in practice, so the first settings in that order that fit are searched for:
// the smallest frame-size step at which anything fits, then the most colours
// at that step, then the least loss. Where those settings fill less than 85 %
// of the limit, the sizes fall by a step just before them (the first loss of
// a dark picture, a flag's last colours): the setting before them in the
// order is tried at smaller frame sizes too, and the larger file within the
// limit is taken. Where the format can, tries estimate
// the size from a sample of the frames; a try that would end the search if it
// fits, and that the sizes tried so far put within the limit, is coded whole
// at once.
//
// The engine is the same for every format; a format comes in as the ranges of
// its knobs and a callable that encodes at given knobs. Tries may run side by
// side; the result never depends on the number of threads.

#include "core/gif/GIFExport.h"
#include "core/imaging/XDIBUnit.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace zx {

// The knobs of one try. Quality and Colours are the format's own values (a
// GIF's lossy level and bits); Step is the frame-size step, 0 for the frames
// as given.
struct TFitKnobs {
    std::int32_t Quality = 0;
    std::int32_t Colours = 0;
    std::int32_t Step = 0;

    friend bool operator==(const TFitKnobs&, const TFitKnobs&) = default;
};

// What one try gives: the size of the file, and the file itself when the try
// coded every frame. A try on a sample of the frames gives an estimate of
// the whole file's size and no file.
struct TFitTry {
    std::uint64_t Size = 0;
    std::vector<std::uint8_t> File;
};

// A format as the search sees it.
struct TFitFormat {
    // The quality knob from the setting asked for (largest files) to the one
    // that gives the smallest; every integer between is a setting.
    std::int32_t QualityFirst = 0;
    std::int32_t QualityLast = 0;
    // The same for the colours; a format without them has one setting.
    std::int32_t ColoursFirst = 0;
    std::int32_t ColoursLast = 0;
    // The frame-size steps there are, 0..Steps - 1 (at least 1).
    std::int32_t Steps = 1;
    // Encodes at the knobs, all frames or (sampled) a sample of them, on up
    // to threads threads. Called for different knobs at the same time from
    // several threads; the same knobs must always give the same result.
    std::function<TFitTry(const TFitKnobs& knobs, bool sampled, unsigned threads)> Encode;
    // Whether Encode can estimate from a sample: a sampled try costs a
    // fraction of a whole one.
    bool CanSample = false;
    // The knobs as command-line options, for the report: "--lossy 60 --bits 7".
    std::function<std::string(const TFitKnobs& knobs)> Describe;
    // The least share of the size the whole quality range and the whole
    // colour range can leave (0: no bound), measured on the format's files:
    // a setting that would stay beyond the limit even so is not tried.
    double SmallestQualityShare = 0;
    double SmallestColourShare = 0;
    // Told before each round of tries starts, with the number of its first
    // try (1 for the first), for a progress display; may be empty.
    std::function<void(std::int32_t first)> Trying;
    // How the size is expected to fall along the quality knob: the logarithm
    // of the size at a quality over the size at QualityFirst, roughly (only
    // used to choose where to try next). Without it, linear in the quality.
    std::function<double(std::int32_t quality)> Shape;
    // Whether the first quality step can take off far more than the shape
    // says on some pictures (the standard level's lossy GIF on a dark
    // picture): where the sizes fall that fast, the search looks there.
    // Formats whose first step is known to take off little say no.
    bool FirstStepMayDrop = true;
    // What sampled sizes are taken times until a setting tried both ways
    // shows how far they are off (1: the samples are taken as they come).
    double EstimateCorrection = 1.0;
};

// What the search chose and the file it wrote.
struct TFitResult {
    TFitKnobs Knobs;
    std::vector<std::uint8_t> File;
    // Tries made, sampled ones included.
    std::int32_t Encodes = 0;
    std::uint64_t Limit = 0;
    // The report line: "256K: --lossy 60 --bits 7, 251 904 bytes, 5 encodes".
    std::string Description;
};

// No setting gives a file within the limit. The message names the smallest
// size reached: "256K: the smallest file, with --lossy 200 --bits 3 --size
// 24x15, has 301 234 bytes".
class ESizeLimit : public std::runtime_error {
public:
    ESizeLimit(const std::string& message, std::uint64_t smallest)
        : std::runtime_error(message)
        , m_smallest(smallest)
    {
    }
    std::uint64_t Smallest() const { return m_smallest; }

private:
    std::uint64_t m_smallest;
};

// Searches the format's knobs for the largest file of at most limit bytes
// (limit > 0). Throws ESizeLimit when even the last knobs give a larger file;
// whatever Encode throws passes through.
TFitResult FitToSize(const TFitFormat& format, std::uint64_t limit, unsigned threads = 0);

// A byte count as the size options write it: "256K" for 262 144, "8M" for
// 8 388 608, otherwise the digits.
std::string FormatSizeLimit(std::uint64_t bytes);
// A byte count with its digits in groups of three: "251 904".
std::string GroupDigits(std::uint64_t value);

// ---------------------------------------------------------------------------
// The GIF

// The frames of one export at one size: 24-bit frames, their 8-bit masks
// (255 = background) and which frames have transparent pixels.
struct TFitFrames {
    std::vector<TDIB> Frames;
    std::vector<TDIB> Masks;
    std::array<bool, kFrameSlots> Transparent {};
};

// The frame sizes of the steps: step k is about ratio^k of the size (0.9 for
// the GIF and lossy WebP, whose other knobs fill in between; finer where the
// frame size is the only knob), the proportions kept, while both sides stay
// at least 16 pixels (a frame smaller than that has step 0 only).
std::vector<std::array<std::int32_t, 2>> FitFrameSizes(
    std::int32_t width, std::int32_t height, double ratio = 0.9);

// The frames scaled down to width x height with a box filter: an output
// pixel averages the input pixels whose centres fall inside it, its mask says
// background when at least half of those are background, and its colour
// averages only the flag's pixels when it is not background.
TFitFrames ScaleFitFrames(const TFitFrames& frames, std::int32_t width, std::int32_t height);

// Hears the number of each try as it starts (TFitFormat::Trying).
using TFitTrying = std::function<void(std::int32_t first)>;

// Makes the frames at a smaller size for the fit. Without one, the fit
// scales the frames it was given down (ScaleFitFrames).
using TFitRender = std::function<TFitFrames(std::int32_t width, std::int32_t height)>;

// Fits the GIF of the frames into size.MaxSize bytes. The knobs start from
// options.GIFBits and size.Lossy; the level options.Quality asks for stays.
// The palette of each colour depth is built once, from the frames given, and
// serves every frame size; the frames of each size are made once, and tries
// at a fraction of the frames estimate the sizes before the chosen knobs are
// coded whole. Throws ESizeLimit as
// FitToSize does, and EInvalidGraphicOperation for options out of range.
TFitResult FitGifToSize(const TFitFrames& frames, const TExportOptions& options,
    const TSizeOptions& size, const TFitRender& render = {}, unsigned threads = 0,
    const TFitTrying& trying = {});

} // namespace zx
