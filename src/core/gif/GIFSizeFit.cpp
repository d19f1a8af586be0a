// The search for the largest file within a size limit, for any format.

#include "core/gif/GIFSizeFit.h"

#include "core/WorkerPool.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <thread>
#include <tuple>

namespace zx {

namespace {

    // A sampled try only estimates the size. A stage counts as reachable on
    // an estimate when the estimate stays this far below the limit, and the
    // quality search aims at the window below, so that the one whole try
    // that follows lands within the limit and above 90 % of it.
    constexpr double kEstimateFits = 0.985;
    // An estimate this far beyond the limit is taken as too large.
    constexpr double kEstimateBeyond = 1.03;
    constexpr double kAim = 0.95;
    constexpr double kGoodEnough = 0.91;
    // A guess whose size is more than about 10 % off its aim missed by far.
    constexpr double kFarMiss = 0.1;
    // Sizes within about 1 % of each other count as the same.
    constexpr double kFlat = 0.01;
    // A whole try this close to the limit ends the search.
    constexpr double kExactGoodEnough = 0.9;
    // A try the model puts this full or fuller, and within the limit, is
    // coded whole when it would be the answer.
    constexpr double kWholeFills = 0.9;
    // Prior guesses, used until tries have measured better ones: one colour
    // setting fewer and one frame-size step smaller make the file this much
    // smaller.
    constexpr double kColourFactor = 0.92;
    constexpr double kStepFactor = 0.83;
    // What tries that showed no fall along a knob make of it (a flag of a few
    // colours at the most loss is as large at 7 bits as at 8).
    constexpr double kFlatFactor = 0.99;
    // A setting a measured factor puts this far beyond the limit is not
    // tried: it would not fit.
    constexpr double kSurelyTooLarge = 1.1;
    // Settings that fill less than this of the limit lie past a step in the
    // sizes, which is worth the tries of a look at smaller frames (a file
    // that comes nearer to 90 % is not: the tries cost more than its fill
    // gains).
    constexpr double kCliffFills = 0.85;
    // A model drawn from one try is trusted this far from it (the logarithm
    // of the size it predicts over the try's).
    constexpr double kShortReach = 0.15;
    // Sizes that fall this many times faster from no loss to a fitting level
    // than after it drop at the first level.
    constexpr double kFirstLossSteep = 2.5;
    // Past this many tries the search stops looking and takes what it has.
    constexpr std::int32_t kMaxTries = 40;

    struct TKnown {
        bool HasExact = false;
        std::uint64_t Exact = 0;
        std::vector<std::uint8_t> File;
        bool HasEstimate = false;
        std::uint64_t Estimate = 0;
    };

    struct TProbe {
        std::int32_t Step;
        std::int32_t Colour;
        std::int32_t Quality;
        bool Sampled;
    };

    class TFitSearch {
    public:
        TFitSearch(const TFitFormat& format, std::uint64_t limit, unsigned threads)
            : m_format(format)
            , m_limit(double(limit))
            , m_limitBytes(limit)
            , m_threads(threads ? threads : std::max(1u, std::thread::hardware_concurrency()))
            , m_qualities(std::abs(format.QualityLast - format.QualityFirst))
            , m_colours(std::abs(format.ColoursLast - format.ColoursFirst))
            , m_steps(std::max(format.Steps, 1))
            , m_correction(format.EstimateCorrection > 0 ? format.EstimateCorrection : 1.0)
        {
        }

        TFitResult Run();

    private:
        TFitKnobs Knobs(std::int32_t step, std::int32_t colour, std::int32_t quality) const
        {
            TFitKnobs knobs;
            knobs.Step = step;
            knobs.Colours = m_format.ColoursFirst
                + (m_format.ColoursLast >= m_format.ColoursFirst ? colour : -colour);
            knobs.Quality = m_format.QualityFirst
                + (m_format.QualityLast >= m_format.QualityFirst ? quality : -quality);
            return knobs;
        }

        TKnown* Find(std::int32_t step, std::int32_t colour, std::int32_t quality)
        {
            const auto it = m_known.find({ step, colour, quality });
            return it == m_known.end() ? nullptr : &it->second;
        }

