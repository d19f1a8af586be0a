// The high quality level's dithering: Floyd-Steinberg diffusion over an exact
// nearest-colour search, and the reduction of whole animations,
// in which every pixel that repeats a colour it had in an earlier frame takes
// that frame's index.

#include "core/gif/XGIFUnitDitherHigh.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitMessages.h"

#include <algorithm>
#include <bit>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace zx {

namespace highq {

    TFrameSet CheckFrames(std::span<const TDIB> frames, std::span<const TDIB> masks,
        std::span<const bool> transparent)
    {
        if (frames.empty())
            throw GIFException(GIFMessages::sInvalidBitmapList);
        // The plan of a pixel names a frame in 16 bits, one value kept back.
        if (frames.size() >= kBackground)
            throw EInvalidGraphicOperation(
                FormatMessage(GIFMessages::sTooManyFrames, static_cast<long long>(frames.size())));
        TFrameSet set;
        set.Width = frames[0].Width();
        set.Height = frames[0].Height();
        if (set.Width <= 0 || set.Height <= 0)
            throw GIFException(GIFMessages::sInvalidImageSize);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const TDIB& frame = frames[i];
            if (frame.Width() != set.Width || frame.Height() != set.Height)
                throw EInvalidGraphicOperation(GIFMessages::sFrameSizesDiffer);
            set.Frames.push_back(&frame);
            const TDIB* mask = nullptr;
            if (i < transparent.size() && transparent[i]) {
                if (i >= masks.size() || masks[i].Width() != set.Width
                    || masks[i].Height() != set.Height || masks[i].BitCount() != 8)
                    throw EInvalidGraphicOperation(GIFMessages::sMaskDoesNotFit);
                mask = &masks[i];
            }
            set.Masks.push_back(mask);
        }
        return set;
    }

    std::size_t TaskCount(unsigned threads, std::size_t count)
    {
        const std::size_t workers
            = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
        return std::max<std::size_t>(1, std::min(workers, count));
    }

    void TEntrySums::Add(const TEntrySums& other)
    {
        for (std::size_t i = 0; i < Count.size(); ++i)
            Count[i] += other.Count[i];
        for (std::size_t i = 0; i < Sum.size(); ++i)
            Sum[i] += other.Sum[i];
    }

    namespace {

        constexpr std::int32_t kFraction = 8;
        constexpr std::int32_t kOne = 1 << kFraction;
        constexpr std::int32_t kMaxValue = 255 << kFraction;
        // One step, chosen by measurement on a photograph at 256 and 16
        // colours: a wider zone gains PSNR and loses it after a slight blur,
        // a narrower one the other way round, and this one keeps both above
        // other encoders' (bench/quality.sh).
        constexpr std::int32_t kDeadZone = kOne;

        std::int32_t DeadZone(std::int32_t error, std::int32_t zone)
        {
            return error - std::clamp(error, -zone, zone);
        }

    } // namespace

    TExactColours::TExactColours(const TNearestColor& search)
        : m_slots(std::size_t(1) << kBits, kFree)
    {
        for (std::int32_t i = 0; i < search.EntryCount(); ++i) {
            const TPaletteEntry& e = search.Entry(i);
            const std::uint32_t colour
                = (std::uint32_t(e.Red) << 16) | (std::uint32_t(e.Green) << 8) | e.Blue;
            if (Find(colour) >= 0)
                continue;
            std::uint32_t at = (colour * 0x9E3779B1u) >> (32 - kBits);
            while (m_slots[at] != kFree)
                at = (at + 1) & ((1u << kBits) - 1);
            m_slots[at] = (colour << 8) | std::uint32_t(i);
        }
    }

    TFloydSteinberg::TFloydSteinberg(std::int32_t width, TNearestColor& search)
        : m_exact(search)
        , m_width(width)
        , m_search(search)
        , m_entries(std::size_t(search.EntryCount()) * 3)
        , m_rows(std::size_t(width + 2) * 3 * 2)
    {
        for (std::int32_t i = 0; i < search.EntryCount(); ++i) {
            const TPaletteEntry& e = search.Entry(i);
            m_entries[std::size_t(i) * 3] = e.Red << kFraction;
            m_entries[std::size_t(i) * 3 + 1] = e.Green << kFraction;
            m_entries[std::size_t(i) * 3 + 2] = e.Blue << kFraction;
        }
        m_cur = m_rows.data();
        m_next = m_rows.data() + std::size_t(width + 2) * 3;
    }

    template <bool WithSums>
    void TFloydSteinberg::DitherRow(const std::uint8_t* bgr, const std::uint16_t* plan,
        std::uint16_t self, std::uint8_t* out, TEntrySums* sums)
    {
        // Cell of column x: (x + 1) * 3, so columns -1 and width are guards.
        for (std::int32_t x = 0; x < m_width; ++x) {
            std::int32_t* here = m_cur + (x + 1) * 3;
            if (plan[x] != self) {
                out[x] = 0;
                here[0] = here[1] = here[2] = 0;
                continue;
            }
            const std::uint8_t* pixel = bgr + 3 * x;
            // A pixel whose colour the palette holds takes that entry, and
            // the error that reached it goes no further: a field of such a
            // colour comes out without noise, and the error of its
            // neighbours does not run across it.
            const std::int32_t exact = m_exact.Find(
                (std::uint32_t(pixel[2]) << 16) | (std::uint32_t(pixel[1]) << 8) | pixel[0]);
            if (exact >= 0) {
                here[0] = here[1] = here[2] = 0;
                out[x] = static_cast<std::uint8_t>(exact);
                if constexpr (WithSums) {
                    sums->Count[std::size_t(exact)] += 1;
                    for (int c = 0; c < 3; ++c)
                        sums->Sum[std::size_t(exact) * 3 + std::size_t(c)]
                            += std::int64_t(pixel[2 - c]) << kFraction;
                }
                continue;
            }
            const std::int32_t value[3] = {
                std::clamp((pixel[2] << kFraction) + here[0], 0, kMaxValue),
                std::clamp((pixel[1] << kFraction) + here[1], 0, kMaxValue),
                std::clamp((pixel[0] << kFraction) + here[2], 0, kMaxValue),
            };
            here[0] = here[1] = here[2] = 0;
            const std::int32_t index = m_search.Find((value[0] + kOne / 2) >> kFraction,
                (value[1] + kOne / 2) >> kFraction, (value[2] + kOne / 2) >> kFraction);
            out[x] = static_cast<std::uint8_t>(index);
            if constexpr (WithSums) {
                sums->Count[std::size_t(index)] += 1;
                for (int c = 0; c < 3; ++c)
                    sums->Sum[std::size_t(index) * 3 + std::size_t(c)] += value[c];
            }
            const std::int32_t* entry = &m_entries[std::size_t(index) * 3];
            std::int32_t* ahead = here + 3;
            std::int32_t* below = m_next + (x + 1) * 3;
            for (int c = 0; c < 3; ++c) {
                std::int32_t error = DeadZone(value[c] - entry[c], m_deadZone);
                if (m_strength != 256)
                    error = Sar(error * m_strength, 8);
                // 7/16 ahead, 3/16 below behind, 5/16 below, and what is left
                // (1/16 and the rounding) below ahead, so that no part of the
                // error is lost to the rounding.
                const std::int32_t seven = Sar(error * 7, 4);
                const std::int32_t three = Sar(error * 3, 4);
                const std::int32_t five = Sar(error * 5, 4);
                ahead[c] += seven;
                below[c - 3] += three;
                below[c] += five;
                below[c + 3] += error - seven - three - five;
            }
        }
    }

    void TFloydSteinberg::DitherFrame(TRowReader24& rows, std::int32_t height,
        std::span<const std::uint16_t> plan, std::uint16_t self, std::uint8_t* out,
        std::ptrdiff_t outStep, TEntrySums* sums)
    {
        std::fill(m_rows.begin(), m_rows.end(), 0);
        for (std::int32_t y = 0; y < height; ++y) {
            ThrowIfCancelled();
            const std::uint8_t* bgr = rows.Row(y);
            const std::uint16_t* planRow = plan.data() + std::size_t(y) * std::size_t(m_width);
            std::uint8_t* outRow = out + std::ptrdiff_t(y) * outStep;
            if (sums)
                DitherRow<true>(bgr, planRow, self, outRow, sums);
            else
                DitherRow<false>(bgr, planRow, self, outRow, sums);
            std::swap(m_cur, m_next);
            std::fill(m_next, m_next + std::size_t(m_width + 2) * 3, 0);
        }
    }

    std::vector<std::uint16_t> MakePlan(const TFrameSet& set, unsigned threads)
    {
        const std::size_t frames = set.Frames.size();
        const std::size_t pixels = set.Pixels();
        std::uint64_t total = 0;
        if (!CheckedMul(frames, pixels, total))
            throw EOutOfResources(GIFMessages::sOutOfMemoryForDIB);
        std::vector<std::uint16_t> plan;
        try {
            plan.resize(total);
        } catch (const std::bad_alloc&) {
            throw EOutOfResources(GIFMessages::sOutOfMemoryForDIB);
        }

        // Bands of rows, each with its own readers and table: what a pixel
        // gets depends on that pixel's colours alone.
        constexpr std::int32_t kBandRows = 8;
        const std::size_t bands = std::size_t((set.Height + kBandRows - 1) / kBandRows);
        ParallelFor(bands, threads, [&](std::size_t band) {
            std::vector<TRowReader24> readers;
            readers.reserve(frames);
            for (const TDIB* frame : set.Frames)
                readers.emplace_back(*frame);
            std::vector<const std::uint8_t*> rows(frames);
            std::vector<const std::uint8_t*> maskRows(frames);
            // The colours a pixel has had so far, each with the first frame
            // that had it: open addressing, slots told apart by the pixel
            // they were filled for.
            const std::size_t slots = std::bit_ceil(frames * 2);
            struct TSlot {
                std::uint32_t Colour = 0;
                std::uint16_t First = 0;
                std::uint64_t Pixel = 0;
            };
            std::vector<TSlot> table(slots);
            // slots is at least 2, so the shift is below 32.
            const std::int32_t shift = 32 - std::countr_zero(slots);
            std::uint64_t stamp = 0;

            const std::int32_t y0 = std::int32_t(band) * kBandRows;
            const std::int32_t y1 = std::min(set.Height, y0 + kBandRows);
            for (std::int32_t y = y0; y < y1; ++y) {
                for (std::size_t j = 0; j < frames; ++j) {
                    rows[j] = readers[j].Row(y);
                    maskRows[j] = set.Masks[j] ? set.Masks[j]->ConstScanLine(y) : nullptr;
                }
                const std::size_t rowStart = std::size_t(y) * std::size_t(set.Width);
                for (std::int32_t x = 0; x < set.Width; ++x) {
                    ++stamp;
                    bool havePrevious = false;
                    std::uint32_t previous = 0;
                    std::uint16_t previousFirst = 0;
                    for (std::size_t j = 0; j < frames; ++j) {
                        std::uint16_t& first = plan[j * pixels + rowStart + std::size_t(x)];
                        if (IsBackground(maskRows[j], x)) {
                            first = kBackground;
                            havePrevious = false;
                            continue;
                        }
                        const std::uint8_t* p = rows[j] + 3 * x;
                        const std::uint32_t colour = std::uint32_t(p[0])
                            | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
                        if (havePrevious && colour == previous) {
                            first = previousFirst;
                            continue;
                        }
                        // The table is never more than half full.
                        std::size_t at = std::size_t((colour * 0x9E3779B1u) >> shift);
                        for (;;) {
                            TSlot& slot = table[at];
                            if (slot.Pixel != stamp) {
                                slot = { colour, static_cast<std::uint16_t>(j), stamp };
                                first = static_cast<std::uint16_t>(j);
                                break;
                            }
                            if (slot.Colour == colour) {
                                first = slot.First;
                                break;
                            }
                            at = (at + 1) & (slots - 1);
                        }
                        havePrevious = true;
                        previous = colour;
                        previousFirst = first;
                    }
                }
            }
        });
        return plan;
    }

    std::pair<std::int32_t, std::int32_t> ChooseStrength(
        const TFrameSet& set, const TColorPalette& palette, unsigned threads)
    {
        // Strength and dead zone (in 1/256 steps).
        struct TWay {
            std::int32_t Strength;
            std::int32_t DeadZone;
        };
        static const TWay kStrengths[]
            = { { 256, kDeadZone }, { 224, kDeadZone }, { 192, kDeadZone } };
        const std::vector<std::size_t> chosen = SampleFrames(set);
        std::vector<std::vector<std::uint16_t>> plans;
        for (const std::size_t frame : chosen)
            plans.push_back(SelfPlan(set, frame));
        constexpr std::size_t kCount = std::size(kStrengths);
        const std::size_t jobs = kCount * chosen.size();
        // One search a task, reused for its jobs: the lists it makes hold
        // for every way of dithering.
        const std::size_t tasks = TaskCount(threads, jobs);
        std::vector<std::optional<TNearestColor>> searches(tasks);
        const std::vector<TFrameError> errors = DitherAndMeasure(
            set, jobs, tasks, threads,
            [&](std::size_t task, std::size_t job, std::uint8_t* indices) {
                const std::size_t which = job / chosen.size();
                const std::size_t i = job % chosen.size();
                if (!searches[task])
                    searches[task].emplace(palette);
                TFloydSteinberg ditherer(set.Width, *searches[task]);
                ditherer.SetStrength(kStrengths[which].Strength, kStrengths[which].DeadZone);
                TRowReader24 rows(*set.Frames[chosen[i]]);
                ditherer.DitherFrame(rows, set.Height, plans[i], 0, indices, set.Width, nullptr);
            },
            [&](std::size_t job) { return chosen[job % chosen.size()]; },
            [&](std::size_t) -> const TColorPalette& { return palette; });
        TWay best = kStrengths[0];
        double bestScore = -1e300;
        for (std::size_t which = 0; which < kCount; ++which) {
            const double score = Score(
                std::span<const TFrameError>(errors.data() + which * chosen.size(), chosen.size()),
                palette.size());
            if (score > bestScore) {
                bestScore = score;
                best = kStrengths[which];
            }
        }
        return { best.Strength, best.DeadZone };
    }

} // namespace highq

