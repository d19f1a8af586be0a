// The size fit of animated WebP and APNG: the frames at each frame-size step
// made once, sampled tries where the frames are coded one by one.

#include "core/gif/AnimationSizeFit.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/gif/APNGWriter.h"
#include "core/gif/SizeFitOnce.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace zx {

namespace {

    // The steps of the frame size where it is the only knob: about a tenth of
    // the area each, so that a reachable limit is filled to about 90 %.
    constexpr double kFineStep = 0.95;

    // A sampled try codes this many frames, spread evenly over the loop.
    constexpr std::size_t kSampleFrames = 8;

    // What a WebP quality leaves of the file at quality 100, as the logarithm
    // of the ratio: the mean over 40 frames of 320 x 200 of photo-cat,
    // flag-br and gradient-sky (method 4, as the writer codes). The search
    // only takes its shape to aim its tries.
    double WebPShape(std::int32_t quality)
    {
        static constexpr double kQualities[] = { 0, 10, 25, 50, 75, 90, 100 };
        static constexpr double kLogRatio[] = { -2.85, -2.20, -1.91, -1.55, -1.25, -0.63, 0 };
        const double q = std::clamp(double(quality), 0.0, 100.0);
        for (std::size_t i = 1; i < std::size(kQualities); ++i) {
            if (q <= kQualities[i]) {
                const double t = (q - kQualities[i - 1]) / (kQualities[i] - kQualities[i - 1]);
                return kLogRatio[i - 1] + t * (kLogRatio[i] - kLogRatio[i - 1]);
            }
        }
        return 0;
    }

    bool IsLossless(const TAnimationFit& fit)
    {
        return fit.Format == TAnimationFormat::APNG || fit.WebP.Lossless;
    }

    std::vector<std::uint8_t> EncodeAnimation(const TExportAnimation& animation,
        const TAnimationFit& fit, std::int32_t quality, const TFrameCoded& coded = {})
    {
        const TAnimationFrames view = animation.View(fit.Delay, fit.Loops);
        if (fit.Format == TAnimationFormat::APNG)
            return EncodeAPNG(view, {}, coded);
        TWebPOptions options = fit.WebP;
        options.Quality = quality;
        return EncodeWebPAnimation(view, options, coded);
    }

    // The bytes of a file that no frame owns. WebP: RIFF header, VP8X and
    // ANIM chunks (each frame's ANMF chunk is its own). APNG: signature, IHDR,
    // acTL and IEND (each frame's fcTL and data are its own).
    std::uint64_t FixedBytes(TAnimationFormat format)
    {
        return format == TAnimationFormat::APNG ? 8 + 25 + 20 + 12 : 12 + 18 + 14;
    }

    class TAnimationFitter {
    public:
        TAnimationFitter(const TExportAnimation& animation, const TAnimationFit& fit)
            : m_animation(animation)
            , m_fit(fit)
            , m_sizes(AnimationFitSizes(
                  fit, animation.Frames.front().Width(), animation.Frames.front().Height()))
        {
            const std::size_t n = animation.Frames.size();
            for (std::size_t k = 0; k < std::min(n, kSampleFrames); ++k)
                m_sample.push_back((2 * k + 1) * n / (2 * std::min(n, kSampleFrames)));
        }

        std::int32_t Steps() const { return std::int32_t(m_sizes.size()); }
        bool CanSample() const { return m_sample.size() < m_animation.Frames.size(); }

        std::string Describe(const TFitKnobs& knobs) const
        {
            std::string text;
            if (m_fit.Format == TAnimationFormat::WebP)
                text = m_fit.WebP.Lossless ? "--lossless"
                                           : "--webp-quality " + std::to_string(knobs.Quality);
            if (knobs.Step > 0) {
                const auto& size = m_sizes[std::size_t(knobs.Step)];
                text += std::string(text.empty() ? "" : " ") + "--size " + std::to_string(size[0])
                    + "x" + std::to_string(size[1]);
            }
            return text;
        }

        TFitTry Encode(const TFitKnobs& knobs, bool sampled)
        {
            const TExportAnimation& frames = FramesAt(knobs.Step);
            TFitTry result;
            if (!sampled) {
                result.File = EncodeAnimation(frames, m_fit, knobs.Quality);
                result.Size = result.File.size();
                return result;
            }
            // The sample as an animation of its own; every frame is coded
            // on its own (an APNG frame against the one before, which on a
            // waving flag differs everywhere), so the sample's frames stand
            // for all of them.
            TExportAnimation sample;
            for (const std::size_t i : m_sample) {
                sample.Frames.push_back(frames.Frames[i]);
                sample.Alpha.push_back(i < frames.Alpha.size() ? frames.Alpha[i] : TDIB());
            }
            const std::uint64_t bytes = EncodeAnimation(sample, m_fit, knobs.Quality).size();
            const std::uint64_t fixed = std::min(FixedBytes(m_fit.Format), bytes);
            const double perFrame = double(bytes - fixed) / double(m_sample.size());
            result.Size = fixed
                + static_cast<std::uint64_t>(
                    std::llround(perFrame * double(m_animation.Frames.size())));
            return result;
        }