        // The size of a try: its exact size when it was coded whole, else
        // its estimate corrected by what whole tries showed; < 0: not tried.
        double Size(std::int32_t step, std::int32_t colour, std::int32_t quality)
        {
            const TKnown* known = Find(step, colour, quality);
            if (!known)
                return -1;
            if (known->HasExact)
                return double(known->Exact);
            if (known->HasEstimate)
                return double(known->Estimate) * m_correction;
            return -1;
        }

        bool IsExact(std::int32_t step, std::int32_t colour, std::int32_t quality)
        {
            const TKnown* known = Find(step, colour, quality);
            return known && known->HasExact;
        }

        // Whether a tried setting fits: for sure when it was coded whole, or
        // with a margin on an estimate.
        bool Fits(std::int32_t step, std::int32_t colour, std::int32_t quality)
        {
            if (IsExact(step, colour, quality))
                return Size(step, colour, quality) <= m_limit;
            return Size(step, colour, quality) <= m_limit * kEstimateFits;
        }

        void Evaluate(std::vector<TProbe> probes);
        bool EnsureTried(std::int32_t step, std::int32_t colour, std::int32_t quality, bool sampled)
        {
            Evaluate({ { step, colour, quality, sampled } });
            return Size(step, colour, quality) >= 0;
        }

        // The first index in (low, high) of a knob along which sizes fall,
        // at which the model puts the size at or below target. predict
        // gives the model's size at an index.
        template <class Predict>
        static std::int32_t FirstBelow(
            std::int32_t low, std::int32_t high, double target, Predict&& predict)
        {
            for (std::int32_t i = low + 1; i < high; ++i) {
                if (predict(i) <= target)
                    return i;
            }
            return high - 1;
        }

        // The first index after tooLarge, up to last, of a knob along which
        // sizes fall whose try (at(index)) fits; last + 1 when none does.
        // factor: how much one index shrinks the file, for aiming. final: the
        // setting found is the file when it fills the limit well enough (no
        // knob is searched after this one).
        std::int32_t FirstFitting(std::int32_t tooLarge, std::int32_t last,
            const std::function<TProbe(std::int32_t)>& at, const std::function<double()>& factorOf,
            bool final);
        // The factor, and whether tries measured it (not the prior guess).
        static bool Measured(const std::function<double()>& factorOf, double& factor)
        {
            factor = factorOf();
            return factor != kColourFactor && factor != kStepFactor;
        }
        // The size a setting has if tried, else a typical guess from tried
        // settings before it in every knob; < 0 when there is none.
        double Guess(std::int32_t step, std::int32_t colour, std::int32_t quality);
        // Whether a setting is known or bound to be too large: tried, or
        // beyond the limit even with the most the format's knobs can save
        // from a setting tried before it.
        bool SurelyTooLarge(std::int32_t step, std::int32_t colour, std::int32_t quality);
        // The least quality loss at a frame size and colour setting that
        // fits, coded whole. Returns false when even the smallest quality is
        // too large there.
        bool FindQuality(std::int32_t step, std::int32_t colour, std::int32_t& chosen);
        double ColourFactor(std::int32_t step);
        double StepFactor(std::int32_t colour);
        TFitResult Finish(std::int32_t step, std::int32_t colour, std::int32_t quality);
        // Settings found in the order that fill much less of the limit than a
        // whole try should: the sizes fall by a step there (the first loss
        // of a dark picture, a flag's last colours). The setting before them
        // in the order, too large at this frame size, is tried at smaller
        // ones, and where it gives a larger file within the limit the knobs
        // become those.
        void PastACliff(std::int32_t& step, std::int32_t& colour, std::int32_t& quality);
        // The last knobs when they fit; else ESizeLimit naming their size.
        TFitResult LastResort();

        const TFitFormat& m_format;
        double m_limit;
        std::uint64_t m_limitBytes;
        unsigned m_threads;
        std::int32_t m_qualities;
        std::int32_t m_colours;
        std::int32_t m_steps;
        std::map<std::tuple<std::int32_t, std::int32_t, std::int32_t>, TKnown> m_known;
        double m_correction;
        // The slope of the size along the quality's shape as tries last
        // measured it, for settings where only one quality has been tried.
        double m_slope = 1.0;
        std::int32_t m_tries = 0;
    };

