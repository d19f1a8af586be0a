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
    static constexpr double kTaps[5] = { 0.05448868454964294, 0.24420134200323332,
        0.40261994689424746, 0.24420134200323332, 0.05448868454964294 };
    const std::int32_t w = set.Width;
    const std::int32_t h = set.Height;
    std::vector<float> error(set.Pixels() * 3);
    std::vector<std::uint8_t> counted(set.Pixels(), 1);
    TRowReader24 rows(*set.Frames[frame]);
    TFrameError result;
    for (std::int32_t y = 0; y < h; ++y) {
        const std::uint8_t* bgr = rows.Row(y);
        const std::uint8_t* mask = set.Masks[frame] ? set.Masks[frame]->ConstScanLine(y) : nullptr;
        for (std::int32_t x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(w) + std::size_t(x);
            if (IsBackground(mask, x)) {
                counted[i] = 0;
                continue;
            }
            const TPaletteEntry& e = palette[indices[i]];
            const float d[3] = { float(e.Red - bgr[3 * x + 2]), float(e.Green - bgr[3 * x + 1]),
                float(e.Blue - bgr[3 * x]) };
            for (int c = 0; c < 3; ++c) {
                error[i * 3 + std::size_t(c)] = d[c];
                result.Plain += double(d[c]) * d[c];
            }
            result.Samples += 3;
        }
    }
    std::vector<float> across(error.size());
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int t = -2; t <= 2; ++t) {
                    const std::int32_t sx = std::clamp(x + t, 0, w - 1);
                    sum += kTaps[t + 2]
                        * error[(std::size_t(y) * std::size_t(w) + std::size_t(sx)) * 3
                            + std::size_t(c)];
                }
                across[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3 + std::size_t(c)]
                    = float(sum);
            }
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(w) + std::size_t(x);
            if (!counted[i])
                continue;
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int t = -2; t <= 2; ++t) {
                    const std::int32_t sy = std::clamp(y + t, 0, h - 1);
                    sum += kTaps[t + 2]
                        * across[(std::size_t(sy) * std::size_t(w) + std::size_t(x)) * 3
                            + std::size_t(c)];
                }
                result.Blurred += sum * sum;
            }
        }
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
