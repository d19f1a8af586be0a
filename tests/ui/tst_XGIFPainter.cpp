// The animation painter and the picture control: frame order, delays, loop
// passes, disposal and transparency on the back buffer, and stopping (by the
// owner, by the image's own operations, by closing the window) that never
// leaves a thread behind. Most runs use a fake clock, so that no test waits
// out real frame delays; the stop test uses the real one on purpose.

#include "ui/gif/XGIFPainter.h"

#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

using namespace zx;

namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kGreen = 0xFF00FF00;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kYellow = 0xFFFFFF00;
constexpr QRgb kCyan = 0xFF00FFFF;

// Time that passes only when the painter waits: every wait is recorded and
// moves the clock on by its length plus a fixed lateness.
class TFakeClock : public TPainterClock {
public:
    explicit TFakeClock(std::int64_t lateness = 0)
        : m_lateness(lateness)
    {
    }
    std::int64_t Now() override { return m_now; }
    void Wait(TAutoResetEvent&, std::int64_t ms) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_waits.push_back(ms);
        }
        m_now += ms + m_lateness;
    }
    std::vector<std::int64_t> Waits()
    {
        std::lock_guard lock(m_mutex);
        return m_waits;
    }

private:
    const std::int64_t m_lateness;
    std::atomic<std::int64_t> m_now = 100000;
    std::mutex m_mutex;
    std::vector<std::int64_t> m_waits;
};

struct TFrameRecipe {
    TFrameRecipe() = default;
    TFrameRecipe(QRgb color, std::optional<std::uint16_t> delay = 5)
        : Color(color)
        , Delay(delay)
    {
    }

    QRgb Color = kRed;
    // Without a value the frame has no graphic control extension.
    std::optional<std::uint16_t> Delay = 5;
    TGIFDisposal Disposal = TGIFDisposal::dmBackground;
    // The left half of the frame is the transparent index 0.
    bool TransparentLeftHalf = false;
    // A loop extension with this count on the frame.
    std::optional<std::uint16_t> Loops;
};

constexpr int kWidth = 8;
constexpr int kHeight = 4;

std::shared_ptr<TGIFImage> MakeGif(const std::vector<TFrameRecipe>& recipes)
{
    auto gif = std::make_shared<TGIFImage>();
    gif->SetDrawOptions(ProgramDrawOptions());
    for (const TFrameRecipe& recipe : recipes) {
        auto frame = std::make_unique<TGIFSubImage>(gif.get());
        frame->SetSize(kWidth, kHeight);
        frame->ColorMap().Add(0, 0, 0);
        frame->ColorMap().Add(static_cast<std::uint8_t>(qRed(recipe.Color)),
            static_cast<std::uint8_t>(qGreen(recipe.Color)),
            static_cast<std::uint8_t>(qBlue(recipe.Color)));
        const std::span<std::uint8_t> data = frame->Data();
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                data[std::size_t(y * kWidth + x)]
                    = recipe.TransparentLeftHalf && x < kWidth / 2 ? 0 : 1;
        if (recipe.Loops) {
            auto& loop = frame->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(frame.get()));
            loop.SetLoops(*recipe.Loops);
        }
        if (recipe.Delay) {
            auto& control = frame->Extensions().Add(
                std::make_unique<TGIFGraphicControlExtension>(frame.get()));
            control.SetDelay(*recipe.Delay);
            control.SetDisposal(recipe.Disposal);
            if (recipe.TransparentLeftHalf) {
                control.SetTransparent(true);
                control.SetTransparentColorIndex(0);
            }
        }
        gif->AddFrame(std::move(frame));
    }
    return gif;
}

// Four frames of different colours; frame 0 carries the loop extension.
std::shared_ptr<TGIFImage> FourFrames(std::optional<std::uint16_t> loops)
{
    std::vector<TFrameRecipe> recipes { { kRed }, { kGreen }, { kBlue }, { kYellow } };
    recipes[0].Loops = loops;
    return MakeGif(recipes);
}

