#pragma once

// The export as one job that needs no window: from a snapshot of the flag
// (settings, texture, lighting table and, at scale 1, the frames rendered so
// far) it renders the missing frames side by side on the worker pool, hands
// the frames to a writer that turns them into a file's bytes (the GIF's:
// palette, reduction, GIF model, LZW), and writes the file atomically.
// zephyrix-cli runs it on its own thread; the desktop program runs it on a
// worker thread and watches its progress while the window goes on.
//
// Any other thread may cancel it: every long loop on the way checks the
// job's token (core/Cancel.h), so it stops within a row of a frame, and a
// cancel that succeeds means that nothing is written. A writer is the seam
// for other output formats: it gets the rendered frames (24-bit pictures and
// 8-bit masks, 255 where the flag is not) and returns the file's bytes.

#include "core/Cancel.h"
#include "core/flag/FlagModel.h"
#include "core/flag/FlagRendererCoverage.h"
#include "core/gif/GIFExport.h"
#include "core/gif/MaskRuns.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zx {

// What an export is made of, copied from the flag when it starts: whatever
// the user changes afterwards does not reach it. The pictures are the
// snapshot's own (no storage shared with the flag), so another thread may
// work on them while the flag's own go on changing.
struct TExportSnapshot {
    FlagParameters Params;
    // The frame size at scale 1 and the wave's steps.
    TFlagDerived Derived;
    // The prepared texture (24 bits) and its alpha plane (empty for none).
    TDIB Texture;
    TDIB Alpha;
    TLightTable Light {};
    TExportOptions Options;
    // One of kExportScales: the frames are this many times the frame size.
    std::int32_t ExportScale = 1;
    // The frames rendered so far, used as they are where FrameRendered is
    // set (only at scale 1, where the flag's frames are the export's).
    std::unique_ptr<TFrameStore> Store;
};

// The snapshot of a flag model with the export's options and scale.
TExportSnapshot TakeExportSnapshot(
    const TFlagModel& model, const TExportOptions& options, std::int32_t exportScale);

// Where a job stands.
enum class TExportStage : std::int32_t {
    Starting,
    Rendering,
    Palette,
    Reducing,
    Encoding,
    Writing,
    Finished,
};

// A job's progress, written by the job's threads and read by anyone.
struct TExportProgress {
    std::atomic<TExportStage> Stage { TExportStage::Starting };
    // Frames in the loop; those that are rendered (including the ones the
    // snapshot brought) and those that are reduced to the palette.
    std::atomic<std::int32_t> Frames { 0 };
    std::atomic<std::int32_t> FramesRendered { 0 };
    std::atomic<std::int32_t> FramesReduced { 0 };
    // Bytes of the file coded so far, the file's size once it is coded (0
    // before), and the bytes of it written to the disk.
    std::atomic<std::uint64_t> BytesCoded { 0 };
    std::atomic<std::uint64_t> FileBytes { 0 };
    std::atomic<std::uint64_t> BytesWritten { 0 };
    // The try a size limit's search is coding, counted from 1; 0 outside
    // the search.
    std::atomic<std::int32_t> FitTry { 0 };
    // The status texts of the export ("正在渲染 帧 #n", "正在创建调色板",
    // ...), for zephyrix-cli's terminal; called on the job's threads, never
    // two at a time. Set it before the job starts.
    TExportStatus Status;

    void Say(const std::string& text) const
    {
        if (Status)
            Status(text);
    }
};

// The rendered frames as a writer gets them: Count() frames of one size.
class TExportFrames {
public:
    TExportFrames();
    ~TExportFrames();
    TExportFrames(TExportFrames&&) noexcept;
    TExportFrames& operator=(TExportFrames&&) noexcept;

    std::int32_t Count() const { return m_count; }
    // 24-bit pictures.
    std::span<const TDIB> Bitmaps() const;
    // 8-bit planes of each frame's size, 255 where the flag does not cover
    // the frame. Only frames that are Transparent() need theirs. The masks a
    // job rendered are kept as runs until they are asked for: this makes the
    // planes of all of them (so it is not to be called on two threads at
    // once), Mask the plane of one.
    std::span<const TDIB> Masks() const;
    TDIB Mask(std::int32_t i) const;
    // The frame has pixels off the flag and the background is transparent.
    std::span<const bool> Transparent() const;

    // The frames serve one writer, which may let a frame's picture or mask
    // go once it is done with them (40 frames of 1920 x 1200 are 276 MB of
    // pictures). A writer that works through the frames more than once (a
    // search for settings that fit a size, say) clears it for its trials.
    bool SingleUse = false;
    void ReleaseBitmap(std::int32_t i);
    void ReleaseMask(std::int32_t i);

