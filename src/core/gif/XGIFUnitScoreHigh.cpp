// How good a dithered frame is, as the high quality level judges its own
// choices: the squared error against the source, plain and after a slight
// blur, which is how far the eye (and the scores of bench/quality.sh) sees
// the colours off once the dither pattern melts together.

#include "core/Cancel.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitDitherHigh.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace zx::highq {

std::vector<std::size_t> SampleFrames(const TFrameSet& set)
{
    const std::size_t frameCount = set.Frames.size();
    const std::size_t count = std::min(frameCount, kSampleFrames);
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < count; ++i)
        chosen.push_back(i * frameCount / count);
    return chosen;
}

std::vector<std::uint16_t> SelfPlan(const TFrameSet& set, std::size_t frame)
{
    std::vector<std::uint16_t> plan(set.Pixels(), 0);
    const TDIB* mask = set.Masks[frame];
    if (!mask)
        return plan;
    for (std::int32_t y = 0; y < set.Height; ++y) {
        const std::uint8_t* row = mask->ConstScanLine(y);
        for (std::int32_t x = 0; x < set.Width; ++x)
            if (IsBackground(row, x))
                plan[std::size_t(y) * std::size_t(set.Width) + std::size_t(x)] = kBackground;
    }
    return plan;
}

// The squared error of a dithered frame against its source, plain and
// after the blur the quality is judged by (a Gaussian of sigma 1 over 5 x 5,
// edges repeated): blurring is linear, so the blurred error is the blur of
// the error. Background pixels count as exact.
//
// The blur is separable: each row's error is blurred along the row into a
// ring of the last five rows, and each row of the result is the blur across
// those. All of it is exact in 32 bits (an error is at most 255, a tap sum
// 1024 along each axis), so the loops over a row's values vectorise; only
// the squares of the blurred error need 64 bits.
TFrameError MeasureError(const TFrameSet& set, std::size_t frame, const std::uint8_t* indices,
    const TColorPalette& palette)
{
    // The Gaussian's taps in 1/1024 (they sum to 1024), integers throughout:
    // this only compares ways of dithering with each other. Symmetric: the
    // outer pair, the inner pair and the centre.
    constexpr std::int32_t kOuter = 56;
    constexpr std::int32_t kInner = 250;
    constexpr std::int32_t kCentre = 412;
    constexpr std::int32_t kRing = 5;
    const std::int32_t w = set.Width;
    const std::int32_t h = set.Height;
    const std::size_t rowValues = std::size_t(w) * 3;
    const TDIB* mask = set.Masks[frame];
    // One row's error with two columns repeated at each end.
    std::vector<std::int32_t> padded((std::size_t(w) + 4) * 3);
    // Row y blurred along the row, at y % kRing.
    std::vector<std::int32_t> across(std::size_t(kRing) * rowValues);
    // Per value of the row being summed: all ones where the pixel counts.
    std::vector<std::uint32_t> counted(rowValues, ~0u);
    TRowReader24 rows(*set.Frames[frame]);
    std::int64_t plain = 0;
    std::int64_t samples = 0;
    std::uint64_t blurred = 0;

    auto blurAlong = [&](std::int32_t y) {
        const std::uint8_t* bgr = rows.Row(y);
        const std::uint8_t* maskRow = mask ? mask->ConstScanLine(y) : nullptr;
        const std::uint8_t* row = indices + std::size_t(y) * std::size_t(w);
        std::int32_t* error = padded.data() + 6;
        std::int64_t rowPlain = 0;
        std::int32_t rowCounted = 0;
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int32_t keep = IsBackground(maskRow, x) ? 0 : 1;
            const TPaletteEntry& entry = palette[row[x]];
            std::int32_t* e = error + 3 * x;
            e[0] = (entry.Red - bgr[3 * x + 2]) * keep;
            e[1] = (entry.Green - bgr[3 * x + 1]) * keep;
            e[2] = (entry.Blue - bgr[3 * x]) * keep;
            rowPlain += e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
            rowCounted += keep;
        }
        plain += rowPlain;
        samples += 3 * std::int64_t(rowCounted);
        for (int c = 0; c < 3; ++c) {
            padded[std::size_t(c)] = padded[std::size_t(3 + c)] = error[c];
            error[rowValues + std::size_t(c)] = error[rowValues + 3 + std::size_t(c)]
                = error[rowValues - 3 + std::size_t(c)];
        }
        const std::int32_t* at = padded.data();
        std::int32_t* out = across.data() + std::size_t(y % kRing) * rowValues;
        for (std::size_t i = 0; i < rowValues; ++i)
            out[i] = kOuter * (at[i] + at[i + 12]) + kInner * (at[i + 3] + at[i + 9])
                + kCentre * at[i + 6];
    };

    auto blurAcross = [&](std::int32_t y) {
        const std::int32_t* r[5];
        for (int t = 0; t < 5; ++t)
            r[t] = across.data() + std::size_t(std::clamp(y + t - 2, 0, h - 1) % kRing) * rowValues;
        if (mask) {
            const std::uint8_t* maskRow = mask->ConstScanLine(y);
            for (std::int32_t x = 0; x < w; ++x) {
                const std::uint32_t keep = IsBackground(maskRow, x) ? 0u : ~0u;
                counted[3 * std::size_t(x)] = counted[3 * std::size_t(x) + 1]
                    = counted[3 * std::size_t(x) + 2] = keep;
            }
        }
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < rowValues; ++i) {
            const std::int32_t v
                = kOuter * (r[0][i] + r[4][i]) + kInner * (r[1][i] + r[3][i]) + kCentre * r[2][i];
            // In 1/2^20 steps; squared with the fraction reduced to 1/2^10
            // so that the sum stays well inside 64 bits.
            const std::int32_t rounded = (v + 512) >> 10;
            const std::uint32_t a
                = static_cast<std::uint32_t>(rounded < 0 ? -rounded : rounded) & counted[i];
            sum += std::uint64_t(a) * a;
        }
        blurred += sum;
    };

    // Row y's blur across needs the rows up to y + 2 blurred along.
    for (std::int32_t y = 0; y < h + 2; ++y) {
        ThrowIfCancelled();
        if (y < h)
            blurAlong(y);
        if (y >= 2)
            blurAcross(y - 2);
    }
    TFrameError result;
    result.Plain = double(plain);
    result.Blurred = double(blurred) / double(1 << 20);
    result.Samples = double(samples);
    return result;
}