QImage Background(QRgb color)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

QRgb At(const QImage& image, int x, int y)
{
    return image.pixel(x, y) | 0xFF000000;
}

// A painter on a fake clock that logs the frames it shows.
struct TPlay {
    std::shared_ptr<TFakeClock> Clock;
    std::unique_ptr<TGIFPainter> Painter;
    std::vector<int> Frames;

    explicit TPlay(
        std::shared_ptr<TGIFImage> gif, QRgb background = kCyan, std::int64_t lateness = 0)
        : Clock(std::make_shared<TFakeClock>(lateness))
        , Painter(std::make_unique<TGIFPainter>(
              std::move(gif), nullptr, ::Background(background), Clock))
    {
        Painter->OnFramePainted = [this](int frame) { Frames.push_back(frame); };
        Painter->Start();
    }
};

std::vector<int> Repeat(const std::vector<int>& pass, int times)
{
    // Made at its full length and filled: GCC 12's release build takes a
    // range insert into an empty vector for an overflow.
    std::vector<int> result(pass.size() * std::size_t(std::max(times, 0)));
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = pass[i % pass.size()];
    return result;
}

} // namespace

class TestGIFPainter : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void ProgramDrawOptionsAre0x044F();
    void FrameDelayRule_data();
    void FrameDelayRule();
    void FrameWaitArithmetic_data();
    void FrameWaitArithmetic();
    void AutoResetEventLetsOneWaitThrough();
    void LoopCountThreePlaysThreePassesAndStaysOnTheLastFrame();
    void WaitsFollowEachFramesDelay();
    void LatenessOfTheLastWaitIsHalfMadeUp();
    void LoopCountZeroPlaysUntilStopped();
    void WithoutLoopExtensionOnePass();
    void WithoutLoopOptionOnePass();
    void LaterPassesRestartAtTheLoopExtensionsFrame();
    void DisposalBeforeTheNextFrame_data();
    void DisposalBeforeTheNextFrame();
    void TransparencyOffDrawsTheTransparentIndex();
    void StopWakesAPendingWaitAtOnce();
    void ImageOperationsStopThePainter_data();
    void ImageOperationsStopThePainter();
    void OneFrameGifIsDrawnWithoutPainter();
    void ControlStartsOnFirstPaintAndStopsOnRemoval();
    void ControlShowsTheAnimationChanging();
    void ClosingTheWindowLeavesNoThread();
};

void TestGIFPainter::cleanup()
{
    // Every test ends with its painters gone.
    QCOMPARE(TGIFPainter::RunningThreads(), 0);
}

void TestGIFPainter::ProgramDrawOptionsAre0x044F()
{
    const std::uint32_t defaults = TGIFImage::DefaultDrawOptions;
    QCOMPARE(ProgramDrawOptions(), std::uint32_t(0x044F));
    UseProgramDrawOptions();
    QCOMPARE(TGIFImage().DrawOptions(), std::uint32_t(0x044F));
    TGIFImage::DefaultDrawOptions = defaults;
}

void TestGIFPainter::FrameDelayRule_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("expected");
    QTest::newRow("no control extension") << -1 << 10;
    QTest::newRow("0") << 0 << 10;
    QTest::newRow("1") << 1 << 3;
    QTest::newRow("2") << 2 << 3;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("5") << 5 << 5;
    QTest::newRow("1500") << 1500 << 1500;
}

void TestGIFPainter::FrameDelayRule()
{
    QFETCH(int, delay);
    QFETCH(int, expected);
    TFrameRecipe recipe;
    if (delay >= 0)
        recipe.Delay = static_cast<std::uint16_t>(delay);
    else
        recipe.Delay.reset();
    const auto gif = MakeGif({ recipe });
    QCOMPARE(FrameDelay(gif->Images()[0]), expected);
}

