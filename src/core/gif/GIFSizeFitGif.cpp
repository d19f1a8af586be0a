// The size fit for the GIF: its knobs, the frames at each size, and the
// tries that reuse the palettes and frames made for earlier ones.

#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/flag/FlagParameters.h"
#include "core/gif/GIFSizeFit.h"
#include "core/gif/SizeFitOnce.h"
#include "core/gif/XGIFUnitLossy.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>
#include <tuple>

namespace zx {

std::vector<std::array<std::int32_t, 2>> FitFrameSizes(
    std::int32_t width, std::int32_t height, double ratio)
{
    std::vector<std::array<std::int32_t, 2>> sizes { { width, height } };
    constexpr std::int32_t kSmallest = 16;
    if (!(ratio > 0.5 && ratio < 1))
        throw EInvalidGraphicOperation("the frame-size steps must shrink the frame");
    for (double scale = ratio;; scale *= ratio) {
        const auto w = static_cast<std::int32_t>(std::lround(width * scale));
        const auto h = static_cast<std::int32_t>(std::lround(height * scale));
        if (w < kSmallest || h < kSmallest)
            break;
        if (w != sizes.back()[0] || h != sizes.back()[1])
            sizes.push_back({ w, h });
    }
    return sizes;
}

TFitFrames ScaleFitFrames(const TFitFrames& frames, std::int32_t width, std::int32_t height)
{
    const std::size_t count = frames.Frames.size();
    for (const TDIB& source : frames.Frames)
        if (width > source.Width() || height > source.Height() || width <= 0 || height <= 0)
            throw EInvalidGraphicOperation("frames can only be scaled down");
    TFitFrames scaled;
    scaled.Transparent = frames.Transparent;
    scaled.Frames.resize(count);
    scaled.Masks.resize(count);
    // Each frame is scaled on its own, side by side.
    ParallelFor(count, 0, [&](std::size_t i) {
        const TDIB& source = frames.Frames[i];
        const std::int32_t sourceWidth = source.Width();
        const std::int32_t sourceHeight = source.Height();
        const TDIB* mask = i < frames.Masks.size() && !frames.Masks[i].Empty()
                && frames.Masks[i].Width() == sourceWidth
                && frames.Masks[i].Height() == sourceHeight
            ? &frames.Masks[i]
            : nullptr;
        const bool transparent = mask && frames.Transparent[i];
        TDIB& out = scaled.Frames[i];
        out.SetSize(width, height, 24);
        TDIB& outMask = scaled.Masks[i];
        if (mask)
            outMask.SetSize(width, height, 8);
        // The input pixels whose centres lie in output column x, from
        // columns[x] to columns[x + 1], and the same per row below: at least
        // one, since the frame shrinks.
        std::vector<std::int32_t> columns(std::size_t(width) + 1);
        for (std::int32_t x = 0; x <= width; ++x)
            columns[std::size_t(x)] = std::int32_t(std::int64_t(x) * sourceWidth / width);
        bool anyBackground = false;
        for (std::int32_t y = 0; y < height; ++y) {
            const std::int32_t y0 = std::int32_t(std::int64_t(y) * sourceHeight / height);
            const std::int32_t y1 = std::int32_t(std::int64_t(y + 1) * sourceHeight / height);
            std::uint8_t* row = out.ScanLine(y);
            std::uint8_t* maskRow = mask ? outMask.ScanLine(y) : nullptr;
            for (std::int32_t x = 0; x < width; ++x) {
                const std::int32_t x0 = columns[std::size_t(x)];
                const std::int32_t x1 = columns[std::size_t(x) + 1];
                std::uint32_t all[3] = { 0, 0, 0 };
                std::uint32_t flag[3] = { 0, 0, 0 };
                std::uint32_t boxCount = 0, background = 0;
                for (std::int32_t sy = y0; sy < y1; ++sy) {
                    const std::uint8_t* in = source.ConstScanLine(sy);
                    const std::uint8_t* inMask = mask ? mask->ConstScanLine(sy) : nullptr;
                    for (std::int32_t sx = x0; sx < x1; ++sx) {
                        const bool isBackground = inMask && inMask[sx] == 255;
                        for (int c = 0; c < 3; ++c) {
                            all[c] += in[3 * sx + c];
                            if (!isBackground)
                                flag[c] += in[3 * sx + c];
                        }
                        ++boxCount;
                        background += isBackground;
                    }
                }
                const bool isBackground = 2 * background >= boxCount && background > 0;
                const std::uint32_t* sum = isBackground || background == boxCount ? all : flag;
                const std::uint32_t n = sum == all ? boxCount : boxCount - background;
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
                if (maskRow)
                    maskRow[x] = isBackground ? 255 : 0;
                anyBackground = anyBackground || isBackground;
            }
        }
        scaled.Transparent[i] = transparent && anyBackground;
    });
    return scaled;
}

namespace {

