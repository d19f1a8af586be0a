#pragma once

// Playing a TGIFImage on screen. TGIFImageControl is the picture control: it
// shows a GIF at its top-left corner, a one-frame GIF drawn once, an animated
// one through a TGIFPainter that it starts on the first paint and stops when
// the picture is removed.
//
// A TGIFPainter owns one background thread, which does nothing but wait: it
// asks the user-interface thread for the next drawing step, waits until that
// step has run, then waits out the frame's delay on an auto-reset event. Every
// pixel is drawn on the user-interface thread, so the GIF model is never read
// from two threads. Stopping sets the event, which ends any wait at once; the
// thread never blocks on the user-interface thread, so joining it from there
// cannot hang.

#include "core/gif/XGIFUnit.h"

#include <QImage>
#include <QObject>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zx {

// The draw options the program gives every GIF: the defaults plus drawing
// directly on the destination, without dithering to a fixed palette (0x044F).
std::uint32_t ProgramDrawOptions();
// Makes them the defaults of every new TGIFImage; called once at start-up.
void UseProgramDrawOptions();

// The delay of a frame in hundredths of a second as the animation honours it:
// 10 without a graphic control extension or with a delay of 0, else at least 3.
std::int32_t FrameDelay(const TGIFSubImage& frame);
// The wait in milliseconds after a frame of delay d: one unit lasts 12 ms on
// screen, half of the lateness of the previous wait is made up, and the
// speed is in percent. Never negative.
std::int64_t FrameWait(std::int32_t delay, std::int64_t lateness, std::int32_t speed);

// An event that lets one wait through per Set and then resets itself; a Set
// with nobody waiting is kept for the next wait.
class TAutoResetEvent {
public:
    void Set();
    // Waits until the event is set or the time has passed; true when it was
    // set.
    bool WaitFor(std::chrono::milliseconds timeout);
    void Wait();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

// The painter's sense of time. Now is asked on the user-interface thread, Wait
// runs on the painter's thread; tests replace both with a fake clock.
class TPainterClock {
public:
    virtual ~TPainterClock() = default;
    // Milliseconds on a clock that never goes back.
    virtual std::int64_t Now() = 0;
    // Waits up to ms milliseconds; a Set of the event ends the wait early.
    virtual void Wait(TAutoResetEvent& event, std::int64_t ms) = 0;
};

// std::chrono::steady_clock and a timed wait on the event.
class TSteadyPainterClock : public TPainterClock {
public:
    std::int64_t Now() override;
    void Wait(TAutoResetEvent& event, std::int64_t ms) override;
};

// Draws one frame of a GIF into target at the frame's position, its
// transparent pixels left out when transparent is set.
void DrawGIFFrame(QImage& target, const TGIFSubImage& frame, bool transparent);

class TGIFPainter : public QObject, public TGIFPainterLink {
    Q_OBJECT

public:
    // The animation speed in percent.
    static constexpr std::int32_t kSpeed = 100;

    // Plays image onto destination (repainted after every frame), starting
    // from background, the destination's content, which also fills the areas
    // a frame gives back. A painter without a clock uses the steady clock.
    TGIFPainter(std::shared_ptr<TGIFImage> image, QWidget* destination, const QImage& background,
        std::shared_ptr<TPainterClock> clock = {});
    // Stops and waits for the thread.
    ~TGIFPainter() override;
    TGIFPainter(const TGIFPainter&) = delete;
    TGIFPainter& operator=(const TGIFPainter&) = delete;

    // Registers with the image and starts the thread.
    void Start();
    // Asks the painter to stop; returns at once.
    void Stop() override;

    bool Stopped() const { return m_stopped; }
    // The last pass has been shown; the last frame stays.
    bool Finished() const { return m_finished; }
    // True while the painter's thread runs.
    bool Running() const { return m_running; }
    // The frame shown last, -1 before the first.
    std::int32_t CurrentFrame() const { return m_current; }
    // The passes completed so far.
    std::int32_t PassesDone() const { return m_passesDone; }
    // What the destination shows.
    const QImage& BackBuffer() const { return m_backBuffer; }

    // The number of painter threads running in the program.
    static std::int32_t RunningThreads() { return s_runningThreads; }

    // Called on the user-interface thread after each frame is drawn.
    std::function<void(std::int32_t frame)> OnFramePainted;

private:
    void Execute();
    // One drawing step, queued to the user-interface thread by the painter's
    // thread.
    Q_INVOKABLE void Step();
    // Gives back the area of the frame shown last, as its disposal asks.
    void Dispose(std::int32_t index);

    std::shared_ptr<TGIFImage> m_image;
    QWidget* m_destination;
    std::shared_ptr<TPainterClock> m_clock;
    QImage m_background;
    QImage m_backBuffer;
    // What a frame of disposal "restore to previous" covered before it was drawn.
    QImage m_previousArea;
    bool m_transparent;
    bool m_loop;

    // State of the drawing steps (user-interface thread only).
    std::int32_t m_next = 0;
    std::int32_t m_current = -1;
    std::int32_t m_loopStart = 0;
    // Total passes; 0 for ever.
    std::int32_t m_passes = 1;
    std::int32_t m_passesDone = 0;
    std::optional<std::int64_t> m_waitEnd;

    // Shared with the thread.
    TAutoResetEvent m_event;
    std::atomic<bool> m_stopped = false;
    std::atomic<bool> m_finished = false;
    std::atomic<bool> m_running = false;
    std::atomic<std::int64_t> m_nextWait = 0;
    std::thread m_thread;
    bool m_registered = false;

    static std::atomic<std::int32_t> s_runningThreads;
};

// The picture control.
class TGIFImageControl : public QWidget {
    Q_OBJECT

public:
    explicit TGIFImageControl(QWidget* parent = nullptr);
    ~TGIFImageControl() override;

    // Shows the GIF, which the control shares with the caller. Null removes
    // the picture: the animation stops, and its thread has ended when this
    // returns.
    void SetPicture(std::shared_ptr<TGIFImage> gif);
    const std::shared_ptr<TGIFImage>& Picture() const { return m_gif; }
    // The running animation, null for a still picture or before the first
    // paint.
    TGIFPainter* Painter() const { return m_painter.get(); }
    // The clock the next painter gets (tests give a fake one).
    void SetPainterClock(std::shared_ptr<TPainterClock> clock) { m_clock = std::move(clock); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool Animates() const;
    // The destination's own content: the pane the control sits on.
    QImage Background() const;

    std::shared_ptr<TGIFImage> m_gif;
    std::unique_ptr<TGIFPainter> m_painter;
    QImage m_still;
    std::shared_ptr<TPainterClock> m_clock;
};

} // namespace zx
