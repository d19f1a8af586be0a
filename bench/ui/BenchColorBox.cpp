// The colour dialog following a dragging mouse: one plane pick (the marker's
// two 16 x 16 squares, the strip, the swatch half and the six edits), with and
// without the repaint of the 465 x 273 dialog that follows it on the screen,
// against one strip pick, which recomputes the whole plane. A step must stay
// far below a 16 ms frame. Runs on Qt's offscreen platform unless
// QT_QPA_PLATFORM says otherwise.

#include "ui/controls/XColorBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"

#include <QApplication>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <memory>

namespace {

// A point of a drag that wanders over the whole plane a few pixels at a time.
QPoint DragPoint(std::int64_t i)
{
    const auto x = static_cast<int>((i * 3) % 512);
    const auto y = static_cast<int>((i * 5) % 512);
    return { x < 256 ? x : 511 - x, y < 256 ? y : 511 - y };
}

std::unique_ptr<zx::TColorBoxForm> ShownForm(zx::TColorBoxMode mode)
{
    auto form = std::make_unique<zx::TColorBoxForm>();
    form->SetColor(zx::RGBToColor(40, 160, 220));
    form->SelectMode(mode);
    form->show();
    (void)QTest::qWaitForWindowExposed(form.get());
    QApplication::processEvents();
    return form;
}

void PerStep(benchmark::State& state)
{
    state.counters["per_step"] = benchmark::Counter(static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ColorBoxPlaneDragStep(benchmark::State& state)
{
    const auto mode = static_cast<zx::TColorBoxMode>(state.range(0));
    const bool paint = state.range(1) != 0;
    const auto form = ShownForm(mode);
    std::int64_t i = 0;
    for (auto _ : state) {
        const QPoint at = DragPoint(i++);
        form->PickPlane(at.x(), at.y());
        if (paint)
            QApplication::processEvents();
        benchmark::DoNotOptimize(form->CurrentColor());
    }
    PerStep(state);
    state.SetLabel(zx::TColorBoxForm::ModeName(mode).toStdString()
        + (paint ? ", with repaint" : ", pick only"));
}
BENCHMARK(BM_ColorBoxPlaneDragStep)
    ->ArgsProduct({ { zx::cmHue, zx::cmSaturation, zx::cmRed }, { 0, 1 } })
    ->Unit(benchmark::kMicrosecond);

void BM_ColorBoxStripDragStep(benchmark::State& state)
{
    const auto mode = static_cast<zx::TColorBoxMode>(state.range(0));
    const auto form = ShownForm(mode);
    std::int64_t i = 0;
    for (auto _ : state) {
        form->PickStrip(DragPoint(i++).y());
        QApplication::processEvents();
        benchmark::DoNotOptimize(form->CurrentColor());
    }
    PerStep(state);
    state.SetLabel(zx::TColorBoxForm::ModeName(mode).toStdString() + ", with repaint");
}
BENCHMARK(BM_ColorBoxStripDragStep)
    ->Arg(zx::cmHue)
    ->Arg(zx::cmSaturation)
    ->Unit(benchmark::kMicrosecond);

// The chooser's chart at the size of the panel's page, every pixel computed.
void BM_ColorChoiceChartPaint(benchmark::State& state)
{
    const auto width = static_cast<std::int32_t>(state.range(0));
    const auto height = static_cast<std::int32_t>(state.range(1));
    zx::TDIB picture;
    picture.SetSize(width, height, 32);
    for (auto _ : state) {
        zx::PaintChart(picture, zx::ccHorizontal, false);
        benchmark::DoNotOptimize(picture.ConstScanLine(0));
    }
    state.counters["per_pixel"]
        = benchmark::Counter(static_cast<double>(state.iterations()) * width * height,
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ColorChoiceChartPaint)->Args({ 150, 80 })->Args({ 400, 300 });

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