void TestGIFPainter::FrameWaitArithmetic_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<qint64>("lateness");
    QTest::addColumn<int>("speed");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("5 on time") << 5 << qint64(0) << 100 << qint64(60);
    QTest::newRow("3 on time") << 3 << qint64(0) << 100 << qint64(36);
    QTest::newRow("5, 20 late") << 5 << qint64(20) << 100 << qint64(50);
    QTest::newRow("5, 21 late") << 5 << qint64(21) << 100 << qint64(50);
    QTest::newRow("10 at 200 %") << 10 << qint64(0) << 200 << qint64(60);
    QTest::newRow("10 at 50 %") << 10 << qint64(0) << 50 << qint64(240);
    QTest::newRow("far too late") << 5 << qint64(500) << 100 << qint64(0);
}

void TestGIFPainter::FrameWaitArithmetic()
{
    QFETCH(int, delay);
    QFETCH(qint64, lateness);
    QFETCH(int, speed);
    QFETCH(qint64, expected);
    QCOMPARE(FrameWait(delay, lateness, speed), expected);
}

void TestGIFPainter::AutoResetEventLetsOneWaitThrough()
{
    TAutoResetEvent event;
    QVERIFY(!event.WaitFor(std::chrono::milliseconds(0)));
    event.Set();
    event.Set();
    QVERIFY(event.WaitFor(std::chrono::milliseconds(0)));
    // Two Sets before a wait are one.
    QVERIFY(!event.WaitFor(std::chrono::milliseconds(0)));
    std::thread setter([&] { event.Set(); });
    event.Wait();
    setter.join();
}

void TestGIFPainter::LoopCountThreePlaysThreePassesAndStaysOnTheLastFrame()
{
    TPlay play(FourFrames(3));
    QTRY_VERIFY(play.Painter->Finished());
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(play.Frames, Repeat({ 0, 1, 2, 3 }, 3));
    QCOMPARE(play.Painter->PassesDone(), 3);
    QCOMPARE(play.Painter->CurrentFrame(), 3);
    QCOMPARE(At(play.Painter->BackBuffer(), 0, 0), kYellow);
    // Nothing more happens, and the last frame is not given back.
    QTest::qWait(50);
    QCOMPARE(play.Frames.size(), std::size_t(12));
    QCOMPARE(At(play.Painter->BackBuffer(), kWidth - 1, kHeight - 1), kYellow);
}

void TestGIFPainter::WaitsFollowEachFramesDelay()
{
    std::vector<TFrameRecipe> recipes(4);
    recipes[0].Delay = 5;
    recipes[1].Delay = 0;
    recipes[2].Delay = 2;
    recipes[3].Delay.reset();
    recipes[0].Loops = 2;
    TPlay play(MakeGif(recipes));
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(play.Frames, Repeat({ 0, 1, 2, 3 }, 2));
    // 12 ms per unit; no wait after the very last frame.
    const std::vector<std::int64_t> expected { 60, 120, 36, 120, 60, 120, 36 };
    QCOMPARE(play.Clock->Waits(), expected);
}

void TestGIFPainter::LatenessOfTheLastWaitIsHalfMadeUp()
{
    TPlay play(FourFrames(1), kCyan, 20);
    QTRY_VERIFY(!play.Painter->Running());
    const std::vector<std::int64_t> expected { 60, 50, 50 };
    QCOMPARE(play.Clock->Waits(), expected);
}

void TestGIFPainter::LoopCountZeroPlaysUntilStopped()
{
    TPlay play(FourFrames(0));
    // 25 passes of four frames, then the owner stops it from a frame step.
    play.Painter->OnFramePainted = [&](int frame) {
        play.Frames.push_back(frame);
        if (play.Frames.size() == 100)
            play.Painter->Stop();
    };
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(play.Frames, Repeat({ 0, 1, 2, 3 }, 25));
    QVERIFY(play.Painter->Stopped());
    QVERIFY(!play.Painter->Finished());
}

void TestGIFPainter::WithoutLoopExtensionOnePass()
{
    TPlay play(FourFrames(std::nullopt));
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(play.Frames, (std::vector<int> { 0, 1, 2, 3 }));
    QVERIFY(play.Painter->Finished());
}