    // How much a lossy level shrinks a GIF, the logarithm of the size over
    // the lossless size: the median over the pictures of bench/quality at
    // 256 colours, at each level. The search only takes its shape to aim
    // its tries. The high level's reduction searches the
    // palette much as the lossy coder does, so its first levels take almost
    // nothing off, and its later ones more.
    struct TShapePoint {
        double Level;
        double LogRatio;
    };
    constexpr TShapePoint kStandardShape[]
        = { { 0, 0 }, { 1, -0.155 }, { 5, -0.157 }, { 10, -0.17 }, { 20, -0.228 }, { 40, -0.375 },
              { 80, -0.644 }, { 120, -0.845 }, { 160, -0.945 }, { 200, -1.016 } };
    constexpr TShapePoint kHighShape[] = { { 0, 0 }, { 5, -0.006 }, { 10, -0.037 }, { 20, -0.25 },
        { 40, -0.58 }, { 80, -0.90 }, { 120, -1.12 }, { 160, -1.25 }, { 200, -1.36 } };
    double LossyShape(std::int32_t level, std::span<const TShapePoint> shape)
    {
        const double l = std::clamp(double(level), 0.0, 200.0);
        for (std::size_t i = 1; i < shape.size(); ++i) {
            if (l <= shape[i].Level) {
                const double t = (l - shape[i - 1].Level) / (shape[i].Level - shape[i - 1].Level);
                return shape[i - 1].LogRatio + t * (shape[i].LogRatio - shape[i - 1].LogRatio);
            }
        }
        return shape.back().LogRatio;
    }

    // A sampled try codes this many frames (how they are chosen: TGifFit).
    // Frames reduced on their own vary little in size over the loop: four
    // spread over 40 frames put the file within 1.5 % of its size in nine
    // tries of ten, and cost half what eight did. The high level's run of
    // neighbours is off by more (its frames grow along the loop, which no
    // run that starts afresh sees; see EstimateCorrection), a little more
    // with four than with eight (4.7 % against 3.7 % on average), yet its
    // search spends fewer tries with four.
    constexpr std::size_t kSampleFrames = 4;
    constexpr std::size_t kSampleRun = 4;
    // The high level's sample runs this many frames more, left uncounted.
    constexpr std::size_t kWarmUp = 4;

    class TGifFit {
    public:
        TGifFit(const TFitFrames& frames, const TExportOptions& options, const TFitRender& render)
            : m_frames(frames)
            , m_options(options)
            , m_render(render)
            , m_sizes(FitFrameSizes(frames.Frames.front().Width(), frames.Frames.front().Height()))
        {
            // Frames reduced on their own are sampled spread over the loop.
            // The high level's frames take pixels from the frames before, so
            // its sample is a run of neighbours from the middle of the loop,
            // which follow each other as closely as all frames do, led by a
            // few frames that only warm it up (see Encode).
            const std::size_t n = frames.Frames.size();
            const std::size_t m
                = std::min(n, FramesAreIndependent() ? kSampleFrames : kSampleRun + kWarmUp);
            for (std::size_t k = 0; k < m; ++k)
                m_sample.push_back(
                    FramesAreIndependent() ? (2 * k + 1) * n / (2 * m) : (n - m) / 2 + k);
        }

        std::int32_t Steps() const { return std::int32_t(m_sizes.size()); }
        bool CanSample() const { return m_sample.size() < m_frames.Frames.size(); }