    void TFitSearch::Evaluate(std::vector<TProbe> probes)
    {
        // What is known already is not tried again; a format that cannot
        // sample codes every try whole.
        std::vector<TProbe> wanted;
        for (TProbe probe : probes) {
            if (!m_format.CanSample)
                probe.Sampled = false;
            const TKnown* known = Find(probe.Step, probe.Colour, probe.Quality);
            if (known && (known->HasExact || (probe.Sampled && known->HasEstimate)))
                continue;
            const bool duplicate = std::any_of(wanted.begin(), wanted.end(), [&](const TProbe& p) {
                return p.Step == probe.Step && p.Colour == probe.Colour
                    && p.Quality == probe.Quality && p.Sampled == probe.Sampled;
            });
            if (!duplicate)
                wanted.push_back(probe);
        }
        if (wanted.empty())
            return;

        if (m_format.Trying)
            m_format.Trying(m_tries + 1);
        std::vector<TFitTry> results(wanted.size());
        const unsigned inner = std::max(1u, m_threads / unsigned(wanted.size()));
        ParallelFor(wanted.size(), m_threads, [&](std::size_t i) {
            results[i] = m_format.Encode(Knobs(wanted[i].Step, wanted[i].Colour, wanted[i].Quality),
                wanted[i].Sampled, inner);
        });
        m_tries += std::int32_t(wanted.size());

        for (std::size_t i = 0; i < wanted.size(); ++i) {
            TKnown& known = m_known[{ wanted[i].Step, wanted[i].Colour, wanted[i].Quality }];
            if (wanted[i].Sampled) {
                known.HasEstimate = true;
                known.Estimate = results[i].Size;
            } else {
                known.HasExact = true;
                known.Exact = results[i].File.empty() ? results[i].Size : results[i].File.size();
                known.File = std::move(results[i].File);
            }
            // A setting tried both ways shows how far the estimates are off.
            if (known.HasExact && known.HasEstimate && known.Estimate > 0)
                m_correction = double(known.Exact) / double(known.Estimate);
        }
    }

    double TFitSearch::ColourFactor(std::int32_t step)
    {
        // Measured from two colour settings at the smallest quality, at this
        // frame size or the first; flat when the tries show no fall at all.
        bool flat = false;
        for (std::int32_t s : { step, 0 }) {
            std::int32_t first = -1;
            for (std::int32_t c = 0; c <= m_colours; ++c) {
                if (Size(s, c, m_qualities) <= 0)
                    continue;
                if (first < 0) {
                    first = c;
                    continue;
                }
                const double ratio = Size(s, c, m_qualities) / Size(s, first, m_qualities);
                if (ratio > 0 && ratio < 1)
                    return std::pow(ratio, 1.0 / double(c - first));
                flat = flat || ratio >= 1;
            }
        }
        return flat ? kFlatFactor : kColourFactor;
    }

    double TFitSearch::StepFactor(std::int32_t colour)
    {
        std::int32_t first = -1;
        bool flat = false;
        for (std::int32_t s = 0; s < m_steps; ++s) {
            if (Size(s, colour, m_qualities) <= 0)
                continue;
            if (first < 0) {
                first = s;
                continue;
            }
            const double ratio = Size(s, colour, m_qualities) / Size(first, colour, m_qualities);
            if (ratio > 0 && ratio < 1)
                return std::pow(ratio, 1.0 / double(s - first));
            flat = flat || ratio >= 1;
        }
        return flat ? kFlatFactor : kStepFactor;
    }

