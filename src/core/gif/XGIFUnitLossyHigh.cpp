// The high quality level with loss: its Floyd-Steinberg diffusion and exact
// nearest-colour search as the lossy coder's model, and its rule that a pixel
// repeating the colour it had in an earlier frame starts from the entry it got
// there, so that still parts flicker no more than the loss allows.

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnitDitherHigh.h"
#include "core/gif/XGIFUnitLossy.h"
#include "core/gif/XGIFUnitLossyCoder.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitQuantizeHigh.h"
#include "core/gif/XGIFUnitReadRGB.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>

namespace zx {

namespace {

    constexpr std::int32_t kFraction = 8;
    constexpr std::int32_t kOne = 1 << kFraction;
    constexpr std::int32_t kMaxValue = 255 << kFraction;

    std::int32_t DeadZone(std::int32_t error, std::int32_t zone)
    {
        return error - std::clamp(error, -zone, zone);
    }

    using highq::kBackground;

    // How much of what a continuing entry adds to a pixel's error is passed
    // on, in 1/16: half. Passing all of it on gains blurred PSNR and loses
    // more plain PSNR at the same size (photo-cat cut by 35 %: 33.7 / 46.7 dB
    // with all, 35.1 / 45.4 with half, 35.3 / 43.2 with none).
    constexpr std::int32_t kLossyCarry = 8;

    // Floyd-Steinberg (7 / 3 5 1, out of 16) in file order with values of 8
    // fractional bits, the strength and dead zone the lossless level chose
    // for the animation, as the look-ahead's model. A pixel whose colour the
    // palette holds starts from that colour, without the error that reached
    // it, as without loss, and a still pixel (one with the colour it had in
    // an earlier frame) from the colour of the entry it got there; either may
    // still take another entry within the slack of it, and then passes the
    // difference on. Holding still pixels to their earlier entries instead
    // breaks the strings the coder follows wherever the picture stands still:
    // the files shrank little or even grew with the level (flag-br at 100
    // and 200: 585 196 and 612 674 bytes, against 278 671 and 209 683 now).
    class TFloydModel {
    public:
        // The error for the next pixel (7/16 of the last one's), per
        // component red, green, blue.
        struct TAhead {
            std::int32_t Seven[3];
        };
        struct TValue {
            std::int32_t Fine[3];
            std::int32_t Rounded[3];
            // The nearest entry where the value is a colour of the palette
            // (the lowest index of that colour, as the search finds it), else
            // -1.
            std::int32_t Exact;
        };
        static constexpr bool kStepNeedsNearest = true;

        // The search and the exact colours are the palette's and must
        // outlive the model.
        TFloydModel(std::int32_t width, TNearestColor& search, const highq::TExactColours& exact,
            const std::array<std::uint8_t, 256>& canonical, std::uint8_t transparentIndex,
            std::pair<std::int32_t, std::int32_t> strength)
            : m_width(width)
            , m_strength(strength.first)
            , m_deadZone(strength.second)
            , m_search(search)
            , m_exact(exact)
            , m_canonical(canonical)
            , m_transparentIndex(transparentIndex)
            , m_rows(std::size_t(width + 2) * 3 * 2)
            , m_exactRow(std::size_t(width))
        {
            for (std::int32_t i = 0; i < m_search.EntryCount(); ++i) {
                const TPaletteEntry& e = m_search.Entry(i);
                m_colours[std::size_t(i) * 3] = e.Red;
                m_colours[std::size_t(i) * 3 + 1] = e.Green;
                m_colours[std::size_t(i) * 3 + 2] = e.Blue;
            }
        }

        std::int32_t Entries() const { return m_search.EntryCount(); }

        void StartFrame(std::uint16_t self)
        {
            m_self = self;
            std::fill(m_rows.begin(), m_rows.end(), 0);
            m_cur = m_rows.data() + 3;
            m_next = m_cur + RowCells();
        }

        // plan: the row's owners; owners: each frame's reduced row y.
        void StartRow(
            const std::uint8_t* bgr, const std::uint16_t* plan, const std::uint8_t* const* owners)
        {
            m_bgr = bgr;
            m_plan = plan;
            m_owners = owners;
            for (std::int32_t x = 0; x < m_width; ++x) {
                const std::uint8_t* p = bgr + 3 * x;
                const std::uint32_t colour
                    = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
                m_exactRow[std::size_t(x)] = static_cast<std::int16_t>(m_exact.Find(colour));
            }
        }

        void EndRow()
        {
            std::swap(m_cur, m_next);
            std::fill(m_next - 3, m_next - 3 + RowCells(), 0);
        }

        bool Fixed(std::int32_t x, std::int32_t& symbol) const
        {
            if (m_plan[x] != kBackground)
                return false;
            symbol = m_transparentIndex;
            return true;
        }