        std::string Describe(const TFitKnobs& knobs) const
        {
            std::string text = "--lossy " + std::to_string(knobs.Quality);
            if (knobs.Colours != m_options.GIFBits)
                text += " --bits " + std::to_string(knobs.Colours);
            if (knobs.Step > 0) {
                const auto& size = m_sizes[std::size_t(knobs.Step)];
                text += " --size " + std::to_string(size[0]) + "x" + std::to_string(size[1]);
            }
            return text;
        }

        TFitTry Encode(const TFitKnobs& knobs, bool sampled, unsigned threads)
        {
            const TFitFrames& frames = FramesAt(knobs.Step);
            TExportOptions options = m_options;
            options.GIFBits = knobs.Colours;
            const TExportPalette& palette = Palette(knobs.Colours, threads);

            if (!sampled) {
                TGIFImage gif;
                AddExportFrames(gif, ReduceAll(knobs, frames, options, palette, threads),
                    Transparent(frames), options, palette);
                TFitTry result;
                result.File = gif.SaveToBytes(threads);
                result.Size = result.File.size();
                return result;
            }

            // The sample as an animation of its own, with the palette of the
            // whole one; its frames' part of the file stands for all frames.
            TFitFrames sample = Pick(frames, m_sample);
            options.Frames = std::int32_t(m_sample.size());
            const std::span<const bool> transparent(sample.Transparent.data(), m_sample.size());
            std::vector<TDIB> reduced = ReduceExportFrames(
                sample.Frames, sample.Masks, transparent, options, palette, knobs.Quality, threads);
            if (FramesAreIndependent()) {
                // The whole try that follows is at the knobs of the last
                // sampled try or the one before; older ones are let go, as
                // big frames weigh (4 frames of 1920 x 1200 are 9 MB).
                constexpr std::size_t kKept = 2;
                const std::lock_guard<std::mutex> lock(m_reducedMutex);
                if (m_reducedSamples.size() >= kKept)
                    m_reducedSamples.pop_front();
                m_reducedSamples.emplace_back(Key(knobs), reduced);
            }
            TGIFImage gif;
            AddExportFrames(gif, std::move(reduced), transparent, options, palette);
            const std::vector<std::uint8_t> bytes = gif.SaveToBytes(threads);
            const std::uint64_t fixed = FixedBytes(bytes);
            const double all = double(m_frames.Frames.size());
            TFitTry result;
            if (FramesAreIndependent()) {
                const double perFrame = double(bytes.size() - fixed) / double(m_sample.size());
                result.Size = fixed + static_cast<std::uint64_t>(std::llround(perFrame * all));
                return result;
            }
            // The high level's frames grow along the loop, as each takes its
            // still pixels, and their loss, from the frames before: a run
            // that starts afresh codes its first frames smaller than the
            // file does (text-plain: 9 % on 8 frames). The frames after the
            // warm-up stand for all.
            const std::vector<std::uint64_t> parts = FrameParts(bytes);
            std::uint64_t owned = 0;
            for (const std::uint64_t part : parts)
                owned += part;
            const std::size_t skip = parts.size() > kWarmUp ? kWarmUp : 0;
            double counted = 0;
            for (std::size_t k = skip; k < parts.size(); ++k)
                counted += double(parts[k]);
            const double perFrame = counted / double(parts.size() - skip);
            result.Size
                = bytes.size() - owned + static_cast<std::uint64_t>(std::llround(perFrame * all));
            return result;
        }

    private:
        using TKey = std::tuple<std::int32_t, std::int32_t, std::int32_t>;

        // Every frame size takes the palette of the frames as given: the
        // smaller frames only blend their colours, and the octree, fed the
        // many blends, can lose most of a small palette (a flag at 3 bits
        // came out in one colour). The standard level's octree takes the
        // pixels one by one on one thread; once the search turns the colours,
        // a second thread makes the palette of the depth it is likely to try
        // next while the first runs (one more bit, else one fewer): it goes
        // through neighbouring depths.
        const TExportPalette& Palette(std::int32_t bits, unsigned threads)
        {
            auto make = [&](std::int32_t b) -> const TExportPalette& {
                return m_palettes.Get(b, [&] {
                    TExportOptions options = m_options;
                    options.GIFBits = b;
                    return BuildExportPalette(
                        m_frames.Frames, m_frames.Masks, Transparent(m_frames), options);
                });
            };
            if (threads < 2 || !FramesAreIndependent() || bits == m_options.GIFBits
                || m_palettes.Asked(bits))
                return make(bits);
            std::int32_t ahead = 0;
            for (const std::int32_t b : { bits + 1, bits - 1 }) {
                if (b >= kGIFBitsRange.Min && b <= m_options.GIFBits && !m_palettes.Asked(b)) {
                    ahead = b;
                    break;
                }
            }
            if (ahead == 0)
                return make(bits);
            ParallelFor(2, 2, [&](std::size_t i) { make(i == 0 ? bits : ahead); });
            return make(bits);
        }
        static TKey Key(const TFitKnobs& knobs)
        {
            return { knobs.Step, knobs.Colours, knobs.Quality };
        }