    std::int32_t TFitSearch::FirstFitting(std::int32_t tooLarge, std::int32_t last,
        const std::function<TProbe(std::int32_t)>& at, const std::function<double()>& factorOf,
        bool final)
    {
        auto size = [&](std::int32_t i) {
            const TProbe p = at(i);
            return Size(p.Step, p.Colour, p.Quality);
        };
        std::int32_t sameSide = 0;
        bool lastFitted = false;
        // How far the last guess's size was from the model's (logarithm).
        double lastMiss = 0;
        for (;;) {
            double factor = 0;
            const bool measured = Measured(factorOf, factor);
            // The bracket: the last index tried and too large (or surely too
            // large) below the first one tried that fits.
            std::int32_t first = last + 1;
            for (std::int32_t i = tooLarge + 1; i <= last; ++i) {
                const TProbe p = at(i);
                if (size(i) < 0) {
                    if (SurelyTooLarge(p.Step, p.Colour, p.Quality))
                        tooLarge = i;
                    continue;
                }
                if (Fits(p.Step, p.Colour, p.Quality)) {
                    first = i;
                    break;
                }
                tooLarge = i;
            }
            if (first == tooLarge + 1 || m_tries >= kMaxTries)
                return first;
            // A measured factor that puts the setting before the first that
            // fits well beyond the limit saves the try that would show it.
            if (first <= last && measured && size(first) / factor > m_limit * kSurelyTooLarge)
                return first;
            // Where the model puts the crossing of the limit: between the
            // bracket's ends when both were tried, else from the one tried
            // with the factor.
            const bool lowTried = tooLarge >= 0 && size(tooLarge) > 0;
            const bool highTried = first <= last && size(first) > 0;
            std::int32_t base = highTried ? first : tooLarge;
            double baseSize = 0;
            if (base >= 0) {
                const TProbe b = at(base);
                baseSize = Guess(b.Step, b.Colour, b.Quality);
            }
            if (lowTried && highTried)
                factor = std::pow(size(first) / size(tooLarge), 1.0 / double(first - tooLarge));
            const bool modelled = baseSize > 0 && factor > 0;
            const auto predict
                = [&](std::int32_t i) { return baseSize * std::pow(factor, double(i - base)); };
            std::int32_t guess = first - 1;
            if (modelled)
                guess = FirstBelow(tooLarge, first, m_limit, predict);
            // Two tries in a row on the same side of the crossing, the last
            // one far from the model's size: the next one halves the bracket.
            // So does a guess at the untried end of a bracket whose other
            // end fits: sizes that hardly fall along the knob (the colours at
            // the most loss) put the model's guess there, and one try there
            // seldom settles it.
            if (sameSide >= 2 && lastMiss > kFarMiss)
                guess = tooLarge + (first - tooLarge) / 2;
            if (highTried && !lowTried && guess == tooLarge + 1 && first - tooLarge > 2)
                guess = tooLarge + (first - tooLarge) / 2;
            // A try that closes the bracket is the answer when it fits and
            // fills the limit well enough for nothing to be searched after
            // it, so one the model expects to do both is coded whole.
            TProbe probe = at(guess);
            if (final && modelled && guess == tooLarge + 1
                && predict(guess) >= m_limit * kWholeFills && predict(guess) <= m_limit)
                probe.Sampled = false;
            Evaluate({ probe });
            const TProbe g = at(guess);
            lastMiss = modelled ? std::abs(std::log(size(guess) / predict(guess))) : 1.0;
            const bool fitted = Fits(g.Step, g.Colour, g.Quality);
            sameSide = (sameSide > 0 && fitted == lastFitted) ? sameSide + 1 : 1;
            lastFitted = fitted;
        }
    }

    double TFitSearch::Guess(std::int32_t step, std::int32_t colour, std::int32_t quality)
    {
        const double size = Size(step, colour, quality);
        if (size >= 0)
            return size;
        // From the tried setting with the largest size among those with no
        // more loss, colours removed or frame-size steps: the typical
        // shrinking from there on.
        double best = -1;
        for (const auto& [key, known] : m_known) {
            const auto [s, c, q] = key;
            if (s > step || c > colour || q > quality)
                continue;
            const double from = Size(s, c, q);
            if (from <= 0)
                continue;
            const double shape = m_format.Shape ? m_format.Shape(Knobs(s, c, quality).Quality)
                    - m_format.Shape(Knobs(s, c, q).Quality)
                                                : -double(quality - q) / 64.0;
            const double guess = from * std::exp(shape) * std::pow(kColourFactor, colour - c)
                * std::pow(kStepFactor, step - s);
            best = std::max(best, guess);
        }
        return best;
    }

    bool TFitSearch::SurelyTooLarge(std::int32_t step, std::int32_t colour, std::int32_t quality)
    {
        if (Size(step, colour, quality) >= 0)
            return !Fits(step, colour, quality);
        // A tried setting with less loss, more colours and the same frame
        // size, shrunk by the most the format says the knobs between can
        // take off, is still far beyond the limit.
        for (const auto& [key, known] : m_known) {
            const auto [s, c, q] = key;
            if (s != step || c > colour || q > quality)
                continue;
            // Sizes fall along every knob, so a part of a knob's range
            // leaves at least the share its whole range leaves; the share is
            // not spread evenly over the range (a GIF loses most of its size
            // in its last bits), so no smaller bound holds for a part.
            const double from = Size(s, c, q);
            const double smallest = from * (quality > q ? m_format.SmallestQualityShare : 1.0)
                * (colour > c ? m_format.SmallestColourShare : 1.0);
            if (smallest > m_limit * kSurelyTooLarge)
                return true;
        }
        return false;
    }

