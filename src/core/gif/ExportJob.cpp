#include "core/gif/ExportJob.h"

#include "core/Errors.h"
#include "core/Stream.h"
#include "core/WorkerPool.h"
#include "core/flag/FlagParameters.h"
#include "core/gif/PaletteFeed.h"
#include "core/gif/XGIFUnitQuantizeHigh.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zx {

namespace {

    // A copy with storage of its own: the original may be written on another
    // thread while the copy is read.
    TDIB OwnCopy(const TDIB& picture)
    {
        TDIB copy = picture;
        if (!copy.Empty())
            copy.ScanLine(0);
        return copy;
    }

    bool SamePixels(const TDIB& a, const TDIB& b)
    {
        if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
            return false;
        if (a.Empty())
            return true;
        const std::size_t bytes = std::size_t(DIBRowBytes(a.Width(), a.BitCount()));
        for (std::int32_t y = 0; y < a.Height(); ++y)
            if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), bytes) != 0)
                return false;
        return true;
    }

    // Frames of the standard level are reduced in fours (each frame still
    // with its own lookup and ditherer, so the grouping changes no index).
    constexpr std::int32_t kReduceGroup = 4;

} // namespace

TExportSnapshot TakeExportSnapshot(
    const TFlagModel& model, const TExportOptions& options, std::int32_t exportScale)
{
    TExportSnapshot snapshot;
    snapshot.Params = model.Parameters();
    snapshot.Derived = model.Derived();
    if (const TTextureItem* texture = model.Texture()) {
        snapshot.Texture = OwnCopy(texture->Prepared);
        snapshot.Alpha = OwnCopy(texture->Alpha);
    }
    snapshot.Light = model.LightTable();
    snapshot.Options = options;
    snapshot.ExportScale = exportScale;
    snapshot.Store = std::make_unique<TFrameStore>();
    if (exportScale == 1) {
        const TFrameStore& frames = model.FrameStore();
        for (std::size_t k = 0; k < std::size_t(kFrameSlots); ++k) {
            if (!frames.FrameRendered[k])
                continue;
            snapshot.Store->FrameBitmaps[k] = OwnCopy(frames.FrameBitmaps[k]);
            snapshot.Store->FrameMasks[k] = OwnCopy(frames.FrameMasks[k]);
            snapshot.Store->FrameTransparent[k] = frames.FrameTransparent[k];
            snapshot.Store->FrameRendered[k] = true;
        }
    }
    return snapshot;
}

// --- the frames

TExportFrames::TExportFrames()
    : m_store(std::make_unique<TFrameStore>())
{
}

TExportFrames::~TExportFrames() = default;
TExportFrames::TExportFrames(TExportFrames&&) noexcept = default;
TExportFrames& TExportFrames::operator=(TExportFrames&&) noexcept = default;

std::span<const TDIB> TExportFrames::Bitmaps() const
{
    return { m_store->FrameBitmaps.data(), std::size_t(m_count) };
}

std::span<const TDIB> TExportFrames::Masks() const
{
    for (std::size_t i = 0; i < std::size_t(m_count); ++i) {
        if (!m_runs[i].Empty()) {
            m_store->FrameMasks[i] = m_runs[i].Plane();
            m_runs[i] = TMaskRuns();
        }
    }
    return { m_store->FrameMasks.data(), std::size_t(m_count) };
}

TDIB TExportFrames::Mask(std::int32_t i) const
{
    if (i < 0 || i >= m_count)
        return TDIB();
    const std::size_t k = std::size_t(i);
    return m_runs[k].Empty() ? m_store->FrameMasks[k] : m_runs[k].Plane();
}

std::span<const bool> TExportFrames::Transparent() const
{
    return { m_store->FrameTransparent.data(), std::size_t(m_count) };
}

void TExportFrames::ReleaseBitmap(std::int32_t i)
{
    if (SingleUse && i >= 0 && i < m_count)
        m_store->FrameBitmaps[std::size_t(i)] = TDIB();
}

void TExportFrames::ReleaseMask(std::int32_t i)
{
    if (SingleUse && i >= 0 && i < m_count) {
        m_store->FrameMasks[std::size_t(i)] = TDIB();
        m_runs[std::size_t(i)] = TMaskRuns();
    }
}

const TCoverageFrames& TExportFrames::Coverage()
{
    if (!m_coverage) {
        if (!m_renderCoverage)
            throw EInvalidGraphicOperation("Export frames without a flag to render");
        m_coverage = std::make_unique<TCoverageFrames>(m_renderCoverage());
    }
    return *m_coverage;
}

const TColorPalette* TExportFrames::PaletteMadeAhead(std::int32_t bits) const
{
    return m_palette && m_paletteBits == bits ? &*m_palette : nullptr;
}

// --- the GIF writer