        void Value(std::int32_t x, const TAhead& ahead, TValue& value) const
        {
            const std::uint16_t owner = m_plan[x];
            if (owner != m_self) {
                // Still: the earlier frame's entry, whatever reached it.
                const std::uint8_t entry = m_owners[owner][x];
                const std::int32_t* c = &m_colours[std::size_t(entry) * 3];
                for (int k = 0; k < 3; ++k) {
                    value.Fine[k] = c[k] << kFraction;
                    value.Rounded[k] = c[k];
                }
                value.Exact = m_canonical[entry];
                return;
            }
            const std::uint8_t* pixel = m_bgr + 3 * x;
            // A colour the palette holds ignores the error that reached it,
            // so that the neighbours' loss does not run across a flat field.
            if (m_exactRow[std::size_t(x)] >= 0) {
                for (int c = 0; c < 3; ++c) {
                    value.Fine[c] = pixel[2 - c] << kFraction;
                    value.Rounded[c] = pixel[2 - c];
                }
                value.Exact = m_exactRow[std::size_t(x)];
                return;
            }
            value.Exact = -1;
            const std::int32_t* here = m_cur + 3 * x;
            for (int c = 0; c < 3; ++c) {
                value.Fine[c] = std::clamp(
                    (pixel[2 - c] << kFraction) + here[c] + ahead.Seven[c], 0, kMaxValue);
                value.Rounded[c] = (value.Fine[c] + kOne / 2) >> kFraction;
            }
        }

        std::int32_t Nearest(const TValue& value)
        {
            if (value.Exact >= 0)
                return value.Exact;
            return m_canonical[std::size_t(
                m_search.Find(value.Rounded[0], value.Rounded[1], value.Rounded[2]))];
        }

        static std::int32_t Limit(std::int32_t nearest, std::int32_t slack)
        {
            return nearest + slack;
        }

        std::int32_t Distance(const TValue& value, std::int32_t entry) const
        {
            const std::int32_t* c = &m_colours[std::size_t(entry) * 3];
            const std::int32_t dr = value.Rounded[0] - c[0];
            const std::int32_t dg = value.Rounded[1] - c[1];
            const std::int32_t db = value.Rounded[2] - c[2];
            return dr * dr + dg * dg + db * db;
        }

        // The error of a pixel coded with entry: the nearest entry's beyond
        // the dead zone at the chosen strength, and part of what the entry
        // adds to it.
        void Error(const TValue& value, std::int32_t nearest, std::int32_t entry,
            std::int32_t* error) const
        {
            for (int c = 0; c < 3; ++c) {
                const std::int32_t n = m_colours[std::size_t(nearest) * 3 + std::size_t(c)]
                    << kFraction;
                const std::int32_t e = m_colours[std::size_t(entry) * 3 + std::size_t(c)]
                    << kFraction;
                std::int32_t own = DeadZone(value.Fine[c] - n, m_deadZone);
                if (m_strength != 256)
                    own = Sar(own * m_strength, 8);
                error[c] = own + Sar((n - e) * kLossyCarry, 4);
            }
        }

        void Step(
            TAhead& ahead, const TValue& value, std::int32_t nearest, std::int32_t entry) const
        {
            std::int32_t error[3];
            Error(value, nearest, entry, error);
            for (int c = 0; c < 3; ++c)
                ahead.Seven[c] = Sar(error[c] * 7, 4);
        }

        static void StepFixed(TAhead& ahead) { ahead = TAhead {}; }

        // nearest: the entry nearest to the column's value, as the look-ahead
        // found it.
        void Commit(std::int32_t x, TAhead& ahead, std::int32_t symbol, std::int32_t nearest)
        {
            std::int32_t fixed = 0;
            if (Fixed(x, fixed)) {
                m_usesTransparent = true;
                StepFixed(ahead);
                return;
            }
            m_used[std::size_t(symbol)] = true;
            TValue value;
            Value(x, ahead, value);
            std::int32_t error[3];
            Error(value, nearest, symbol, error);
            std::int32_t* below = m_next + 3 * x;
            for (int c = 0; c < 3; ++c) {
                // 7/16 ahead, 3/16 below behind, 5/16 below, and what is left
                // below ahead, so that no part of the error is lost.
                const std::int32_t seven = Sar(error[c] * 7, 4);
                const std::int32_t three = Sar(error[c] * 3, 4);
                const std::int32_t five = Sar(error[c] * 5, 4);
                ahead.Seven[c] = seven;
                below[c - 3] += three;
                below[c] += five;
                below[c + 3] += error[c] - seven - three - five;
            }
        }

        std::array<bool, 256>& Used() { return m_used; }
        bool UsesTransparent() const { return m_usesTransparent; }

    private:
        std::size_t RowCells() const { return std::size_t(m_width + 2) * 3; }

        std::int32_t m_width;
        std::int32_t m_strength;
        std::int32_t m_deadZone;
        TNearestColor& m_search;
        const highq::TExactColours& m_exact;
        const std::array<std::uint8_t, 256>& m_canonical;
        std::uint8_t m_transparentIndex;
        std::array<std::int32_t, 256 * 3> m_colours {};
        std::vector<std::int32_t> m_rows;
        std::int32_t* m_cur = nullptr;
        std::int32_t* m_next = nullptr;
        std::uint16_t m_self = 0;
        const std::uint8_t* m_bgr = nullptr;
        const std::uint16_t* m_plan = nullptr;
        const std::uint8_t* const* m_owners = nullptr;
        std::array<bool, 256> m_used {};
        bool m_usesTransparent = false;
        // The entry of each pixel of the row whose colour the palette has
        // (-1: none).
        std::vector<std::int16_t> m_exactRow;
    };