        std::array<std::int32_t, 2> SizeAt(std::int32_t step) const
        {
            return m_sizes[std::size_t(std::clamp(step, 0, Steps() - 1))];
        }

    private:
        const TExportAnimation& FramesAt(std::int32_t step)
        {
            if (step == 0)
                return m_animation;
            return m_scaled.Get(step, [&] {
                const auto& size = m_sizes[std::size_t(step)];
                return ScaleAnimation(m_animation, size[0], size[1]);
            });
        }

        const TExportAnimation& m_animation;
        const TAnimationFit& m_fit;
        std::vector<std::array<std::int32_t, 2>> m_sizes;
        std::vector<std::size_t> m_sample;
        TOnceMap<std::int32_t, TExportAnimation> m_scaled;
    };

} // namespace

TExportAnimation ScaleAnimation(
    const TExportAnimation& animation, std::int32_t width, std::int32_t height)
{
    TExportAnimation scaled;
    for (std::size_t i = 0; i < animation.Frames.size(); ++i) {
        ThrowIfCancelled();
        const TDIB& source = animation.Frames[i];
        const std::int32_t sourceWidth = source.Width();
        const std::int32_t sourceHeight = source.Height();
        if (source.BitCount() != 24 || source.Empty())
            throw EInvalidGraphicOperation("only 24-bit frames can be scaled");
        if (width > sourceWidth || height > sourceHeight || width <= 0 || height <= 0)
            throw EInvalidGraphicOperation("frames can only be scaled down");
        const TDIB* alpha = i < animation.Alpha.size() && !animation.Alpha[i].Empty()
            ? &animation.Alpha[i]
            : nullptr;
        if (alpha
            && (alpha->BitCount() != 8 || alpha->Width() != sourceWidth
                || alpha->Height() != sourceHeight))
            throw EInvalidGraphicOperation("an alpha plane is not an 8-bit plane of its frame");
        TDIB out;
        out.SetSize(width, height, 24);
        TDIB outAlpha;
        if (alpha)
            outAlpha.SetSize(width, height, 8);
        for (std::int32_t y = 0; y < height; ++y) {
            // The input pixels whose centres lie in output row y, and the
            // same per column below: at least one, since the frame shrinks.
            const std::int32_t y0 = std::int32_t(std::int64_t(y) * sourceHeight / height);
            const std::int32_t y1 = std::int32_t(std::int64_t(y + 1) * sourceHeight / height);
            std::uint8_t* row = out.ScanLine(y);
            std::uint8_t* alphaRow = alpha ? outAlpha.ScanLine(y) : nullptr;
            for (std::int32_t x = 0; x < width; ++x) {
                const std::int32_t x0 = std::int32_t(std::int64_t(x) * sourceWidth / width);
                const std::int32_t x1 = std::int32_t(std::int64_t(x + 1) * sourceWidth / width);
                std::uint64_t plain[3] = { 0, 0, 0 };
                std::uint64_t weighted[3] = { 0, 0, 0 };
                std::uint64_t coverage = 0;
                std::uint64_t count = 0;
                for (std::int32_t sy = y0; sy < y1; ++sy) {
                    const std::uint8_t* in = source.ConstScanLine(sy);
                    const std::uint8_t* inAlpha = alpha ? alpha->ConstScanLine(sy) : nullptr;
                    for (std::int32_t sx = x0; sx < x1; ++sx) {
                        const std::uint64_t a = inAlpha ? inAlpha[sx] : 255;
                        for (int c = 0; c < 3; ++c) {
                            plain[c] += in[3 * sx + c];
                            weighted[c] += a * in[3 * sx + c];
                        }
                        coverage += a;
                        ++count;
                    }
                }
                for (int c = 0; c < 3; ++c) {
                    const std::uint64_t value = coverage > 0
                        ? (weighted[c] + coverage / 2) / coverage
                        : (plain[c] + count / 2) / count;
                    row[3 * x + c] = static_cast<std::uint8_t>(value);
                }
                if (alphaRow)
                    alphaRow[x] = static_cast<std::uint8_t>((coverage + count / 2) / count);
            }
        }
        scaled.Frames.push_back(std::move(out));
        scaled.Alpha.push_back(std::move(outAlpha));
    }
    return scaled;
}

