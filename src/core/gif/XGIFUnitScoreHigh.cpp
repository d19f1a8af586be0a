// How good a dithered frame is, as the high quality level judges its own
// choices: the squared error against the source, plain and after a slight
// blur, which is how far the eye (and the scores of bench/quality.sh) sees
// the colours off once the dither pattern melts together.

#include "core/gif/XGIFUnitDitherHigh.h"

#include <algorithm>
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
TFrameError MeasureError(const TFrameSet& set, std::size_t frame, const std::uint8_t* indices,
    const TColorPalette& palette)
{
    // The Gaussian's taps in 1/1024 (they sum to 1024), integers throughout:
    // this only compares ways of dithering with each other.
    static constexpr std::int32_t kTaps[5] = { 56, 250, 412, 250, 56 };
    const std::int32_t w = set.Width;
    const std::int32_t h = set.Height;
    const std::size_t rowValues = std::size_t(w) * 3;
    // Each row's error with two columns repeated at each end, then blurred
    // along the row.
    std::vector<std::int32_t> padded((std::size_t(w) + 4) * 3);
    std::vector<std::int32_t> across(std::size_t(h) * rowValues);
    std::vector<std::uint8_t> counted(set.Pixels(), 1);
    TRowReader24 rows(*set.Frames[frame]);
    TFrameError result;
    std::int64_t plain = 0;
    std::int64_t samples = 0;
    for (std::int32_t y = 0; y < h; ++y) {
        const std::uint8_t* bgr = rows.Row(y);
        const std::uint8_t* mask = set.Masks[frame] ? set.Masks[frame]->ConstScanLine(y) : nullptr;
        const std::uint8_t* row = indices + std::size_t(y) * std::size_t(w);
        std::int32_t* error = padded.data() + 6;
        for (std::int32_t x = 0; x < w; ++x) {
            std::int32_t* e = error + 3 * x;
            if (IsBackground(mask, x)) {
                counted[std::size_t(y) * std::size_t(w) + std::size_t(x)] = 0;
                e[0] = e[1] = e[2] = 0;
                continue;
            }
            const TPaletteEntry& entry = palette[row[x]];
            e[0] = entry.Red - bgr[3 * x + 2];
            e[1] = entry.Green - bgr[3 * x + 1];
            e[2] = entry.Blue - bgr[3 * x];
            plain += e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
            samples += 3;
        }
        for (int c = 0; c < 3; ++c) {
            padded[std::size_t(c)] = padded[std::size_t(3 + c)] = error[c];
            error[rowValues + std::size_t(c)] = error[rowValues + 3 + std::size_t(c)]
                = error[rowValues - 3 + std::size_t(c)];
        }
        std::int32_t* out = across.data() + std::size_t(y) * rowValues;
        for (std::size_t i = 0; i < rowValues; ++i) {
            const std::int32_t* at = padded.data() + i;
            out[i] = kTaps[0] * at[0] + kTaps[1] * at[3] + kTaps[2] * at[6] + kTaps[3] * at[9]
                + kTaps[4] * at[12];
        }
    }
    std::int64_t blurred = 0;
    for (std::int32_t y = 0; y < h; ++y) {
        const std::int32_t* r[5];
        for (int t = 0; t < 5; ++t)
            r[t] = across.data() + std::size_t(std::clamp(y + t - 2, 0, h - 1)) * rowValues;
        const std::uint8_t* rowCounted = counted.data() + std::size_t(y) * std::size_t(w);
        for (std::int32_t x = 0; x < w; ++x) {
            if (!rowCounted[x])
                continue;
            for (std::size_t i = std::size_t(x) * 3; i < std::size_t(x) * 3 + 3; ++i) {
                const std::int64_t sum = std::int64_t(kTaps[0]) * r[0][i]
                    + std::int64_t(kTaps[1]) * r[1][i] + std::int64_t(kTaps[2]) * r[2][i]
                    + std::int64_t(kTaps[3]) * r[3][i] + std::int64_t(kTaps[4]) * r[4][i];
                // In 1/2^20 steps; squared below with the fraction reduced
                // to 1/2^10 so that the sum stays well inside 64 bits.
                const std::int64_t rounded = (sum + 512) >> 10;
                blurred += rounded * rounded;
            }
        }
    }
    result.Plain = double(plain);
    result.Blurred = double(blurred) / double(1 << 20);
    result.Samples = double(samples);
    return result;
}

namespace {

    double Decibels(double squares, double samples)
    {
        return 10.0 * std::log10(255.0 * 255.0 * samples / std::max(squares, 1e-9));
    }

} // namespace

double Score(std::span<const TFrameError> errors)
{
    TFrameError total;
    for (const TFrameError& e : errors) {
        total.Plain += e.Plain;
        total.Blurred += e.Blurred;
        total.Samples += e.Samples;
    }
    return Decibels(total.Plain, total.Samples) + Decibels(total.Blurred, total.Samples);
}

} // namespace zx::highq