    // Searches lent to the frames one at a time. A search lists the
    // candidates of each cell it meets, and a frame finds most of its cells
    // listed by the frames the same search served before: with a search of
    // its own, every frame listed them all again (a twentieth of a lossy
    // export). The search is exact, so which one serves a frame does not
    // matter.
    class TSearchPool {
    public:
        explicit TSearchPool(const TColorPalette& palette)
            : m_palette(palette)
        {
        }

        std::unique_ptr<TNearestColor> Take()
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_free.empty())
                return std::make_unique<TNearestColor>(m_palette);
            std::unique_ptr<TNearestColor> search = std::move(m_free.back());
            m_free.pop_back();
            return search;
        }

        void Give(std::unique_ptr<TNearestColor> search)
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_free.push_back(std::move(search));
        }

    private:
        const TColorPalette& m_palette;
        std::mutex m_mutex;
        std::vector<std::unique_ptr<TNearestColor>> m_free;
    };

} // namespace

TLossyFrames ReduceFramesLossyHigh(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, const TLossyCoding& coding,
    unsigned threads)
{
    const highq::TFrameSet set = highq::CheckFrames(frames, masks, transparent);
    const std::int32_t width = set.Width;
    const std::int32_t height = set.Height;

    TLossyFrames result;
    for (const TDIB& frame : frames)
        result.Frames.push_back(MakeReducedBitmap(frame, palette));
    result.DataBytes.assign(frames.size(), 0);
    if (result.Frames.front().Empty())
        return result;

    const std::vector<std::uint16_t> plan = highq::MakePlan(set, threads);
    // A plain pair, not a structured binding: the workers' lambda captures it.
    const auto strength = highq::ChooseStrength(set, palette, threads);
    const std::array<std::uint8_t, 256> canonical = CanonicalEntries(palette);
    const lossy::TNeighbourLists neighbours = lossy::FindNeighbours(palette, canonical);
    TSearchPool searches(palette);
    std::unique_ptr<TNearestColor> firstSearch = searches.Take();
    const highq::TExactColours exact(*firstSearch);
    searches.Give(std::move(firstSearch));
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    std::vector<std::array<bool, 256>> used(frames.size());
    std::vector<char> usesTransparent(frames.size(), 0);

    // A frame codes row y once every earlier frame has, since its still
    // pixels take their indices from there: the frames run side by side a
    // row apart, and the result is the same on any number of threads.
    std::vector<std::atomic<std::int32_t>> rowsDone(frames.size());
    for (auto& done : rowsDone)
        done.store(0);
    std::atomic<bool> failed { false };
    ParallelFor(frames.size(), threads, [&](std::size_t j) {
        // However the frame ends, the frames after it stop waiting for it.
        struct TRelease {
            std::atomic<std::int32_t>& Done;
            ~TRelease()
            {
                Done.store(INT_MAX, std::memory_order_release);
                Done.notify_all();
            }
        } release { rowsDone[j] };
        // The search goes back to the pool when the frame is done, or has
        // failed.
        struct TLease {
            TSearchPool& Pool;
            std::unique_ptr<TNearestColor> Search;
            ~TLease() { Pool.Give(std::move(Search)); }
        } lease { searches, searches.Take() };
        try {
            TFloydModel model(
                width, *lease.Search, exact, canonical, coding.TransparentIndex, strength);
            TLzwStringTable table(coding.CodeSize);
            lossy::TLookaheadCoder<TFloydModel> coder(
                model, table, neighbours, model.Entries(), coding.Level, width);
            model.StartFrame(static_cast<std::uint16_t>(j));
            TRowReader24 rows(frames[j]);
            std::vector<const std::uint8_t*> owners(frames.size());
            for (std::int32_t y = 0; y < height; ++y) {
                ThrowIfCancelled();
                if (j > 0) {
                    std::atomic<std::int32_t>& before = rowsDone[j - 1];
                    for (;;) {
                        const std::int32_t done = before.load(std::memory_order_acquire);
                        if (failed.load())
                            return;
                        if (done > y)
                            break;
                        before.wait(done, std::memory_order_acquire);
                    }
                }
                for (std::size_t i = 0; i < j; ++i)
                    owners[i] = result.Frames[i].ConstScanLine(y);
                model.StartRow(
                    rows.Row(y), plan.data() + j * pixels + std::size_t(y) * width, owners.data());
                coder.CodeRow(result.Frames[j].ScanLine(y), y);
                model.EndRow();
                rowsDone[j].store(y + 1, std::memory_order_release);
                rowsDone[j].notify_all();
            }
            result.DataBytes[j] = table.DataBytes();
            used[j] = model.Used();
            usesTransparent[j] = model.UsesTransparent();
        } catch (...) {
            // Frames waiting for this one give up instead of waiting for ever.
            failed.store(true);
            throw;
        }
    });
    lossy::GatherUsedEntries(result, used, usesTransparent);
    return result;
}

} // namespace zx