void TestGIFPainter::WithoutLoopOptionOnePass()
{
    const auto gif = FourFrames(3);
    gif->SetDrawOptions(gif->DrawOptions() & ~std::uint32_t(goLoop));
    TPlay play(gif);
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(play.Frames, (std::vector<int> { 0, 1, 2, 3 }));
}

void TestGIFPainter::LaterPassesRestartAtTheLoopExtensionsFrame()
{
    std::vector<TFrameRecipe> recipes { { kRed }, { kGreen }, { kBlue }, { kYellow } };
    recipes[1].Loops = 2;
    TPlay play(MakeGif(recipes));
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(play.Frames, (std::vector<int> { 0, 1, 2, 3, 1, 2, 3 }));
}

void TestGIFPainter::DisposalBeforeTheNextFrame_data()
{
    // Frame 0 red and fully drawn, frame 1 green, frame 2 yellow with a
    // transparent left half: what shows through there is what the
    // disposal of frame 1 left.
    QTest::addColumn<int>("disposal");
    QTest::addColumn<QRgb>("left");
    QTest::newRow("restore to background") << int(TGIFDisposal::dmBackground) << kCyan;
    QTest::newRow("no disposal") << int(TGIFDisposal::dmNoDisposal) << kGreen;
    QTest::newRow("not specified") << int(TGIFDisposal::dmNone) << kGreen;
    QTest::newRow("restore to previous") << int(TGIFDisposal::dmPrevious) << kRed;
}

void TestGIFPainter::DisposalBeforeTheNextFrame()
{
    QFETCH(int, disposal);
    QFETCH(QRgb, left);
    std::vector<TFrameRecipe> recipes { { kRed }, { kGreen }, { kYellow } };
    recipes[0].Disposal = TGIFDisposal::dmNoDisposal;
    recipes[1].Disposal = static_cast<TGIFDisposal>(disposal);
    recipes[2].TransparentLeftHalf = true;
    TPlay play(MakeGif(recipes));
    std::vector<QImage> shown;
    play.Painter->OnFramePainted = [&](int) { shown.push_back(play.Painter->BackBuffer().copy()); };
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(shown.size(), std::size_t(3));
    QCOMPARE(At(shown[1], 0, 0), kGreen);
    QCOMPARE(At(shown[2], 0, 0), left);
    QCOMPARE(At(shown[2], kWidth / 2 - 1, kHeight - 1), left);
    QCOMPARE(At(shown[2], kWidth / 2, 0), kYellow);
}

void TestGIFPainter::TransparencyOffDrawsTheTransparentIndex()
{
    std::vector<TFrameRecipe> recipes { { kRed }, { kYellow } };
    recipes[1].TransparentLeftHalf = true;
    const auto gif = MakeGif(recipes);
    gif->SetDrawOptions(gif->DrawOptions() & ~std::uint32_t(goTransparent));
    TPlay play(gif);
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(At(play.Painter->BackBuffer(), 0, 0), kBlack);
    QCOMPARE(At(play.Painter->BackBuffer(), kWidth - 1, 0), kYellow);
}