std::vector<std::array<std::int32_t, 2>> AnimationFitSizes(
    const TAnimationFit& fit, std::int32_t width, std::int32_t height)
{
    return FitFrameSizes(width, height, IsLossless(fit) ? kFineStep : 0.9);
}

TFitResult FitAnimationToSize(const TExportAnimation& animation, const TAnimationFit& fit,
    unsigned threads, const TFitTrying& trying)
{
    if (fit.Format == TAnimationFormat::Gif)
        throw EInvalidGraphicOperation("the GIF has its own size fit");
    if (fit.Limit == 0)
        throw EInvalidGraphicOperation("no size limit to fit");
    if (animation.Frames.empty())
        throw EInvalidGraphicOperation(AnimationMessages::sNoFrames);
    // Bad frames and options are refused before anything is scaled, with
    // the writers' own messages.
    CheckAnimationFrames(animation.View(fit.Delay, fit.Loops), kAPNGMaxSide);
    const bool lossyWebP = fit.Format == TAnimationFormat::WebP && !fit.WebP.Lossless;
    if (lossyWebP && !kWebPQualityRange.Contains(fit.WebP.Quality))
        throw EInvalidGraphicOperation("WebPQuality " + std::to_string(fit.WebP.Quality)
            + " 超出范围 " + std::to_string(kWebPQualityRange.Min) + ".."
            + std::to_string(kWebPQualityRange.Max));

    TAnimationFitter fitter(animation, fit);
    TFitFormat format;
    format.QualityFirst = lossyWebP ? fit.WebP.Quality : 0;
    format.QualityLast = lossyWebP ? kWebPQualityRange.Min : 0;
    format.Steps = fitter.Steps();
    format.CanSample = fitter.CanSample();
    format.Encode = [&fitter](const TFitKnobs& knobs, bool sampled, unsigned) {
        return fitter.Encode(knobs, sampled);
    };
    format.Describe = [&fitter](const TFitKnobs& knobs) { return fitter.Describe(knobs); };
    format.Trying = trying;
    if (lossyWebP) {
        format.Shape = WebPShape;
        // Quality 0 leaves at least 3.7 % of quality 100's file on every
        // picture measured (photo-cat; flag-br 9 %).
        format.SmallestQualityShare = 0.03;
    }
    return FitToSize(format, fit.Limit, threads);
}

TSizedGif EncodeSizedAnimation(
    const TExportAnimation& animation, const TAnimationFit& fit, const TFitTrying& trying)
{
    TSizedGif result;
    if (!animation.Frames.empty()) {
        result.Width = animation.Frames.front().Width();
        result.Height = animation.Frames.front().Height();
    }
    if (fit.Limit == 0) {
        if (fit.Format == TAnimationFormat::Gif)
            throw EInvalidGraphicOperation("the GIF has its own size fit");
        result.File = EncodeAnimation(animation, fit, fit.WebP.Quality);
        return result;
    }
    TFitResult fitted = FitAnimationToSize(animation, fit, 0, trying);
    result.Fitted = true;
    result.Knobs = fitted.Knobs;
    result.Report = fitted.Description;
    result.File = std::move(fitted.File);
    const auto sizes = AnimationFitSizes(fit, result.Width, result.Height);
    const auto& size = sizes[std::size_t(
        std::clamp<std::int32_t>(fitted.Knobs.Step, 0, std::int32_t(sizes.size()) - 1))];
    result.Width = size[0];
    result.Height = size[1];
    return result;
}

TFrameWriter SizedAnimationWriter(const TAnimationFit& fit, std::shared_ptr<TSizedGif> result)
{
    const TFrameWriter plain = AnimationWriter(fit.Format, fit.Delay, fit.Loops, fit.WebP);
    if (fit.Limit == 0) {
        return [plain, result](TExportFrames& frames, TExportProgress& progress) {
            const std::int32_t width = frames.Count() > 0 ? frames.Bitmaps()[0].Width() : 0;
            const std::int32_t height = frames.Count() > 0 ? frames.Bitmaps()[0].Height() : 0;
            std::vector<std::uint8_t> bytes = plain(frames, progress);
            if (result) {
                result->Width = width;
                result->Height = height;
            }
            return bytes;
        };
    }
    return [fit, result](TExportFrames& frames, TExportProgress& progress) {
        const TExportAnimation animation = AnimationOfExportFrames(frames);
        for (std::int32_t i = 0; i < frames.Count(); ++i) {
            frames.ReleaseBitmap(i);
            frames.ReleaseMask(i);
        }
        progress.Stage = TExportStage::Encoding;
        TSizedGif sized = EncodeSizedAnimation(
            animation, fit, [&progress](std::int32_t first) { progress.FitTry = first; });
        progress.FitTry = 0;
        ThrowIfCancelled();
        return HandOverSizedFile(std::move(sized), progress, result);
    };
}

} // namespace zx