        std::span<const bool> Transparent(const TFitFrames& frames) const
        {
            return { frames.Transparent.data(), frames.Frames.size() };
        }

        // At the standard level each frame is reduced on its own, so the
        // frames a sampled try reduced are those of the whole file at the
        // same knobs; the high level's frames take pixels from earlier ones.
        bool FramesAreIndependent() const { return m_options.Quality == TExportQuality::Standard; }

        static TFitFrames Pick(const TFitFrames& frames, const std::vector<std::size_t>& which)
        {
            TFitFrames picked;
            for (std::size_t k = 0; k < which.size(); ++k) {
                const std::size_t i = which[k];
                picked.Frames.push_back(frames.Frames[i]);
                picked.Masks.push_back(i < frames.Masks.size() ? frames.Masks[i] : TDIB());
                picked.Transparent[k] = frames.Transparent[i];
            }
            return picked;
        }

        // Every frame reduced at the knobs; those a sampled try at the same
        // knobs reduced already are taken from it.
        std::vector<TDIB> ReduceAll(const TFitKnobs& knobs, const TFitFrames& frames,
            const TExportOptions& options, const TExportPalette& palette, unsigned threads)
        {
            std::vector<TDIB> sampleReduced;
            {
                const std::lock_guard<std::mutex> lock(m_reducedMutex);
                for (auto it = m_reducedSamples.begin(); it != m_reducedSamples.end(); ++it) {
                    if (it->first == Key(knobs)) {
                        sampleReduced = std::move(it->second);
                        m_reducedSamples.erase(it);
                        break;
                    }
                }
            }
            if (sampleReduced.size() != m_sample.size())
                return ReduceExportFrames(frames.Frames, frames.Masks, Transparent(frames), options,
                    palette, knobs.Quality, threads);

            std::vector<std::size_t> rest;
            for (std::size_t i = 0, k = 0; i < frames.Frames.size(); ++i) {
                if (k < m_sample.size() && m_sample[k] == i)
                    ++k;
                else
                    rest.push_back(i);
            }
            const TFitFrames others = Pick(frames, rest);
            TExportOptions restOptions = options;
            restOptions.Frames = std::int32_t(rest.size());
            std::vector<TDIB> othersReduced = ReduceExportFrames(others.Frames, others.Masks,
                { others.Transparent.data(), rest.size() }, restOptions, palette, knobs.Quality,
                threads);
            std::vector<TDIB> reduced(frames.Frames.size());
            for (std::size_t k = 0; k < m_sample.size(); ++k)
                reduced[m_sample[k]] = std::move(sampleReduced[k]);
            for (std::size_t k = 0; k < rest.size(); ++k)
                reduced[rest[k]] = std::move(othersReduced[k]);
            return reduced;
        }

        const TFitFrames& FramesAt(std::int32_t step)
        {
            if (step == 0)
                return m_frames;
            return m_scaled.Get(step, [&] {
                const auto& size = m_sizes[std::size_t(step)];
                TFitFrames made = m_render ? m_render(size[0], size[1])
                                           : ScaleFitFrames(m_frames, size[0], size[1]);
                if (made.Frames.size() != m_frames.Frames.size())
                    throw EInvalidGraphicOperation("the frames made for the size fit are "
                                                   "not as many as the animation's");
                return made;
            });
        }