    bool TFitSearch::FindQuality(std::int32_t step, std::int32_t colour, std::int32_t& chosen)
    {
        auto shape = [&](std::int32_t q) {
            const TFitKnobs knobs = Knobs(step, colour, q);
            return m_format.Shape ? m_format.Shape(knobs.Quality) : -double(q) / 64.0;
        };
        // How fast the size falls along the shape between two tried
        // qualities; 0 where the shape does not move between them.
        const auto slopeBetween = [&](std::int32_t a, std::int32_t b) {
            const double dx = shape(a) - shape(b);
            return dx != 0 ? std::log(Size(step, colour, a) / Size(step, colour, b)) / dx : 0.0;
        };
        std::int32_t lastSpan = 0;
        // How far the last guess's size was from the aim (logarithm).
        double lastMiss = 0;
        bool flatTried = false;
        bool firstLossTried = false;
        for (;;) {
            // The bracket: the last quality known too large below the first
            // one known to fit (none: m_qualities + 1).
            std::int32_t fits = m_qualities + 1;
            std::int32_t tooLarge = -1;
            for (std::int32_t q = 0; q <= m_qualities; ++q) {
                if (Size(step, colour, q) < 0)
                    continue;
                if (Fits(step, colour, q)) {
                    fits = q;
                    break;
                }
                tooLarge = q;
            }
            if (tooLarge == m_qualities
                || (fits > m_qualities && SurelyTooLarge(step, colour, m_qualities))) {
                // The whole quality range tried here shows how the size falls
                // along it, for the settings searched next.
                const double first = Size(step, colour, 0);
                const double last = Size(step, colour, m_qualities);
                if (first > 0 && last > 0 && last < first && shape(m_qualities) != shape(0))
                    m_slope = slopeBetween(0, m_qualities);
                return false;
            }
            if (fits <= m_qualities) {
                const double fitSize = Size(step, colour, fits);
                const bool exact = IsExact(step, colour, fits);
                const bool closed = fits == tooLarge + 1;
                const bool close = fitSize >= m_limit * (exact ? kExactGoodEnough : kGoodEnough);
                if (closed || close || m_tries >= kMaxTries) {
                    // The setting before it may fit after all: its estimate
                    // only missed the margin.
                    if (closed && tooLarge >= 0 && !IsExact(step, colour, tooLarge)
                        && Size(step, colour, tooLarge) <= m_limit) {
                        Evaluate({ { step, colour, tooLarge, false } });
                        continue;
                    }
                    if (exact) {
                        chosen = fits;
                        return true;
                    }
                    // Code it whole; the next round sees its exact size.
                    Evaluate({ { step, colour, fits, false } });
                    continue;
                }
            }

            // The model: the logarithm of the size along the shape, through
            // the two tried settings nearest the bracket, or with the
            // shape's own slope from one of them.
            std::vector<std::int32_t> tried;
            for (std::int32_t q : { tooLarge, fits }) {
                if (q >= 0 && q <= m_qualities)
                    tried.push_back(q);
            }
            for (std::int32_t q = 0; q <= m_qualities && tried.size() < 2; ++q) {
                if (Size(step, colour, q) >= 0
                    && std::find(tried.begin(), tried.end(), q) == tried.end())
                    tried.push_back(q);
            }
            std::int32_t guess = m_qualities;
            std::int32_t base = 0;
            double baseLog = 0;
            double slope = 1.0;
            // The model's size at a quality (none without a try: beyond the
            // limit).
            const auto model = [&](std::int32_t q) {
                return tried.empty() ? m_limit * 2
                                     : std::exp(baseLog + slope * (shape(q) - shape(base)));
            };
            if (!tried.empty()) {
                base = tried.front();
                baseLog = std::log(Size(step, colour, base));
                if (tried.size() > 1 && shape(tried[1]) != shape(base))
                    slope = slopeBetween(tried[1], base);
                if (tried.size() == 1)
                    slope = m_slope;
                if (!(slope > 0))
                    slope = 1.0;
                else if (tried.size() > 1)
                    m_slope = slope;
                guess
                    = FirstBelow(tooLarge, std::min(fits, m_qualities + 1), m_limit * kAim, model);
            }
            // When the model's last guess missed its aim by far and left
            // most of the bracket (a step in the sizes it cannot see), the
            // next one halves it. Only a bracket closed on both sides
            // counts: a first guess may well land near the middle of the
            // whole range.
            const std::int32_t high = std::min(fits, m_qualities + 1);
            const std::int32_t span = high - tooLarge;
            if (tooLarge >= 0 && fits <= m_qualities) {
                if (lastSpan > 0 && 2 * span > lastSpan && lastMiss > kFarMiss)
                    guess = tooLarge + span / 2;
                lastSpan = span;
            }
            // Two fitting tries of about the same size: the size stays flat
            // towards the bracket's low end as well (a few colours leave the
            // loss little to take), so the least loss that may fit is tried,
            // once: when it does not fit, the range was not flat after all.
            if (fits <= m_qualities && !flatTried) {
                for (std::int32_t q = fits + 1; q <= m_qualities; ++q) {
                    if (Size(step, colour, q) < 0)
                        continue;
                    if (std::abs(std::log(Size(step, colour, fits) / Size(step, colour, q)))
                        < kFlat) {
                        guess = tooLarge + 1;
                        flatTried = true;
                    }
                    break;
                }
            }
            // No loss known to be too large and a fitting level known, with
            // the sizes falling from no loss to it far faster than after it
            // (or than the shape says, when nothing after it was tried): the
            // first level takes off most of what the loss can (a dark
            // picture's noise, the dither of a few colours), which no model
            // through the bracket's ends sees. The first level is tried
            // next, once, and coded whole when the sizes after the step put
            // it within the limit.
            bool firstLossFits = false;
            if (m_format.FirstStepMayDrop && tooLarge == 0 && fits >= 2 && fits <= m_qualities
                && !firstLossTried) {
                double after = 1.0;
                for (std::int32_t q = fits + 1; q <= m_qualities; ++q) {
                    if (Size(step, colour, q) >= 0) {
                        after = std::max(0.0, slopeBetween(fits, q));
                        break;
                    }
                }
                if (flatTried || slopeBetween(0, fits) > kFirstLossSteep * after) {
                    guess = 1;
                    firstLossFits = flatTried
                        || Size(step, colour, fits) * std::exp(after * (shape(1) - shape(fits)))
                            <= m_limit;
                    firstLossTried = true;
                }
            }
            guess = std::clamp(guess, tooLarge + 1, high - 1);
            // A guess that closes the bracket is the answer when it fits: one
            // the model expects to fit is coded whole.
            const bool closing
                = guess == tooLarge + 1 && (model(guess) <= m_limit || firstLossFits);
            // A guess the model expects to be the answer (within the limit
            // and filling it well) is coded whole as well, when the model
            // is sure enough: drawn through two tries here, or reaching
            // only a short way from one.
            const bool sure = tried.size() > 1
                || (!tried.empty() && std::abs(slope * (shape(guess) - shape(base))) < kShortReach);
            const bool answer
                = sure && model(guess) >= m_limit * kWholeFills && model(guess) <= m_limit * kAim;
            Evaluate({ { step, colour, guess, !(closing || answer) } });
            lastMiss = std::abs(std::log(Size(step, colour, guess) / (m_limit * kAim)));
        }
    }

