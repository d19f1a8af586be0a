#include "core/flag/FlagPlayback.h"

#include "core/Errors.h"
#include "core/Translatable.h"
#include "core/flag/FlagParameters.h"

namespace zx {

void TFlagPlayback::Reset()
{
    m_busyFlags = 0;
    m_renderCursor = 0;
    m_shownFrame = 0;
    m_pinCountdown = 0;
}

void TFlagPlayback::Tick(TFlagModel& model, const TRenderStatus& status)
{
    const auto say = [&](const std::string& text) {
        if (status)
            status(text);
    };
    if (m_busyFlags != 0) {
        say(FrameStatus(model));
        return;
    }
    const std::int32_t frames = model.Parameters().Frames;
    const std::uint16_t i = m_renderCursor;
    if (model.FrameRendered(i))
        say(FrameStatus(model));
    else
        model.RenderSlot(i, FramePhase(i, frames), status);
    // After an invalidation the display follows the render cursor; once the
    // loop is complete it cycles at one frame per tick.
    const std::int32_t next = (m_shownFrame + 1) % frames;
    if (model.FrameRendered(next))
        m_shownFrame = next;
    else if (model.FrameRendered(m_renderCursor))
        m_shownFrame = m_renderCursor;
    m_renderCursor = static_cast<std::uint16_t>((m_renderCursor + 1) % frames);
}

std::string TFlagPlayback::FrameStatus(const TFlagModel& model) const
{
    const std::int32_t number = m_shownFrame + 1;
    if (model.FrameRendered(m_shownFrame))
        return FormatMessage(ZX_TR_NOOP("Messages", "正在显示的帧序号 #%d"), number);
    return FormatMessage(ZX_TR_NOOP("Messages", "帧序号 #%d 无效。"), number);
}

void TFlagPlayback::StepBack(std::int32_t frames)
{
    m_shownFrame = (frames + m_shownFrame - 1) % frames;
}

void TFlagPlayback::StepForward(std::int32_t frames)
{
    m_shownFrame = (m_shownFrame + 1) % frames;
}

TFramePresentation TFlagPlayback::Present(const TFlagModel& model)
{
    if (!model.FrameRendered(m_shownFrame))
        return {};
    TFramePresentation shown;
    shown.Frame = &model.FrameStore().FrameBitmaps[static_cast<std::size_t>(m_shownFrame)];
    if (m_pinCountdown > 0) {
        shown.Pin = true;
        --m_pinCountdown;
    }
    return shown;
}

} // namespace zx