std::vector<TFrameError> DitherAndMeasure(const TFrameSet& set, std::size_t jobs, std::size_t tasks,
    unsigned threads,
    const std::function<void(std::size_t task, std::size_t job, std::uint8_t* indices)>& dither,
    const std::function<std::size_t(std::size_t job)>& frameOf,
    const std::function<const TColorPalette&(std::size_t job)>& paletteOf)
{
    std::vector<std::vector<std::uint8_t>> indices(jobs);
    std::vector<TFrameError> errors(jobs);
    // Set once a job's frame is dithered, or once its dithering has failed:
    // a measure never waits for a dither that will not come. The dithers
    // are handed out before any measure, each to a task that runs it at
    // once, so a measure waits for work in hand.
    std::vector<std::atomic<bool>> ready(jobs);
    std::atomic<bool> failed { false };
    std::atomic<std::size_t> next { 0 };
    ParallelFor(tasks, threads, [&](std::size_t task) {
        for (;;) {
            const std::size_t step = next.fetch_add(1, std::memory_order_relaxed);
            if (step >= 2 * jobs || failed.load(std::memory_order_relaxed))
                return;
            if (step < jobs) {
                struct TReady {
                    std::atomic<bool>& Flag;
                    ~TReady()
                    {
                        Flag.store(true, std::memory_order_release);
                        Flag.notify_all();
                    }
                } done { ready[step] };
                try {
                    indices[step].resize(set.Pixels());
                    dither(task, step, indices[step].data());
                } catch (...) {
                    failed = true;
                    throw;
                }
                continue;
            }
            const std::size_t job = step - jobs;
            ready[job].wait(false, std::memory_order_acquire);
            if (failed.load(std::memory_order_relaxed))
                return;
            errors[job] = MeasureError(set, frameOf(job), indices[job].data(), paletteOf(job));
            indices[job] = {};
        }
    });
    return errors;
}

namespace {

    double Decibels(double squares, double samples)
    {
        return 10.0 * std::log10(255.0 * 255.0 * samples / std::max(squares, 1e-9));
    }

} // namespace

double Score(std::span<const TFrameError> errors, std::size_t entries)
{
    constexpr std::size_t kFewEntries = 16;
    return WeightedScore(errors, entries > kFewEntries ? 1.25 : 1.0);
}

double WeightedScore(std::span<const TFrameError> errors, double plainWeight)
{
    TFrameError total;
    for (const TFrameError& e : errors) {
        total.Plain += e.Plain;
        total.Blurred += e.Blurred;
        total.Samples += e.Samples;
    }
    return plainWeight * Decibels(total.Plain, total.Samples)
        + Decibels(total.Blurred, total.Samples);
}

double StrictScore(std::span<const TFrameError> errors)
{
    return WeightedScore(errors, 2.0);
}

} // namespace zx::highq
