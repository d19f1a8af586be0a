#include "core/gif/PaletteFeed.h"

#include <algorithm>

namespace zx {

TPaletteFeed::TPaletteFeed(
    const TFrameStore& store, std::int32_t frames, std::int32_t bits, bool transparentMode)
    : m_store(store)
    , m_frames(std::clamp<std::int32_t>(frames, 0, kFrameSlots))
    , m_bits(bits)
    , m_transparentMode(transparentMode)
{
    for (std::int32_t k = 0; k < m_frames; ++k)
        m_done[std::size_t(k)].store(
            store.FrameRendered[std::size_t(k)], std::memory_order_relaxed);
}

void TPaletteFeed::FrameDone(std::int32_t slot)
{
    if (slot < 0 || slot >= m_frames)
        return;
    m_done[std::size_t(slot)].store(true, std::memory_order_release);
    InsertReady();
}

void TPaletteFeed::InsertReady()
{
    for (;;) {
        std::unique_lock lock(m_lock, std::try_to_lock);
        if (!lock.owns_lock())
            return; // the thread that has the tree sees this frame too
        while (!m_abandoned && m_next < m_frames
            && m_done[std::size_t(m_next)].load(std::memory_order_acquire)) {
            if (m_next == 0) {
                // The first frame tells the palette's size, unless it has no
                // transparent pixel in transparent mode.
                const bool transparent = m_store.FrameTransparent[0];
                if (m_transparentMode && !transparent) {
                    m_abandoned = true;
                    break;
                }
                const std::int32_t colours = (1 << m_bits) - (transparent ? 1 : 0);
                m_quantizer.emplace(colours, m_bits);
            }
            try {
                m_quantizer->AddBitmap(m_store.FrameBitmaps[std::size_t(m_next)]);
            } catch (...) {
                // A cancel (or no memory) stopped the frame halfway: the tree
                // is not the palette's any more.
                m_abandoned = true;
                throw;
            }
            ++m_next;
        }
        lock.unlock();
        // A frame that finished while the tree was taken here found it taken:
        // take it again for that one. (One that still slips through waits
        // for the next finished frame or for Finish.)
        const std::int32_t next = m_next;
        if (m_abandoned || next >= m_frames || !m_done[std::size_t(next)])
            return;
    }
}

std::optional<TColorPalette> TPaletteFeed::Finish()
{
    InsertReady();
    std::lock_guard lock(m_lock);
    if (m_abandoned || m_frames == 0 || m_next < m_frames || !m_quantizer)
        return std::nullopt;
    return SharedPaletteOf(*m_quantizer);
}

} // namespace zx