    // The frames with coverage alpha (FlagRendererCoverage.h), for a writer
    // that keeps soft edges. They are rendered on the first call only, on the
    // calling thread and the job's workers; with a background colour they
    // are the Bitmaps() themselves (sharing their pixels) with opaque planes
    // left empty; otherwise single-use frames let their pictures and masks go
    // first. Throws EInvalidGraphicOperation for frames of no job.
    const TCoverageFrames& Coverage();

    // The standard level's palette of bits bits over these frames, when the
    // job made it while rendering (TExportJob::GifPaletteAhead); else null.
    const TColorPalette* PaletteMadeAhead(std::int32_t bits) const;

private:
    friend class TExportJob;
    std::unique_ptr<TFrameStore> m_store;
    // The masks the job rendered, where the store has none.
    mutable std::array<TMaskRuns, kFrameSlots> m_runs;
    std::int32_t m_count = 0;
    std::function<TCoverageFrames()> m_renderCoverage;
    std::unique_ptr<TCoverageFrames> m_coverage;
    std::optional<TColorPalette> m_palette;
    std::int32_t m_paletteBits = 0;
};

// Turns the frames into a file's bytes, reporting to the progress (and
// checking the calling thread's cancel token in its long loops).
using TFrameWriter
    = std::function<std::vector<std::uint8_t>(TExportFrames& frames, TExportProgress& progress)>;

// The GIF of the frames: the palette of the options' level, each frame
// reduced to it, the frames with their extensions and one global colour
// table; frames.Count() must be options.Frames. Byte for byte the GIF that
// BuildExportGif makes of the same frames. Releases the frames' pictures
// and masks as it goes when they are single-use.
std::unique_ptr<TGIFImage> BuildGifImage(TExportFrames& frames, const TExportOptions& options,
    TExportProgress& progress, unsigned workers = 0);
// The GIF's bytes, as TGIFImage::SaveToBytes codes them.
std::vector<std::uint8_t> EncodeGifImage(
    const TGIFImage& gif, TExportProgress& progress, unsigned workers = 0);
// BuildGifImage, then EncodeGifImage.
TFrameWriter GifWriter(const TExportOptions& options, unsigned workers = 0);

class TExportJob {
public:
    // A job that only encodes and writes a GIF built elsewhere.
    explicit TExportJob(unsigned workers = 0);
    explicit TExportJob(TExportSnapshot snapshot, unsigned workers = 0);
    ~TExportJob();
    TExportJob(const TExportJob&) = delete;
    TExportJob& operator=(const TExportJob&) = delete;

    TExportProgress& Progress() { return m_progress; }
    const TExportProgress& Progress() const { return m_progress; }
    // Any thread may call it: true when the job will stop without writing
    // anything, false when it has committed its file already and finishes.
    bool Cancel() { return m_token.Cancel(); }
    const TCancelToken& Token() const { return m_token; }

    // At scale 1 the frames the job renders may go back to the flag
    // (ReturnRenderedFrames); they are then kept, not released.
    bool KeepFrames = false;

    // For a GIF writer of the snapshot's options at the standard level:
    // Render also makes that level's palette, frame by frame as the frames
    // are done, so that the octree grows on the workers alongside the render
    // instead of on one thread after it (BuildGifImage takes it; the file is
    // the same). Leave it off for writers that make no such palette (other
    // formats, a size fit): for them it would only cost time.
    bool GifPaletteAhead = false;

    // The stages, each on the calling thread and the worker pool, under the
    // job's token (ECancelled once it is cancelled). Render renders the
    // missing frames (once; later calls return the same frames).
    TExportFrames& Render();
    // Render, then the GIF: what the preview shows.
    std::unique_ptr<TGIFImage> BuildGif();
    // The GIF's bytes.
    std::vector<std::uint8_t> EncodeGif(const TGIFImage& gif);
    // Writes the bytes to path atomically; an existing file stays whole
    // unless the write completes and the job is not cancelled.
    void Write(const std::string& path, std::span<const std::uint8_t> bytes);
    // Render, then the writer's bytes (the GIF's by default): a file to
    // show before it is written.
    std::vector<std::uint8_t> Encode(const TFrameWriter& writer = {});
    // The whole save: Encode, then Write; a place that cannot be written is
    // refused (EFOpenError) before anything is rendered.
    void Save(const std::string& path, const TFrameWriter& writer = {});

    // At scale 1 with KeepFrames, after Render: the frames this job rendered
    // go into the model's empty slots, when the model still shows the flag of
    // the snapshot (same parameters, frame size, lighting and texture).
    // Returns how many slots were filled.
    std::int32_t ReturnRenderedFrames(TFlagModel& model) const;

private:
    template <class Work> auto Run(Work&& work);

    unsigned m_workers;
    TCancelToken m_token;
    TExportProgress m_progress;
    std::unique_ptr<TExportSnapshot> m_snapshot;
    TExportFrames m_frames;
    bool m_rendered = false;
    std::array<bool, kFrameSlots> m_renderedHere {};
};

} // namespace zx
