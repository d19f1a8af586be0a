// Rendering the frames of an export side by side on the worker pool.
//
// Every frame is rendered straight into its own slot: a job writes only its
// slot's frame, mask and flags, so the jobs need no working images of their
// own and share nothing but the read-only texture, lighting table and sine
// tables. The pictures are shaped and made writable on the calling thread
// before any worker starts, and the workers write through raw rows, so no
// TDIB is touched (and no copy-on-write decided) on two threads at once.

#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/FlagRendererKernel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>

namespace zx {

std::vector<TFrameJob> MissingFrameJobs(const TFrameStore& store, std::int32_t frames)
{
    frames = std::clamp<std::int32_t>(frames, 0, kFrameSlots);
    std::vector<TFrameJob> jobs;
    for (std::int32_t k = 0; k < frames; ++k) {
        if (!store.FrameRendered[static_cast<std::size_t>(k)])
            jobs.push_back({ static_cast<std::uint16_t>(k), FramePhase(k, frames) });
    }
    return jobs;
}

bool RenderFrames(TFrameStore& store, std::span<const TFrameJob> jobs, const FlagParameters& params,
    const TFlagDerived& derived, const TDIB& texture, const TDIB& alpha,
    const TLightTable& lightTable, std::int32_t exportScale, unsigned workers,
    const TRenderHooks& hooks)
{
    using namespace render_kernel;

    // The same checks as RenderScaledFrame's, all before the first frame.
    std::array<bool, kFrameSlots> listed {};
    for (const TFrameJob& job : jobs) {
        if (job.Slot >= kFrameSlots)
            throw EInvalidGraphicOperation("Flag frame index out of range");
        if (listed[job.Slot])
            throw EInvalidGraphicOperation("Flag frame slot listed twice");
        listed[job.Slot] = true;
    }
    RequireTexture(texture, alpha);
    const TFrameGeometry geometry = ComputeScaledFrameGeometry(
        params, derived, texture.Width(), texture.Height(), exportScale);
    const TTexels texels = TexelsOf(texture, alpha);
    if (jobs.empty())
        return true;

    // Shaping every slot first also means that running out of memory stops the
    // render before any thread starts. A listed slot counts as not rendered
    // from here until its frame is done, so that one reshaped but not rendered
    // again (after a cancel or a failure) is never taken for a finished frame.
    for (const TFrameJob& job : jobs)
        store.FrameRendered[job.Slot] = false;
    std::vector<TRenderTarget> targets;
    targets.reserve(jobs.size());
    for (const TFrameJob& job : jobs) {
        if (hooks.Mask) {
            store.FrameMasks[job.Slot] = TDIB();
            targets.push_back(TargetOf(store.FrameBitmaps[job.Slot], geometry, params));
        } else {
            targets.push_back(TargetOf(
                store.FrameBitmaps[job.Slot], store.FrameMasks[job.Slot], geometry, params));
        }
    }
    // The tables below read the target's shape only, never its mask rows.

    // The tables depend on the geometry alone: one set serves every frame.
    const TShading shading = PrepareShading(geometry,
        TSampler(geometry, texture.Width(), texture.Height(), 0), texels, targets.front());

    std::mutex hookLock;
    std::atomic<bool> cancelled { false };
    std::int32_t done = 0;
    // Written by the job of each index only.
    std::vector<char> rendered(jobs.size(), 0);
    ParallelFor(jobs.size(), workers, [&](std::size_t i) {
        if (cancelled.load(std::memory_order_relaxed))
            return;
        if (hooks.Cancel) {
            std::lock_guard lock(hookLock);
            if (hooks.Cancel()) {
                cancelled = true;
                return;
            }
        }
        const TFrameJob& job = jobs[i];
        const TSampler sampler(geometry, texture.Width(), texture.Height(), job.Phase);
        // The worker's own mask plane, when the masks go to the hook.
        TDIB mask;
        TRenderTarget target = targets[i];
        if (hooks.Mask)
            AttachMask(target, mask);
        const bool anyOutside
            = RenderPixels(geometry, params.Radial, sampler, shading, texels, lightTable, target);
        const bool transparent = anyOutside && params.TransparentMode;
        store.FrameTransparent[job.Slot] = transparent;
        if (hooks.Mask) {
            hooks.Mask(job.Slot, mask, transparent);
            mask = TDIB();
        }
        store.FrameRendered[job.Slot] = true;
        rendered[i] = 1;
        if (hooks.Done)
            hooks.Done(job.Slot);
        std::lock_guard lock(hookLock);
        ++done;
        if (hooks.Progress)
            hooks.Progress(done);
    });

    for (std::size_t i = jobs.size(); i-- > 0;) {
        if (rendered[i]) {
            store.WorkImage = store.FrameBitmaps[jobs[i].Slot];
            break;
        }
    }
    return !cancelled;
}

} // namespace zx
