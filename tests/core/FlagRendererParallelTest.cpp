// RenderFrames: the frames of an export rendered side by side on the worker
// pool come out as a plain loop of RenderScaledFrame calls would leave them,
// for any number of threads; cancelling stops between frames and leaves
// exactly the rendered slots marked; the progress count runs 1..n.

#include "core/Errors.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/imaging/DefaultImage.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zx {
namespace {

    bool SameRows(const TDIB& a, const TDIB& b)
    {
        if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
            return false;
        const std::size_t bytes = std::size_t(a.Width()) * std::size_t(a.BitCount() / 8);
        for (std::int32_t y = 0; y < a.Height(); ++y)
            if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), bytes) != 0)
                return false;
        return true;
    }

    struct TExportScene {
        FlagParameters Params;
        TFlagDerived Derived;
        TDIB Texture;
        TDIB Alpha;
        TLightTable Light;
        std::int32_t Scale = 1;

        TExportScene(bool radial, std::int32_t antialias, bool withAlpha, std::int32_t scale,
            std::int32_t hoist = hoNone)
            : Scale(scale)
        {
            Params.Hoist = hoist;
            Params.ShowPole = hoist != hoNone;
            Params.Radial = radial;
            Params.Antialiasing = antialias;
            Params.Frames = 7;
            Params.SpotX = -200;
            Params.SpotY = 90;
            Params.Distance = 20;
            LoadDefaultImage(Texture);
            if (withAlpha) {
                Alpha.SetSize(Texture.Width(), Texture.Height(), 8);
                for (std::int32_t y = 0; y < Alpha.Height(); ++y)
                    for (std::int32_t x = 0; x < Alpha.Width(); ++x)
                        Alpha.ScanLine(y)[x] = std::uint8_t((x * 5 + y * 3) % 256);
            }
            Derived = DeriveFlagValues(Params, 61, 43);
            Light = BuildLightTable(Params.Brightness, Params.Contrast, Params.InvertLightMode);
        }

        // The plain loop: the jobs one after another.
        void RenderSerially(TFrameStore& store, const std::vector<TFrameJob>& jobs) const
        {
            for (const TFrameJob& job : jobs)
                RenderScaledFrame(
                    store, job.Slot, job.Phase, Params, Derived, Texture, Alpha, Light, Scale);
        }
        bool RenderInParallel(TFrameStore& store, const std::vector<TFrameJob>& jobs,
            unsigned workers, const TRenderHooks& hooks = {}) const
        {
            return RenderFrames(
                store, jobs, Params, Derived, Texture, Alpha, Light, Scale, workers, hooks);
        }
    };

    void ExpectSameSlots(const TFrameStore& a, const TFrameStore& b)
    {
        for (std::size_t k = 0; k < kFrameSlots; ++k) {
            ASSERT_EQ(a.FrameRendered[k], b.FrameRendered[k]) << k;
            if (!a.FrameRendered[k])
                continue;
            EXPECT_TRUE(SameRows(a.FrameBitmaps[k], b.FrameBitmaps[k])) << k;
            EXPECT_TRUE(SameRows(a.FrameMasks[k], b.FrameMasks[k])) << k;
            EXPECT_EQ(a.FrameTransparent[k], b.FrameTransparent[k]) << k;
        }
    }

    TEST(FlagRendererParallel, MatchesThePlainLoopOnAnyNumberOfThreads)
    {
        struct Case {
            bool radial;
            std::int32_t antialias;
            bool alpha;
            std::int32_t scale;
            std::int32_t hoist = hoNone;
        };
        for (const Case c : { Case { false, 0, false, 1 }, Case { true, 1, true, 1 },
                 Case { false, 2, true, 3 }, Case { true, 0, false, 2 },
                 Case { false, 1, true, 2, hoLeft }, Case { true, 0, false, 3, hoBottom } }) {
            SCOPED_TRACE("radial " + std::to_string(c.radial) + " D " + std::to_string(c.antialias)
                + " alpha " + std::to_string(c.alpha) + " scale " + std::to_string(c.scale)
                + " hoist " + std::to_string(c.hoist));
            const TExportScene scene(c.radial, c.antialias, c.alpha, c.scale, c.hoist);
            // Slots out of order, with gaps, beyond the loop's length too.
            const std::vector<TFrameJob> jobs { { 4, FramePhase(4, 7) }, { 0, 0 },
                { 6, FramePhase(6, 7) }, { 2, 1170 }, { 39, 4095 }, { 3, FramePhase(3, 7) } };
            TFrameStore serial;
            scene.RenderSerially(serial, jobs);
            for (const unsigned workers : { 1u, 2u, 3u, 16u }) {
                SCOPED_TRACE("workers " + std::to_string(workers));
                TFrameStore parallel;
                EXPECT_TRUE(scene.RenderInParallel(parallel, jobs, workers));
                ExpectSameSlots(serial, parallel);
                // The last job's frame, as the plain loop leaves it.
                EXPECT_TRUE(SameRows(parallel.WorkImage, serial.WorkImage));
                EXPECT_TRUE(SameRows(parallel.WorkImage, parallel.FrameBitmaps[3]));
            }
        }
    }

    TEST(FlagRendererParallel, TheMaskHookGetsEachFrameMaskAndTheStoreKeepsNone)
    {
        // Transparent (some frames with background pixels) and opaque.
        for (const bool transparentMode : { true, false }) {
            SCOPED_TRACE(transparentMode);
            TExportScene scene(true, 1, true, 2);
            scene.Params.TransparentMode = transparentMode;
            const std::vector<TFrameJob> jobs { { 5, FramePhase(5, 7) }, { 1, FramePhase(1, 7) },
                { 3, FramePhase(3, 7) }, { 0, 0 } };
            TFrameStore serial;
            scene.RenderSerially(serial, jobs);
            for (const unsigned workers : { 1u, 2u, 3u }) {
                SCOPED_TRACE(workers);
                TFrameStore parallel;
                // A stale mask in a listed slot goes too.
                parallel.FrameMasks[3].SetSize(4, 4, 8);
                std::vector<TDIB> handed(kFrameSlots);
                std::vector<int> calls(kFrameSlots, 0);
                std::vector<char> said(kFrameSlots, 0);
                TRenderHooks hooks;
                hooks.Mask = [&](std::uint16_t slot, const TDIB& mask, bool transparent) {
                    // Each slot only from its own job: no lock needed here.
                    ++calls[slot];
                    said[slot] = transparent;
                    handed[slot] = mask;
                    // An own copy: the plane is the worker's.
                    handed[slot].ScanLine(0);
                };
                EXPECT_TRUE(scene.RenderInParallel(parallel, jobs, workers, hooks));
                bool anyTransparent = false;
                for (const TFrameJob& job : jobs) {
                    const std::size_t k = job.Slot;
                    EXPECT_EQ(calls[k], 1) << k;
                    EXPECT_TRUE(parallel.FrameMasks[k].Empty()) << k;
                    EXPECT_TRUE(SameRows(handed[k], serial.FrameMasks[k])) << k;
                    EXPECT_EQ(bool(said[k]), serial.FrameTransparent[k]) << k;
                    EXPECT_EQ(parallel.FrameTransparent[k], serial.FrameTransparent[k]) << k;
                    EXPECT_TRUE(SameRows(parallel.FrameBitmaps[k], serial.FrameBitmaps[k])) << k;
                    anyTransparent = anyTransparent || serial.FrameTransparent[k];
                }
                EXPECT_EQ(anyTransparent, transparentMode);
                EXPECT_EQ(calls[2], 0);
            }
        }
    }

    TEST(FlagRendererParallel, ReplacesStaleSlotsOfAnotherSizeAndKeepsTheOthers)
    {
        const TExportScene scene(false, 1, false, 2);
        TFrameStore store;
        // Slots 0 and 1 hold frames of another size and setting; only 1 is
        // rendered again.
        const TExportScene other(true, 0, false, 1);
        other.RenderSerially(store, { { 0, 0 }, { 1, 0 } });
        // A copy shares the pixels until either side is written.
        const TDIB kept = store.FrameBitmaps[0];
        ASSERT_TRUE(scene.RenderInParallel(store, { { 1, 500 } }, 2));
        EXPECT_EQ(store.FrameBitmaps[1].Width(), 122);
        EXPECT_EQ(store.FrameMasks[1].Height(), 86);
        EXPECT_EQ(store.FrameBitmaps[0].Width(), 61);
        EXPECT_EQ(store.FrameBitmaps[0].Image(), kept.Image());
        TFrameStore serial;
        scene.RenderSerially(serial, { { 1, 500 } });
        EXPECT_TRUE(SameRows(store.FrameBitmaps[1], serial.FrameBitmaps[1]));
    }

    TEST(FlagRendererParallel, MissingFrameJobsAreTheStaleSlotsOfTheLoop)
    {
        TFrameStore store;
        store.FrameRendered[1] = store.FrameRendered[4] = store.FrameRendered[9] = true;
        const std::vector<TFrameJob> jobs = MissingFrameJobs(store, 6);
        const std::vector<TFrameJob> want { { 0, 0 }, { 2, FramePhase(2, 6) },
            { 3, FramePhase(3, 6) }, { 5, FramePhase(5, 6) } };
        EXPECT_EQ(jobs, want);
        EXPECT_EQ(jobs[1].Phase, 1365);
        EXPECT_TRUE(MissingFrameJobs(store, 0).empty());
        EXPECT_EQ(MissingFrameJobs(store, 100).size(), std::size_t(kFrameSlots - 3));
    }

    TEST(FlagRendererParallel, CancelStopsBetweenFramesAndMarksOnlyTheRenderedSlots)
    {
        const TExportScene scene(true, 1, false, 1);
        TFrameStore all;
        std::vector<TFrameJob> jobs;
        for (std::uint16_t k = 0; k < 12; ++k)
            jobs.push_back({ k, FramePhase(k, 12) });
        scene.RenderSerially(all, jobs);

        // One worker asks before every frame, in order: the third answer stops
        // it. The slots held finished frames before; the ones not rendered
        // again are stale now.
        {
            TFrameStore store = all;
            int asked = 0;
            std::vector<std::int32_t> progress;
            TRenderHooks hooks;
            hooks.Cancel = [&] { return ++asked == 3; };
            hooks.Progress = [&](std::int32_t done) { progress.push_back(done); };
            EXPECT_FALSE(scene.RenderInParallel(store, jobs, 1, hooks));
            EXPECT_EQ(asked, 3);
            EXPECT_EQ(progress, (std::vector<std::int32_t> { 1, 2 }));
            for (std::size_t k = 0; k < 12; ++k)
                EXPECT_EQ(store.FrameRendered[k], k < 2) << k;
            EXPECT_TRUE(SameRows(store.FrameBitmaps[1], all.FrameBitmaps[1]));
            EXPECT_TRUE(SameRows(store.WorkImage, all.FrameBitmaps[1]));
        }
        // Several workers: whatever was rendered is marked, and right.
        for (const int stopAfter : { 0, 4, 11 }) {
            TFrameStore store;
            std::atomic<int> asked { 0 };
            std::atomic<int> lastProgress { 0 };
            TRenderHooks hooks;
            hooks.Cancel = [&] { return asked++ >= stopAfter; };
            hooks.Progress = [&](std::int32_t done) {
                EXPECT_EQ(done, lastProgress + 1);
                lastProgress = done;
            };
            EXPECT_FALSE(scene.RenderInParallel(store, jobs, 3, hooks));
            int rendered = 0;
            for (std::size_t k = 0; k < 12; ++k) {
                if (!store.FrameRendered[k])
                    continue;
                ++rendered;
                EXPECT_TRUE(SameRows(store.FrameBitmaps[k], all.FrameBitmaps[k])) << k;
                EXPECT_TRUE(SameRows(store.FrameMasks[k], all.FrameMasks[k])) << k;
            }
            EXPECT_EQ(rendered, stopAfter);
            EXPECT_EQ(lastProgress, stopAfter);
        }
        // A hook that never stops: every frame, counted to the end.
        {
            TFrameStore store;
            std::int32_t last = 0;
            TRenderHooks hooks;
            hooks.Cancel = [] { return false; };
            hooks.Progress = [&](std::int32_t done) { last = done; };
            EXPECT_TRUE(scene.RenderInParallel(store, jobs, 4, hooks));
            EXPECT_EQ(last, 12);
            ExpectSameSlots(all, store);
        }
    }

    TEST(FlagRendererParallel, RefusesBadJobsBeforeRenderingAnything)
    {
        const TExportScene scene(false, 0, false, 1);
        const auto refused = [&](const std::vector<TFrameJob>& jobs, const TExportScene& s) {
            TFrameStore store;
            EXPECT_THROW(s.RenderInParallel(store, jobs, 2), EInvalidGraphicOperation);
            for (const bool rendered : store.FrameRendered)
                EXPECT_FALSE(rendered);
        };
        refused({ { 0, 0 }, { 3, 0 }, { 0, 100 } }, scene);
        refused({ { 1, 0 }, { 40, 0 } }, scene);
        TExportScene badScale = scene;
        badScale.Scale = 5;
        refused({ { 0, 0 } }, badScale);
        TExportScene tooLarge = scene;
        tooLarge.Scale = 6;
        tooLarge.Derived = DeriveFlagValues(scene.Params, 330, 100);
        refused({ { 0, 0 } }, tooLarge);
        TExportScene noTexture = scene;
        noTexture.Texture = TDIB();
        refused({ { 0, 0 } }, noTexture);
        // No jobs: nothing to do, but bad inputs are still refused.
        TFrameStore store;
        EXPECT_TRUE(scene.RenderInParallel(store, {}, 2));
        EXPECT_THROW(badScale.RenderInParallel(store, {}, 2), EInvalidGraphicOperation);
    }

} // namespace
} // namespace zx