        // The bytes each frame of a file of ours owns, in file order: its
        // extensions, its image descriptor, any local colour table and its
        // image data (the loop extension goes with the first frame).
        static std::vector<std::uint64_t> FrameParts(const std::vector<std::uint8_t>& bytes)
        {
            std::vector<std::uint64_t> parts;
            std::size_t at = 13;
            if (bytes.size() > 10 && (bytes[10] & 0x80))
                at += 3u << ((bytes[10] & 7) + 1);
            std::size_t start = at;
            auto skipBlocks = [&] {
                while (at < bytes.size() && bytes[at] != 0)
                    at += std::size_t(bytes[at]) + 1;
                ++at;
            };
            while (at < bytes.size() && bytes[at] != 0x3B) {
                if (bytes[at] == 0x21) {
                    at += 2;
                    skipBlocks();
                } else if (bytes[at] == 0x2C && at + 10 <= bytes.size()) {
                    const std::uint8_t packed = bytes[at + 9];
                    at += 10;
                    if (packed & 0x80)
                        at += 3u << ((packed & 7) + 1);
                    ++at; // the LZW code size
                    skipBlocks();
                    parts.push_back(std::min(at, bytes.size()) - start);
                    start = at;
                } else {
                    throw EInvalidGraphicOperation("the size fit cannot read its own file");
                }
            }
            if (parts.empty())
                throw EInvalidGraphicOperation("the size fit cannot read its own file");
            return parts;
        }

        // The bytes of a file of ours that no frame owns: the header, the
        // logical screen, the global colour table, the loop extension (once,
        // on the first frame) and the trailer.
        static std::uint64_t FixedBytes(const std::vector<std::uint8_t>& bytes)
        {
            std::uint64_t fixed = 13 + 19 + 1;
            if (bytes.size() > 10 && (bytes[10] & 0x80))
                fixed += 3u << ((bytes[10] & 7) + 1);
            return std::min<std::uint64_t>(fixed, bytes.size());
        }

        const TFitFrames& m_frames;
        const TExportOptions& m_options;
        const TFitRender& m_render;
        std::vector<std::array<std::int32_t, 2>> m_sizes;
        std::vector<std::size_t> m_sample;
        TOnceMap<std::int32_t, TFitFrames> m_scaled;
        TOnceMap<std::int32_t, TExportPalette> m_palettes;
        std::mutex m_reducedMutex;
        std::deque<std::pair<TKey, std::vector<TDIB>>> m_reducedSamples;
    };

} // namespace

TFitResult FitGifToSize(const TFitFrames& frames, const TExportOptions& options,
    const TSizeOptions& size, const TFitRender& render, unsigned threads, const TFitTrying& trying)
{
    CheckExportOptions(options);
    CheckSizeOptions(size);
    if (size.MaxSize == 0)
        throw EInvalidGraphicOperation("no size limit to fit");
    if (frames.Frames.empty() || frames.Frames.size() != std::size_t(options.Frames))
        throw EInvalidGraphicOperation("the frames are not as many as the options say");

    TGifFit fit(frames, options, render);
    TFitFormat format;
    format.QualityFirst = size.Lossy;
    format.QualityLast = kLossyMax;
    format.ColoursFirst = options.GIFBits;
    format.ColoursLast = kGIFBitsRange.Min;
    format.Steps = fit.Steps();
    format.CanSample = fit.CanSample();
    format.Encode = [&](const TFitKnobs& knobs, bool sampled, unsigned inner) {
        return fit.Encode(knobs, sampled, inner);
    };
    format.Describe = [&](const TFitKnobs& knobs) { return fit.Describe(knobs); };
    const bool high = options.Quality == TExportQuality::High;
    format.Shape = [high](std::int32_t level) {
        return high ? LossyShape(level, kHighShape) : LossyShape(level, kStandardShape);
    };
    format.Trying = trying;
    // The standard level's cell cache leaves the coder's own search a first
    // step to take; the high level's reduction has taken it.
    format.FirstStepMayDrop = !high;
    // The high level's sample, a run that starts afresh, comes out about 3 %
    // short of the file on flags at much loss, whose frames grow along the
    // loop (bench/quality at 25 % of the lossless size: 4 to 12 %).
    format.EstimateCorrection = high ? 1.03 : 1.0;
    // Lossy level 200 leaves at least a quarter of the lossless size, and 3
    // bits at least two fifths of 8 bits', on every picture measured.
    format.SmallestQualityShare = 0.25;
    format.SmallestColourShare = 0.4;
    return FitToSize(format, size.MaxSize, threads);
}

} // namespace zx