using namespace highq;

THighQualityPlan MakeHighQualityPlan(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, unsigned threads)
{
    return MakePlan(CheckFrames(frames, masks, transparent), threads);
}

std::vector<TDIB> ReduceFramesHighQuality(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, unsigned threads)
{
    const TFrameSet set = CheckFrames(frames, masks, transparent);
    if (palette.empty())
        return std::vector<TDIB>(set.Frames.size());
    return ReduceFramesHighQuality(
        frames, masks, transparent, palette, threads, MakePlan(set, threads));
}

std::vector<TDIB> ReduceFramesHighQuality(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, unsigned threads,
    const THighQualityPlan& plan)
{
    const TFrameSet set = CheckFrames(frames, masks, transparent);
    // Without entries every result is empty, as MakeReducedBitmap makes it.
    std::vector<TDIB> reduced(set.Frames.size());
    if (palette.empty())
        return reduced;

    const std::size_t pixels = set.Pixels();
    if (plan.size() != pixels * set.Frames.size())
        throw EInvalidGraphicOperation("High quality plan does not match the frames");

    // A plain pair, not a structured binding: the workers' lambda captures it.
    const auto chosen = ChooseStrength(set, palette, threads);

    // The results are made only now: the plan and the trial frames of the
    // strength's choice need their memory first.
    std::vector<std::uint8_t*> tops;
    std::vector<std::ptrdiff_t> steps;
    for (std::size_t j = 0; j < set.Frames.size(); ++j) {
        reduced[j] = MakeReducedBitmap(*set.Frames[j], palette);
        tops.push_back(reduced[j].ScanLine(0));
        steps.push_back(reduced[j].RowStep());
    }

    // Each task has its own search, which lists cells as it meets them; the
    // search is exact, so which task dithers a frame does not matter.
    const std::size_t frameCount = set.Frames.size();
    const std::size_t tasks = TaskCount(threads, frameCount);
    ParallelFor(tasks, threads, [&](std::size_t task) {
        TNearestColor search(palette);
        TFloydSteinberg ditherer(set.Width, search);
        ditherer.SetStrength(chosen.first, chosen.second);
        for (std::size_t j = task; j < frameCount; j += tasks) {
            TRowReader24 rows(*set.Frames[j]);
            ditherer.DitherFrame(rows, set.Height,
                std::span<const std::uint16_t>(plan.data() + j * pixels, pixels),
                static_cast<std::uint16_t>(j), tops[j], steps[j], nullptr);
        }
    });

    // A pixel the frame did not dither takes its index from the frame that
    // first had its colour there; that frame dithered it itself.
    ParallelFor(frameCount, threads, [&](std::size_t j) {
        const std::uint16_t* framePlan = plan.data() + j * pixels;
        for (std::int32_t y = 0; y < set.Height; ++y) {
            std::uint8_t* row = tops[j] + std::ptrdiff_t(y) * steps[j];
            const std::uint16_t* rowPlan = framePlan + std::size_t(y) * std::size_t(set.Width);
            for (std::int32_t x = 0; x < set.Width; ++x) {
                const std::uint16_t first = rowPlan[x];
                if (std::size_t(first) != j && first != kBackground)
                    row[x] = tops[first][std::ptrdiff_t(y) * steps[first] + x];
            }
        }
    });
    return reduced;
}

} // namespace zx
