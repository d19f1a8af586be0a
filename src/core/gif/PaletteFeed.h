#pragma once

// The standard level's shared palette, built while the frames are rendered:
// the octree takes the frames in frame order, so it cannot be split over
// threads, but each frame can go in as soon as it and every frame before it
// are done. The tree then grows on the render's workers, between their
// frames, instead of on one thread after the last of them.

#include "core/flag/FlagRenderer.h"
#include "core/gif/XGIFUnitQuantize.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

namespace zx {

class TPaletteFeed {
public:
    // The palette of bits bits over slots 0 .. frames - 1 of store, as
    // BuildExportPalette makes it of the finished frames. transparentMode
    // is the flag's: only then can a frame have transparent pixels, which
    // take one entry off the palette.
    TPaletteFeed(
        const TFrameStore& store, std::int32_t frames, std::int32_t bits, bool transparentMode);

    // The frame in slot is finished: its picture and FrameTransparent are
    // final (any thread; the frames of the store that are rendered already
    // count as finished from the start). The caller inserts it and the
    // finished frames after it, unless another thread is inserting, which
    // then does.
    void FrameDone(std::int32_t slot);

    // After every frame is finished, on one thread: inserts what is left and
    // returns the palette (2^bits entries, one fewer with transparency).
    // Empty when its size could not be known while the frames came in: in
    // transparent mode, when the first frame lies wholly on the flag (a later
    // one may not). Then nothing but the time is lost.
    std::optional<TColorPalette> Finish();

private:
    void InsertReady();

    const TFrameStore& m_store;
    std::int32_t m_frames;
    std::int32_t m_bits;
    bool m_transparentMode;
    std::array<std::atomic<bool>, kFrameSlots> m_done {};
    std::mutex m_lock;
    // Written under m_lock: the next frame to insert, and the tree once the
    // first frame has told its size.
    std::atomic<std::int32_t> m_next = 0;
    std::atomic<bool> m_abandoned = false;
    std::optional<TColorQuantizer> m_quantizer;
};

} // namespace zx
