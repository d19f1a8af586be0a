#include "ui/gif/XGIFPainter.h"

#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace zx {

std::atomic<std::int32_t> TGIFPainter::s_runningThreads = 0;

std::uint32_t ProgramDrawOptions()
{
    return (TGIFImage::DefaultDrawOptions | goDirectDraw) & ~std::uint32_t(goDither);
}

void UseProgramDrawOptions()
{
    TGIFImage::DefaultDrawOptions = ProgramDrawOptions();
}

std::int32_t FrameDelay(const TGIFSubImage& frame)
{
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    if (!control || control->Delay() == 0)
        return 10;
    return std::max<std::int32_t>(control->Delay(), 3);
}

std::int64_t FrameWait(std::int32_t delay, std::int64_t lateness, std::int32_t speed)
{
    const std::int64_t wait = (std::int64_t(delay) * 12 - lateness / 2) * 100 / speed;
    return std::max<std::int64_t>(wait, 0);
}

// ---------------------------------------------------------------------------

void TAutoResetEvent::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_changed.notify_one();
}

bool TAutoResetEvent::WaitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const bool set = m_changed.wait_for(lock, timeout, [this] { return m_set; });
    m_set = false;
    return set;
}

void TAutoResetEvent::Wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_set; });
    m_set = false;
}

std::int64_t TSteadyPainterClock::Now()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TSteadyPainterClock::Wait(TAutoResetEvent& event, std::int64_t ms)
{
    event.WaitFor(std::chrono::milliseconds(std::max<std::int64_t>(ms, 0)));
}

// ---------------------------------------------------------------------------

void DrawGIFFrame(QImage& target, const TGIFSubImage& frame, bool transparent)
{
    if (frame.Empty() || target.isNull())
        return;
    const TGIFColorMap& colors = frame.ActiveColorMap();
    const bool leaveOut = transparent && frame.Transparent();
    const std::uint8_t transparentIndex = frame.TransparentColorIndex();
    QImage picture(frame.Width(), frame.Height(), QImage::Format_ARGB32);
    const std::span<const std::uint8_t> data = frame.Data();
    for (std::int32_t y = 0; y < frame.Height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(picture.scanLine(y));
        const std::uint8_t* in = data.data() + std::size_t(y) * frame.Width();
        for (std::int32_t x = 0; x < frame.Width(); ++x) {
            const std::uint8_t index = in[x];
            if (leaveOut && index == transparentIndex) {
                out[x] = qRgba(0, 0, 0, 0);
            } else if (index < colors.Count()) {
                const TGIFColor& c = colors[index];
                out[x] = qRgb(c.Red, c.Green, c.Blue);
            } else {
                // An index beyond the table is what a reader shows as black.
                out[x] = qRgb(0, 0, 0);
            }
        }
    }
    QPainter painter(&target);
    painter.drawImage(frame.Left(), frame.Top(), picture);
}

// ---------------------------------------------------------------------------

TGIFPainter::TGIFPainter(std::shared_ptr<TGIFImage> image, QWidget* destination,
    const QImage& background, std::shared_ptr<TPainterClock> clock)
    : m_image(std::move(image))
    , m_destination(destination)
    , m_clock(clock ? std::move(clock) : std::make_shared<TSteadyPainterClock>())
    , m_transparent((m_image->DrawOptions() & goTransparent) != 0)
    , m_loop((m_image->DrawOptions() & goLoop) != 0)
{
    // The frames may use the whole logical screen, whatever the destination.
    m_background = QImage(
        std::max(m_image->Width(), 1), std::max(m_image->Height(), 1), QImage::Format_RGB32);
    m_background.fill(Qt::black);
    {
        QPainter painter(&m_background);
        painter.drawImage(0, 0, background);
    }
    m_backBuffer = m_background.copy();
}

TGIFPainter::~TGIFPainter()
{
    // Unregistered first, so that nobody calls Stop on a painter that is
    // being taken apart.
    if (m_registered)
        m_image->UnregisterPainter(this);
    Stop();
    if (m_thread.joinable())
        m_thread.join();
    // Steps still queued for this object are dropped with it.
}

void TGIFPainter::Start()
{
    if (m_thread.joinable() || m_stopped)
        return;
    m_image->RegisterPainter(this);
    m_registered = true;
    m_running = true;
    ++s_runningThreads;
    m_thread = std::thread([this] { Execute(); });
}

void TGIFPainter::Stop()
{
    m_stopped = true;
    m_event.Set();
}