std::unique_ptr<TGIFImage> BuildGifImage(TExportFrames& frames, const TExportOptions& options,
    TExportProgress& progress, unsigned workers)
{
    CheckExportOptions(options);
    const std::int32_t n = options.Frames;
    if (frames.Count() != n)
        throw EInvalidGraphicOperation("Export frames do not match the frame count");
    progress.Stage = TExportStage::Palette;
    const TExportStatus& status = progress.Status;
    // Only the high level reads the masks for its palette; the standard
    // level's frames keep theirs as runs until they are added to the GIF.
    const bool high = options.Quality == TExportQuality::High;
    THighQualityPlan plan;
    const TExportPalette palette = high
        ? BuildHighQualityPaletteAndPlan(
            frames.Bitmaps(), frames.Masks(), frames.Transparent(), options, status, workers, plan)
        : BuildExportPalette(frames.Bitmaps(), frames.Transparent(), options.GIFBits, status,
            frames.PaletteMadeAhead(options.GIFBits));

    progress.Stage = TExportStage::Reducing;
    progress.Say(sStatusRecolouring);
    std::vector<TDIB> reduced;
    if (options.Quality == TExportQuality::High) {
        // The high level takes still pixels from earlier frames: all frames
        // at once.
        reduced = ReduceFramesHighQuality(frames.Bitmaps(), frames.Masks(), frames.Transparent(),
            palette.SharedPalette, workers, plan);
        plan = THighQualityPlan();
        for (std::int32_t i = 0; i < n; ++i)
            frames.ReleaseBitmap(i);
        progress.FramesReduced = n;
    } else {
        reduced.resize(std::size_t(n));
        const std::size_t groups = std::size_t((n + kReduceGroup - 1) / kReduceGroup);
        ParallelFor(groups, workers, [&](std::size_t g) {
            const std::int32_t first = std::int32_t(g) * kReduceGroup;
            const std::int32_t count = std::min(kReduceGroup, n - first);
            std::vector<TDIB> part = ReduceFramesToPalette(
                frames.Bitmaps().subspan(std::size_t(first), std::size_t(count)),
                palette.SharedPalette, 1);
            for (std::int32_t j = 0; j < count; ++j) {
                reduced[std::size_t(first + j)] = std::move(part[std::size_t(j)]);
                frames.ReleaseBitmap(first + j);
            }
            progress.FramesReduced += count;
        });
    }

    auto gif = std::make_unique<TGIFImage>();
    AddExportFrames(
        *gif, reduced, frames.Transparent(), options, palette, workers,
        [&frames](std::size_t i) { return frames.Mask(std::int32_t(i)); },
        [&frames](std::size_t i) { frames.ReleaseMask(std::int32_t(i)); });
    gif->MergeColourMaps();
    progress.Say(std::string());
    return gif;
}

std::vector<std::uint8_t> EncodeGifImage(
    const TGIFImage& gif, TExportProgress& progress, unsigned workers)
{
    progress.Stage = TExportStage::Encoding;
    std::vector<std::uint8_t> bytes
        = gif.SaveToBytes(workers, [&](std::size_t coded) { progress.BytesCoded += coded; });
    progress.FileBytes = bytes.size();
    return bytes;
}

TFrameWriter GifWriter(const TExportOptions& options, unsigned workers)
{
    return [options, workers](TExportFrames& frames, TExportProgress& progress) {
        // The GIF model goes before the bytes are written.
        const std::unique_ptr<TGIFImage> gif = BuildGifImage(frames, options, progress, workers);
        return EncodeGifImage(*gif, progress, workers);
    };
}

// --- the job

TExportJob::TExportJob(unsigned workers)
    : m_workers(workers)
{
}

TExportJob::TExportJob(TExportSnapshot snapshot, unsigned workers)
    : m_workers(workers)
    , m_snapshot(std::make_unique<TExportSnapshot>(std::move(snapshot)))
{
    if (!m_snapshot->Store)
        m_snapshot->Store = std::make_unique<TFrameStore>();
    m_progress.Frames = m_snapshot->Options.Frames;
}

TExportJob::~TExportJob() = default;

template <class Work> auto TExportJob::Run(Work&& work)
{
    const TCancelScope scope(&m_token);
    ThrowIfCancelled();
    return work();
}

