// The palette made while the frames render: whatever order the frames finish
// in and on however many threads, it is the palette made of the finished
// frames afterwards; when its size cannot be known in time, a frame never
// finishes or a cancel stops one halfway, there is none.

#include "core/gif/PaletteFeed.h"

#include "WavedPictureTestUtil.h"
#include "core/Cancel.h"
#include "core/gif/XGIFUnitQuantize.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace zx {
namespace {

    constexpr std::int32_t kFrames = 12;

    // The waved frames in a store, none of them marked finished yet.
    TFrameStore StoreOf(const TFitFrames& frames, bool transparent)
    {
        TFrameStore store;
        for (std::size_t k = 0; k < frames.Frames.size(); ++k) {
            store.FrameBitmaps[k] = frames.Frames[k];
            store.FrameTransparent[k] = transparent && frames.Transparent[k];
        }
        return store;
    }

    // The frames told finished in order, split over threads threads that
    // each take every threads-th of them.
    void Finish(TPaletteFeed& feed, const std::vector<std::int32_t>& order, unsigned threads)
    {
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (std::size_t i = t; i < order.size(); i += threads)
                    feed.FrameDone(order[i]);
            });
        for (std::thread& worker : workers)
            worker.join();
    }

    TEST(PaletteFeed, IsThePaletteOfTheFinishedFramesWhateverOrderTheyFinishIn)
    {
        const TFitFrames frames = waved_test::WavePicture("photo-cat.png", kFrames, 80, 50);
        ASSERT_TRUE(frames.Transparent[0]);
        std::vector<std::int32_t> inOrder(kFrames);
        std::iota(inOrder.begin(), inOrder.end(), 0);
        std::vector<std::int32_t> reversed(inOrder.rbegin(), inOrder.rend());
        std::vector<std::int32_t> shuffled = inOrder;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
        for (const bool transparent : { false, true }) {
            SCOPED_TRACE(transparent);
            const TFrameStore store = StoreOf(frames, transparent);
            for (const std::int32_t bits : { 3, 6, 8 }) {
                SCOPED_TRACE(bits);
                // A transparent frame takes the last entry.
                const TColorPalette expected
                    = CreateSharedPalette(frames.Frames, (1 << bits) - (transparent ? 1 : 0), bits);
                for (const auto* order : { &inOrder, &reversed, &shuffled })
                    for (const unsigned threads : { 1u, 3u }) {
                        TPaletteFeed feed(store, kFrames, bits, transparent);
                        Finish(feed, *order, threads);
                        const std::optional<TColorPalette> palette = feed.Finish();
                        ASSERT_TRUE(palette.has_value());
                        EXPECT_EQ(*palette, expected);
                    }
            }
        }
    }

    TEST(PaletteFeed, TakesTheFramesRenderedBeforeAndGivesNoneWhenItCannotBeSure)
    {
        const TFitFrames frames = waved_test::WavePicture("flag-br.png", kFrames, 80, 50);
        const std::int32_t bits = 4;
        {
            SCOPED_TRACE("frames 0 to 4 in the store already");
            TFrameStore store = StoreOf(frames, false);
            for (std::size_t k = 0; k < 5; ++k)
                store.FrameRendered[k] = true;
            TPaletteFeed feed(store, kFrames, bits, false);
            std::vector<std::int32_t> rest;
            for (std::int32_t k = kFrames - 1; k >= 5; --k)
                rest.push_back(k);
            Finish(feed, rest, 2);
            const std::optional<TColorPalette> palette = feed.Finish();
            ASSERT_TRUE(palette.has_value());
            EXPECT_EQ(*palette, CreateSharedPalette(frames.Frames, 1 << bits, bits));
        }
        {
            SCOPED_TRACE("transparent mode, the first frame wholly on the flag");
            TFrameStore store = StoreOf(frames, true);
            store.FrameTransparent[0] = false;
            TPaletteFeed feed(store, kFrames, bits, true);
            std::vector<std::int32_t> all(kFrames);
            std::iota(all.begin(), all.end(), 0);
            Finish(feed, all, 2);
            EXPECT_FALSE(feed.Finish().has_value());
        }
        {
            SCOPED_TRACE("a cancel while a frame goes in");
            const TFrameStore store = StoreOf(frames, false);
            TPaletteFeed feed(store, kFrames, bits, false);
            feed.FrameDone(0);
            TCancelToken token;
            {
                const TCancelScope scope(&token);
                token.Cancel();
                EXPECT_THROW(feed.FrameDone(1), ECancelled);
            }
            for (std::int32_t k = 2; k < kFrames; ++k)
                feed.FrameDone(k);
            EXPECT_FALSE(feed.Finish().has_value());
        }
        {
            SCOPED_TRACE("a frame never finished (a cancelled render)");
            const TFrameStore store = StoreOf(frames, false);
            TPaletteFeed feed(store, kFrames, bits, false);
            std::vector<std::int32_t> some(kFrames);
            std::iota(some.begin(), some.end(), 0);
            some.erase(some.begin() + 7);
            Finish(feed, some, 1);
            EXPECT_FALSE(feed.Finish().has_value());
        }
    }

} // namespace
} // namespace zx