void TGIFPainter::Execute()
{
    while (!m_stopped) {
        // Queued by name rather than as a functor, so the call carries no
        // data of ours across threads: Qt's event queue orders it, and a
        // thread checker need not see inside Qt to agree.
        QMetaObject::invokeMethod(this, "Step", Qt::QueuedConnection);
        // Until the step has run: it sets the event, and so does Stop.
        m_event.Wait();
        if (m_stopped || m_finished)
            break;
        m_clock->Wait(m_event, m_nextWait);
    }
    m_running = false;
    --s_runningThreads;
}

void TGIFPainter::Dispose(std::int32_t index)
{
    const TGIFSubImage& frame = m_image->Images()[index];
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    if (!control || frame.Empty())
        return;
    const QRect area(frame.Left(), frame.Top(), frame.Width(), frame.Height());
    QPainter painter(&m_backBuffer);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    switch (control->Disposal()) {
    case TGIFDisposal::dmBackground:
        painter.drawImage(area.topLeft(), m_background, area);
        break;
    case TGIFDisposal::dmPrevious:
        if (!m_previousArea.isNull())
            painter.drawImage(area.topLeft(), m_previousArea);
        break;
    default:
        break;
    }
}

void TGIFPainter::Step()
{
    if (m_stopped)
        return;
    const std::int64_t now = m_clock->Now();
    const std::int64_t lateness = m_waitEnd ? std::max<std::int64_t>(now - *m_waitEnd, 0) : 0;
    TGIFImageList& frames = m_image->Images();
    if (frames.Empty() || m_next >= frames.Count()) {
        m_finished = true;
        m_event.Set();
        return;
    }

    if (m_current >= 0)
        Dispose(m_current);
    const std::int32_t index = m_next;
    TGIFSubImage& frame = frames[index];
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    if (control && control->Disposal() == TGIFDisposal::dmPrevious)
        m_previousArea
            = m_backBuffer.copy(QRect(frame.Left(), frame.Top(), frame.Width(), frame.Height()));
    DrawGIFFrame(m_backBuffer, frame, m_transparent);
    m_current = index;
    if (m_destination) {
        if ((m_image->DrawOptions() & goDirectDraw) != 0)
            m_destination->repaint();
        else
            m_destination->update();
    }

    // A loop extension sets the number of passes, and later passes start
    // again at its frame.
    for (const auto& extension : frame.Extensions())
        if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extension.get())) {
            m_passes = loop->Loops();
            m_loopStart = index;
            break;
        }
    bool finished = false;
    m_next = index + 1;
    if (m_next >= frames.Count()) {
        ++m_passesDone;
        if (m_loop && (m_passes == 0 || m_passesDone < m_passes))
            m_next = m_loopStart;
        else
            finished = true;
    }
    const std::int64_t wait = FrameWait(FrameDelay(frame), lateness, kSpeed);
    m_waitEnd = now + wait;
    m_nextWait = wait;
    m_finished = finished;
    if (OnFramePainted)
        OnFramePainted(index);
    m_event.Set();
}

// ---------------------------------------------------------------------------

TGIFImageControl::TGIFImageControl(QWidget* parent)
    : QWidget(parent)
{
}

TGIFImageControl::~TGIFImageControl()
{
    SetPicture(nullptr);
}

void TGIFImageControl::SetPicture(std::shared_ptr<TGIFImage> gif)
{
    // The painter goes first: it reads the picture until its thread ends.
    m_painter.reset();
    m_still = QImage();
    m_gif = std::move(gif);
    update();
}

bool TGIFImageControl::Animates() const
{
    return m_gif && m_gif->Images().Count() > 1 && (m_gif->DrawOptions() & goAnimate) != 0;
}

QImage TGIFImageControl::Background() const
{
    QImage background(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
    background.fill(palette().color(backgroundRole()));
    return background;
}

void TGIFImageControl::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (!m_gif || m_gif->Images().Empty()) {
        painter.fillRect(event->rect(), palette().color(backgroundRole()));
        return;
    }
    if (Animates()) {
        if (!m_painter) {
            m_painter = std::make_unique<TGIFPainter>(m_gif, this, Background(), m_clock);
            m_painter->Start();
        }
        painter.drawImage(0, 0, m_painter->BackBuffer());
        return;
    }
    if (m_still.isNull()) {
        m_still = Background();
        DrawGIFFrame(m_still, m_gif->Images()[0], (m_gif->DrawOptions() & goTransparent) != 0);
    }
    painter.drawImage(0, 0, m_still);
}

} // namespace zx
