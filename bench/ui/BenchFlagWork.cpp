// The panel while a large save runs in the background: 40 frames at 4x the
// flag window's size with 4 x 4 antialiasing at the high level. A 10 ms
// timer probes the event loop; max_gap_ms is the longest time between two of
// its ticks (the longest the window could not answer). The flag window's own
// timer runs as it does for the user. BM_PanelSaveCancel cancels the save
// after a share of the time a whole save takes on this machine (measured
// first, in the same run) and reports cancel_ms, the time from the click on
// "取消" until the worker has stopped. Runs on Qt's offscreen platform unless
// QT_QPA_PLATFORM says otherwise.

#include "ui/controls/XBoxUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/ShowUnit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

struct TProbe {
    QTimer Timer;
    QElapsedTimer Clock;
    qint64 Last = 0;
    qint64 MaxGap = 0;
    // When the longest gap ended, from the start.
    qint64 At = 0;

    TProbe()
    {
        Timer.setInterval(10);
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            const qint64 now = Clock.elapsed();
            if (now - Last > MaxGap) {
                MaxGap = now - Last;
                At = now;
            }
            Last = now;
        });
        Clock.start();
        Timer.start();
    }
};

std::unique_ptr<zx::TFlagForm> SavingPanel(const QString& target)
{
    auto panel = std::make_unique<zx::TFlagForm>();
    panel->StartUp(new zx::TShowForm(panel.get()));
    (void)QTest::qWaitForWindowExposed(panel.get());
    zx::TSettings settings;
    settings.Flag.Frames = 40;
    settings.Flag.Antialiasing = 2;
    settings.HighQuality = true;
    settings.ExportScale = 4;
    panel->SetSettings(settings);
    panel->GIFSaveDialog = [target] { return std::optional<QString>(target); };
    return panel;
}

void BM_PanelSaveEventLoop(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("big.gif"));
    double gap = 0;
    for (auto _ : state) {
        const auto panel = SavingPanel(target);
        TProbe probe;
        panel->Save1Click();
        if (!panel->Work().WaitUntilIdle(600000))
            state.SkipWithError("the save did not end");
        gap = std::max(gap, double(probe.MaxGap));
        state.counters["gap_end_ms"] = double(probe.At);
        state.counters["save_ms"] = double(probe.Clock.elapsed());
    }
    state.counters["max_gap_ms"] = gap;
}
BENCHMARK(BM_PanelSaveEventLoop)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The time of a whole save, in milliseconds (its file removed after).
qint64 WholeSaveMs(const QString& target)
{
    const auto panel = SavingPanel(target);
    QElapsedTimer clock;
    clock.start();
    panel->Save1Click();
    (void)panel->Work().WaitUntilIdle(600000);
    const qint64 ms = clock.elapsed();
    QFile::remove(target);
    return ms;
}

// range(0): when to cancel, in % of a whole save (10: in the render; 70: in
// the reduction).
void BM_PanelSaveCancel(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("big.gif"));
    const qint64 whole = WholeSaveMs(target);
    const int wait = int(whole * state.range(0) / 100);
    double cancelMs = 0;
    double gap = 0;
    for (auto _ : state) {
        const auto panel = SavingPanel(target);
        TProbe probe;
        panel->Save1Click();
        QTest::qWait(wait);
        QElapsedTimer clock;
        clock.start();
        panel->findChild<QPushButton*>(QStringLiteral("WorkCancelButton"))->click();
        if (!panel->Work().WaitUntilIdle(60000))
            state.SkipWithError("the cancelled save did not stop");
        cancelMs = std::max(cancelMs, double(clock.elapsed()));
        gap = std::max(gap, double(probe.MaxGap));
        if (QFile::exists(target))
            state.SkipWithError("a cancelled save wrote its file");
    }
    state.counters["cancel_ms"] = cancelMs;
    state.counters["max_gap_ms"] = gap;
    state.counters["cancelled_at_ms"] = wait;
    state.counters["whole_save_ms"] = double(whole);
}
BENCHMARK(BM_PanelSaveCancel)
    ->ArgName("percent")
    ->Arg(10)
    ->Arg(70)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