TExportFrames& TExportJob::Render()
{
    if (!m_snapshot)
        throw EInvalidGraphicOperation("Export job without a flag to render");
    if (m_rendered)
        return m_frames;
    Run([&] {
        TExportSnapshot& s = *m_snapshot;
        CheckExportOptions(s.Options);
        const std::int32_t n = s.Options.Frames;
        m_progress.Stage = TExportStage::Rendering;
        // The frames are rendered straight into the snapshot's store, which
        // then becomes the writer's.
        TFrameStore& store = *s.Store;
        const std::vector<TFrameJob> jobs = MissingFrameJobs(store, n);
        const std::int32_t ready = n - std::int32_t(jobs.size());
        m_progress.FramesRendered = ready;
        TRenderHooks hooks;
        hooks.Progress = [&](std::int32_t done) {
            m_progress.FramesRendered = ready + done;
            m_progress.Say("正在渲染 帧 #" + std::to_string(ready + done));
        };
        // Frames that stay with the job keep only the masks they need, as
        // runs: a frame without background pixels needs none. Each worker
        // writes only its own slot's runs.
        if (!KeepFrames)
            hooks.Mask = [this](std::uint16_t slot, const TDIB& mask, bool transparent) {
                m_frames.m_runs[slot] = transparent ? TMaskRuns(mask) : TMaskRuns();
            };
        std::optional<TPaletteFeed> palette;
        if (GifPaletteAhead && s.Options.Quality == TExportQuality::Standard) {
            palette.emplace(store, n, s.Options.GIFBits, s.Params.TransparentMode);
            hooks.Done = [&palette](std::uint16_t slot) { palette->FrameDone(slot); };
        }
        RenderFrames(store, jobs, s.Params, s.Derived, s.Texture, s.Alpha, s.Light, s.ExportScale,
            m_workers, hooks);
        if (palette) {
            m_frames.m_palette = palette->Finish();
            m_frames.m_paletteBits = s.Options.GIFBits;
        }
        for (const TFrameJob& job : jobs)
            m_renderedHere[job.Slot] = true;
        // Only a frame with background pixels needs its mask, unless the
        // frames go back to the flag.
        for (std::size_t k = 0; k < std::size_t(kFrameSlots); ++k)
            if (!KeepFrames && (k >= std::size_t(n) || !store.FrameTransparent[k]))
                store.FrameMasks[k] = TDIB();
        store.WorkImage = TDIB();
        m_frames.m_store = std::move(s.Store);
        m_frames.m_count = n;
        m_frames.m_renderCoverage = [this, n] {
            const TExportSnapshot& flag = *m_snapshot;
            if (!flag.Params.TransparentMode) {
                const std::span<const TDIB> bitmaps = m_frames.Bitmaps();
                return TCoverageFrames { { bitmaps.begin(), bitmaps.end() },
                    std::vector<TDIB>(bitmaps.size()) };
            }
            // The writer takes these frames instead: single-use pictures and
            // masks go before the new ones are made.
            std::vector<std::uint16_t> phases;
            for (std::int32_t k = 0; k < n; ++k) {
                m_frames.ReleaseBitmap(k);
                m_frames.ReleaseMask(k);
                phases.push_back(FramePhase(k, n));
            }
            return RenderCoverageFrames(phases, flag.Params, flag.Derived, flag.Texture, flag.Alpha,
                flag.Light, flag.ExportScale, m_workers);
        };
        m_rendered = true;
    });
    return m_frames;
}

std::unique_ptr<TGIFImage> TExportJob::BuildGif()
{
    TExportFrames& frames = Render();
    return Run([&] {
        frames.SingleUse = !KeepFrames;
        return BuildGifImage(frames, m_snapshot->Options, m_progress, m_workers);
    });
}

std::vector<std::uint8_t> TExportJob::EncodeGif(const TGIFImage& gif)
{
    return Run([&] { return EncodeGifImage(gif, m_progress, m_workers); });
}

void TExportJob::Write(const std::string& path, std::span<const std::uint8_t> bytes)
{
    Run([&] {
        m_progress.Stage = TExportStage::Writing;
        m_progress.FileBytes = bytes.size();
        m_progress.Say(sStatusSaving);
        WriteFileAtomic(path, bytes, [&](std::uint64_t written) {
            m_progress.BytesWritten = written;
            ThrowIfCancelled();
        });
        m_progress.Stage = TExportStage::Finished;
    });
}

std::vector<std::uint8_t> TExportJob::Encode(const TFrameWriter& writer)
{
    TExportFrames& frames = Render();
    return Run([&] {
        frames.SingleUse = !KeepFrames;
        const TFrameWriter& write = writer ? writer : GifWriter(m_snapshot->Options, m_workers);
        return write(frames, m_progress);
    });
}

void TExportJob::Save(const std::string& path, const TFrameWriter& writer)
{
    // The file's place first: one that cannot be written is refused before
    // the frames are rendered and coded, not after.
    CheckWritable(path);
    const std::vector<std::uint8_t> bytes = Encode(writer);
    Write(path, bytes);
}

std::int32_t TExportJob::ReturnRenderedFrames(TFlagModel& model) const
{
    if (!m_snapshot || !m_rendered || !KeepFrames || m_snapshot->ExportScale != 1)
        return 0;
    const TExportSnapshot& s = *m_snapshot;
    const TTextureItem* texture = model.Texture();
    if (!texture || model.Parameters() != s.Params || model.Derived() != s.Derived
        || model.LightTable() != s.Light || !SamePixels(texture->Prepared, s.Texture)
        || !SamePixels(texture->Alpha, s.Alpha))
        return 0;
    TFrameStore& target = model.FrameStore();
    const TFrameStore& source = *m_frames.m_store;
    std::int32_t filled = 0;
    for (std::size_t k = 0; k < std::size_t(kFrameSlots); ++k) {
        if (!m_renderedHere[k] || target.FrameRendered[k])
            continue;
        target.FrameBitmaps[k] = source.FrameBitmaps[k];
        target.FrameMasks[k] = source.FrameMasks[k];
        target.FrameTransparent[k] = source.FrameTransparent[k];
        target.FrameRendered[k] = true;
        ++filled;
    }
    return filled;
}

} // namespace zx