    TFitResult TFitSearch::Finish(std::int32_t step, std::int32_t colour, std::int32_t quality)
    {
        TKnown* known = Find(step, colour, quality);
        TFitResult result;
        result.Knobs = Knobs(step, colour, quality);
        result.File = std::move(known->File);
        result.Encodes = m_tries;
        result.Limit = m_limitBytes;
        std::string knobs = m_format.Describe ? m_format.Describe(result.Knobs) : std::string();
        result.Description = FormatSizeLimit(m_limitBytes) + ": "
            + (knobs.empty() ? "" : knobs + ", ") + GroupDigits(result.File.size()) + " bytes, "
            + std::to_string(m_tries) + (m_tries == 1 ? " encode" : " encodes");
        return result;
    }

    void TFitSearch::PastACliff(std::int32_t& step, std::int32_t& colour, std::int32_t& quality)
    {
        const double found = Size(step, colour, quality);
        if (found >= m_limit * kCliffFills || step + 1 >= m_steps)
            return;
        std::int32_t before = colour;
        std::int32_t loss = quality - 1;
        if (loss < 0) {
            if (colour == 0)
                return;
            before = colour - 1;
            loss = m_qualities;
        }
        const auto stepAt = [&](std::int32_t s) { return TProbe { s, before, loss, true }; };
        const std::int32_t smaller = FirstFitting(
            step, m_steps - 1, stepAt, [&] { return StepFactor(before); }, true);
        if (smaller >= m_steps)
            return;
        // Coded whole and full enough, that is the file; else the least loss
        // that fits at that frame size.
        std::int32_t chosen = loss;
        if (!IsExact(smaller, before, loss)
            || Size(smaller, before, loss) < m_limit * kExactGoodEnough) {
            if (!FindQuality(smaller, before, chosen))
                return;
        } else if (!Fits(smaller, before, loss)) {
            return;
        }
        if (Size(smaller, before, chosen) <= found)
            return;
        step = smaller;
        colour = before;
        quality = chosen;
    }

