#pragma once

// What the high quality palette and reduction share: the checked frames, the
// per-pixel plan of which pixels a frame dithers itself, and the ditherer.

#include "core/gif/XGIFUnitQuantizeHigh.h"
#include "core/gif/XGIFUnitReadRGB.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace zx::highq {

// The frames of one animation, checked: one size, masks where they are read.
struct TFrameSet {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<const TDIB*> Frames;
    // The mask of each frame whose background pixels are left out, else null.
    std::vector<const TDIB*> Masks;

    std::size_t Pixels() const { return std::size_t(Width) * std::size_t(Height); }
};

// See CreateHighQualityPalette for the rules and the errors.
TFrameSet CheckFrames(
    std::span<const TDIB> frames, std::span<const TDIB> masks, std::span<const bool> transparent);

// A background pixel of a frame with transparency: mask byte 255, the value
// the renderer writes where the flag does not reach.
inline bool IsBackground(const std::uint8_t* maskRow, std::int32_t x)
{
    return maskRow && maskRow[x] == 255;
}

// How many of count tasks run side by side on the given number of threads
// (0: one per processor).
std::size_t TaskCount(unsigned threads, std::size_t count);

// Per entry, the number of pixels mapped to it and the sums of their values
// (colour plus diffused error, clamped) in 1/256 steps.
struct TEntrySums {
    std::vector<std::int64_t> Count = std::vector<std::int64_t>(256);
    std::vector<std::int64_t> Sum = std::vector<std::int64_t>(256 * 3);

    void Add(const TEntrySums& other);
};

// The frames the palette is tuned on and the dithering is chosen on: a few,
// spread over the animation.
inline constexpr std::size_t kSampleFrames = 3;
std::vector<std::size_t> SampleFrames(const TFrameSet& set);

// The plan of a frame that dithers all its visible pixels itself (self 0).
std::vector<std::uint16_t> SelfPlan(const TFrameSet& set, std::size_t frame);

// The squared error of a dithered frame (indices, one byte a pixel, rows of
// the frame's width) against its source, summed over red, green and blue:
// plain, and after a Gaussian blur of sigma 1 over 5 x 5 pixels (edges
// repeated). Blurring is linear, so the blurred error is the blur of the
// error. Background pixels count as exact and are not counted.
struct TFrameError {
    double Plain = 0;
    double Blurred = 0;
    double Samples = 0;
};
TFrameError MeasureError(const TFrameSet& set, std::size_t frame, const std::uint8_t* indices,
    const TColorPalette& palette);

// Dithers and measures frames side by side: dither(task, job, indices)
// writes the indices of job 0 .. jobs - 1 (a frame of the set, one byte a
// pixel), and each is then measured (MeasureError) against frame frameOf(job)
// with palette paletteOf(job). The measures may run on other threads than
// the dithering, as soon as their frame is dithered, so that a few frames
// keep every thread busy; each of tasks threads at most runs dither with its
// own task number, so what a task keeps between its jobs needs no lock. The
// results are in job order and do not depend on the threads.
std::vector<TFrameError> DitherAndMeasure(const TFrameSet& set, std::size_t jobs, std::size_t tasks,
    unsigned threads,
    const std::function<void(std::size_t task, std::size_t job, std::uint8_t* indices)>& dither,
    const std::function<std::size_t(std::size_t job)>& frameOf,
    const std::function<const TColorPalette&(std::size_t job)>& paletteOf);

// How good frames dithered to a palette of the given number of entries are,
// higher is better: the PSNR plus the blurred PSNR, in dB, over all of them.
// Above 16 entries the PSNR counts 1.25 times: there the blurred figure is
// well ahead of other encoders' on every set of bench/quality.sh and the
// plain one close, and the choices tilt that way (photo-cat at 64 colours
// +0.45 dB PSNR, -0.54 blurred; no set fell behind another encoder).
double Score(std::span<const TFrameError> errors, std::size_t entries);
// The same with the PSNR counted plainWeight times.
double WeightedScore(std::span<const TFrameError> errors, double plainWeight);
// The score of a change that trades PSNR for blurred PSNR, which is taken
// only where the one gains at least twice what the other loses: the PSNR
// counts twice.
double StrictScore(std::span<const TFrameError> errors);