void TestGIFPainter::StopWakesAPendingWaitAtOnce()
{
    // Delays of 5 s (6 s on screen) on the real clock.
    std::vector<TFrameRecipe> recipes { { kRed, 500 }, { kGreen, 500 } };
    auto painter = std::make_unique<TGIFPainter>(MakeGif(recipes), nullptr, Background(kCyan));
    int frames = 0;
    painter->OnFramePainted = [&](int) { ++frames; };
    painter->Start();
    QTRY_COMPARE(frames, 1);
    // Long enough for the thread to be inside its wait.
    QTest::qWait(100);
    QElapsedTimer elapsed;
    elapsed.start();
    painter->Stop();
    painter.reset();
    QVERIFY2(elapsed.elapsed() < 1000, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(frames, 1);
}

void TestGIFPainter::ImageOperationsStopThePainter_data()
{
    QTest::addColumn<int>("operation");
    QTest::newRow("MergeColourMaps") << 0;
    QTest::newRow("Clear") << 1;
}

void TestGIFPainter::ImageOperationsStopThePainter()
{
    QFETCH(int, operation);
    const auto gif = FourFrames(0);
    TPlay play(gif);
    QTRY_VERIFY(play.Frames.size() >= 10);
    if (operation == 0)
        gif->MergeColourMaps();
    else
        gif->Clear();
    QVERIFY(play.Painter->Stopped());
    QTRY_VERIFY(!play.Painter->Running());
    QCOMPARE(TGIFPainter::RunningThreads(), 0);
    // Steps already queued do not draw any more.
    const std::size_t frames = play.Frames.size();
    QTest::qWait(30);
    QCOMPARE(play.Frames.size(), frames);
}

void TestGIFPainter::OneFrameGifIsDrawnWithoutPainter()
{
    QWidget pane;
    QPalette palette = pane.palette();
    palette.setColor(QPalette::Window, Qt::black);
    pane.setPalette(palette);
    auto* control = new TGIFImageControl(&pane);
    control->resize(kWidth, kHeight);
    std::vector<TFrameRecipe> recipes { { kGreen } };
    recipes[0].TransparentLeftHalf = true;
    control->SetPicture(MakeGif(recipes));
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    const QImage image = control->grab().toImage();
    QCOMPARE(control->Painter(), nullptr);
    QCOMPARE(TGIFPainter::RunningThreads(), 0);
    // The pane's black shows through the transparent half.
    QCOMPARE(At(image, 0, 0), kBlack);
    QCOMPARE(At(image, kWidth - 1, 0), kGreen);
}

void TestGIFPainter::ControlStartsOnFirstPaintAndStopsOnRemoval()
{
    TGIFImageControl control;
    control.SetPainterClock(std::make_shared<TFakeClock>());
    control.resize(kWidth, kHeight);
    const auto gif = FourFrames(0);
    control.SetPicture(gif);
    QCOMPARE(control.Painter(), nullptr);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QTRY_VERIFY(control.Painter() != nullptr);
    QTRY_VERIFY(control.Painter()->PassesDone() >= 2);
    QCOMPARE(TGIFPainter::RunningThreads(), 1);
    control.SetPicture(nullptr);
    QCOMPARE(control.Painter(), nullptr);
    QCOMPARE(TGIFPainter::RunningThreads(), 0);
    // The control let go of the picture.
    QCOMPARE(gif.use_count(), 1);
}

void TestGIFPainter::ControlShowsTheAnimationChanging()
{
    // Real clock, the shortest delay: 3 units, 36 ms.
    std::vector<TFrameRecipe> recipes { { kRed, 1 }, { kBlue, 1 } };
    recipes[0].Loops = 0;
    TGIFImageControl control;
    control.resize(kWidth, kHeight);
    control.SetPicture(MakeGif(recipes));
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QTRY_COMPARE(At(control.grab().toImage(), 1, 1), kRed);
    QTRY_COMPARE(At(control.grab().toImage(), 1, 1), kBlue);
    QTRY_COMPARE(At(control.grab().toImage(), 1, 1), kRed);
}

void TestGIFPainter::ClosingTheWindowLeavesNoThread()
{
    const auto gif = FourFrames(0);
    {
        auto window = std::make_unique<QWidget>();
        auto* control = new TGIFImageControl(window.get());
        control->resize(kWidth, kHeight);
        control->SetPicture(gif);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(control->Painter() && control->Painter()->Running());
        window->close();
    }
    QCOMPARE(TGIFPainter::RunningThreads(), 0);
    QCOMPARE(gif.use_count(), 1);
    // Nothing queued for the painter reaches freed memory.
    QTest::qWait(20);
}

QTEST_MAIN(TestGIFPainter)
#include "tst_XGIFPainter.moc"