    TFitResult TFitSearch::LastResort()
    {
        // The last knobs, coded whole: what an estimate judged too large
        // may fit after all.
        const std::int32_t step = m_steps - 1;
        Evaluate({ { step, m_colours, m_qualities, false } });
        if (Fits(step, m_colours, m_qualities))
            return Finish(step, m_colours, m_qualities);
        const TFitKnobs knobs = Knobs(step, m_colours, m_qualities);
        const std::uint64_t smallest = Find(step, m_colours, m_qualities)->Exact;
        const std::string options = m_format.Describe ? m_format.Describe(knobs) : std::string();
        throw ESizeLimit(FormatSizeLimit(m_limitBytes) + ": no setting fits; the smallest file"
                + (options.empty() ? "" : ", with " + options + ",") + " has "
                + GroupDigits(smallest) + " bytes",
            smallest);
    }

    TFitResult TFitSearch::Run()
    {
        // The settings asked for: when they fit, that is the file. A sample
        // that puts them clearly beyond the limit saves coding them whole.
        Evaluate({ { 0, 0, 0, true } });
        if (Size(0, 0, 0) <= m_limit * kEstimateBeyond) {
            Evaluate({ { 0, 0, 0, false } });
            if (Fits(0, 0, 0))
                return Finish(0, 0, 0);
        }

        std::int32_t step = 0;
        std::int32_t colour = 0;
        for (;;) {
            std::int32_t quality = 0;
            if (FindQuality(step, colour, quality)) {
                PastACliff(step, colour, quality);
                return Finish(step, colour, quality);
            }
            // Even the smallest quality is too large here: fewer colours at
            // this frame size, or else a smaller frame, then the most
            // colours that fit at it.
            const auto colourAt = [this, &step](std::int32_t c) {
                return TProbe { step, c, m_qualities, true };
            };
            colour = FirstFitting(
                colour, m_colours, colourAt, [&] { return ColourFactor(step); }, true);
            if (colour <= m_colours)
                continue;
            const auto stepAt = [this](std::int32_t s) {
                return TProbe { s, m_colours, m_qualities, true };
            };
            step = FirstFitting(
                step, m_steps - 1, stepAt, [&] { return StepFactor(m_colours); }, m_colours == 0);
            if (step >= m_steps)
                return LastResort();
            // The fewest colours fit at this size; the most that do are
            // searched for as at the first size, aimed by the colour factor.
            colour = std::min(m_colours,
                FirstFitting(
                    -1, m_colours, colourAt, [&] { return ColourFactor(step); }, true));
        }
    }

} // namespace

TFitResult FitToSize(const TFitFormat& format, std::uint64_t limit, unsigned threads)
{
    if (limit == 0)
        throw std::invalid_argument("FitToSize: no limit");
    TFitSearch search(format, limit, threads);
    return search.Run();
}

std::string GroupDigits(std::uint64_t value)
{
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ' ';
        grouped += digits[i];
    }
    return grouped;
}

std::string FormatSizeLimit(std::uint64_t bytes)
{
    if (bytes > 0 && bytes % 1048576 == 0)
        return std::to_string(bytes / 1048576) + "M";
    if (bytes > 0 && bytes % 1024 == 0)
        return std::to_string(bytes / 1024) + "K";
    return std::to_string(bytes);
}

} // namespace zx