// Marks the pixel a frame does not dither: the background, or a pixel it
// takes from an earlier frame (then the plan holds that frame's number).
inline constexpr std::uint16_t kBackground = 0xFFFF;

// The palette's colours, looked up by colour: which entry has exactly a
// colour. Where entries share a colour the lowest index wins, as in the
// nearest-colour search.
class TExactColours {
public:
    explicit TExactColours(const TNearestColor& search);

    // The entry whose colour is exactly the given one (0xRRGGBB), or -1.
    std::int32_t Find(std::uint32_t colour) const
    {
        std::uint32_t at = (colour * 0x9E3779B1u) >> (32 - kBits);
        for (;;) {
            const std::uint32_t slot = m_slots[at];
            if (slot == kFree)
                return -1;
            if ((slot >> 8) == colour)
                return std::int32_t(slot & 0xFFu);
            at = (at + 1) & ((1u << kBits) - 1);
        }
    }

private:
    // Open addressing, each slot the colour above the index's 8 bits; all
    // ones is a free slot.
    static constexpr std::uint32_t kBits = 10;
    static constexpr std::uint32_t kFree = 0xFFFFFFFFu;
    std::vector<std::uint32_t> m_slots;
};

// Floyd-Steinberg error diffusion (7 / 3 5 1, out of 16) in the order the GIF
// stores the pixels, rows from the top, each from the left. Values carry 8
// fractional bits. A pixel's error is the difference between its value,
// clamped to 0..255, and the entry it gets, less a dead zone of one step:
// the last step is not worth the noise that diffusing it makes. Error pushed
// past the edges is dropped.
//
// A pixel whose colour is exactly an entry takes it and passes no error on.
class TFloydSteinberg {
public:
    // The search must outlive the ditherer.
    TFloydSteinberg(std::int32_t width, TNearestColor& search);

    // How much of each pixel's error is passed on, in 1/256 (256: all of it),
    // and below which error (in 1/256 steps) nothing is: by default all of
    // it, beyond one step.
    void SetStrength(std::int32_t strength, std::int32_t deadZone)
    {
        m_strength = strength;
        m_deadZone = deadZone;
    }

    // Dithers one frame. plan[y * width + x] says who owns each pixel: the
    // frame dithers the pixels whose plan entry is self and writes 0 for the
    // others, and error reaching those is dropped. out is the top row of the
    // result and outStep the distance between rows. With sums, the value and
    // entry of every dithered pixel are added there.
    void DitherFrame(TRowReader24& rows, std::int32_t height, std::span<const std::uint16_t> plan,
        std::uint16_t self, std::uint8_t* out, std::ptrdiff_t outStep, TEntrySums* sums);

private:
    template <bool WithSums>
    void DitherRow(const std::uint8_t* bgr, const std::uint16_t* plan, std::uint16_t self,
        std::uint8_t* out, TEntrySums* sums);
    TExactColours m_exact;

    std::int32_t m_strength = 256;
    std::int32_t m_deadZone = 256;
    std::int32_t m_width;
    TNearestColor& m_search;
    // The entries' colours in 1/256 steps, for the error.
    std::vector<std::int32_t> m_entries;
    // Two error rows (this one and the next) of width + 2 cells, a guard cell
    // at each end; three components per cell, red first.
    std::vector<std::int32_t> m_rows;
    std::int32_t* m_cur = nullptr;
    std::int32_t* m_next = nullptr;
};

// For every frame and pixel, the first frame that has the pixel's colour
// there (the frame itself where none before it has), or kBackground.
std::vector<std::uint16_t> MakePlan(const TFrameSet& set, unsigned threads);

// How much of the error the dithering passes on: all of it, or a little
// less, which makes less noise and keeps the colours a little less true on
// average. A few frames are dithered each way and the one that scores best
// (plain and blurred) is taken. Returns the strength and the dead zone for
// TFloydSteinberg::SetStrength.
std::pair<std::int32_t, std::int32_t> ChooseStrength(
    const TFrameSet& set, const TColorPalette& palette, unsigned threads);

} // namespace zx::highq
