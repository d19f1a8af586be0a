#pragma once

// TFlagPlayback: what the 50 ms timer does. Each tick renders at most one
// stale frame of the model, advances the frame shown, and presents that frame
// to the flag window; pausing and the step buttons freeze and step the loop,
// and a click or a resize shows the pin point for the next kPinPaints
// presentations of a valid frame. Presenting is the only thing that counts the
// pin down: however often the window system repaints the flag window in
// between, it shows what it was last given.

#include "core/flag/FlagModel.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <string>

namespace zx {

// The bits of BusyFlags; while any is set the timer renders nothing.
enum TBusyFlag : std::uint16_t {
    bfRecompute = 0x01, // the frames are being invalidated
    bfHidden = 0x02, // the panel is hidden
    bfPaused = 0x04, // the pause box is ticked
    bfExporting = 0x10, // the GIF export runs
    bfDialog = 0x80, // a modal dialog opened from the menu is up
};

// Presentations of a valid frame that show the pin after a click or a resize.
inline constexpr std::int32_t kPinPaints = 10;

// What the flag window shows after a tick: a frame (null for the blank of an
// invalid slot), with or without the pin.
struct TFramePresentation {
    const TDIB* Frame = nullptr;
    bool Pin = false;
};

class TFlagPlayback {
public:
    std::uint16_t BusyFlags() const { return m_busyFlags; }
    void SetBusyBits(std::uint16_t bits) { m_busyFlags |= bits; }
    void ClearBusyBits(std::uint16_t bits) { m_busyFlags &= static_cast<std::uint16_t>(~bits); }

    // The next slot to render, and the slot shown.
    std::uint16_t RenderCursor() const { return m_renderCursor; }
    std::int32_t ShownFrame() const { return m_shownFrame; }
    std::int32_t PinCountdown() const { return m_pinCountdown; }

    // Cursor and shown slot 0, no busy bit, no pin.
    void Reset();
    // The pin shows on the next kPinPaints presentations of a valid frame.
    void ShowPin() { m_pinCountdown = kPinPaints; }

    // One tick. While a busy bit is set it only reports the frame's status.
    // Otherwise it renders the slot at the cursor if it is stale (its status
    // text is the renderer's), moves the shown slot on to the next valid one
    // (following the cursor while the loop is being rebuilt) and advances the
    // cursor. The caller presents afterwards. When rendering throws, nothing
    // has moved.
    void Tick(TFlagModel& model, const TRenderStatus& status);

    // "正在显示的帧序号 #n" for a valid shown slot, "帧序号 #n 无效。" otherwise.
    std::string FrameStatus(const TFlagModel& model) const;

    // The step buttons while paused: the previous or the next slot of the loop.
    void StepBack(std::int32_t frames);
    void StepForward(std::int32_t frames);

    // What the flag window shows now. A valid frame with the pin counts the
    // pin down by one.
    TFramePresentation Present(const TFlagModel& model);

private:
    std::uint16_t m_busyFlags = 0;
    std::uint16_t m_renderCursor = 0;
    std::int32_t m_shownFrame = 0;
    std::int32_t m_pinCountdown = 0;
};

} // namespace zx
