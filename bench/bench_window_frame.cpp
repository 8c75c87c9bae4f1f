// The GUI side of one frame (hand-over, pixmap conversion, paint) against memcpy of the
// canvas bytes, and the frame rate the window displays from a fast simulator.

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SimulatorSource.h"

#include "WindowRun.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace vexo::core;

namespace {

constexpr int canvasWidth = 1920;
constexpr int canvasHeight = 1080;
constexpr std::size_t canvasBytes = std::size_t(canvasWidth) * canvasHeight * 4;

void BM_MemcpyCanvas(benchmark::State& state)
{
    std::vector<std::uint8_t> from(canvasBytes, 7), to(canvasBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), canvasBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(canvasBytes));
}

// One frame notified, handled on the GUI thread and painted, tool docks closed.
void BM_WindowFrame(benchmark::State& state)
{
    auto scene = DisplayScene::create({4096, 4096, 8, true}, 3);
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
    scene->attachVisualizer(window.get());
    window->resize(canvasWidth + 40, canvasHeight + 120);
    window->show();
    QWidget* canvas = window->findChild<QWidget*>("canvasWidget");
    QApplication::processEvents();

    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(16, 16, 8, true));
    window->notifyGrabbingStarted();
    QApplication::sendPostedEvents(window.get());
    window->notifyBufferUpdated(buffer);
    boost::shared_ptr<DisplaySceneFrame> frame(new DisplaySceneFrame(canvasWidth, canvasHeight));
    frame->setFrameBuffer(buffer);
    for (int y = 0; y < canvasHeight; ++y)
        for (int x = 0; x < canvasWidth; ++x)
            frame->canvasLine(y)[x] = 0xff000000u | std::uint32_t(x * 3 + y) * 0x010101u;

    for (auto _ : state) {
        window->notifySceneFrameChanged(frame, 30.0);
        QApplication::sendPostedEvents(window.get());
        canvas->repaint();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(canvasBytes));
    scene->detachVisualizer(window.get());
}

// The window on a 2048 x 2048 gray 12 simulator at full speed, 1280 x 1024 canvas: the
// rates it displays and acquires. An iteration is one displayed frame.
void displayedRate(benchmark::State& state, double renderLimit)
{
    SimulatorSource::Settings settings;
    settings.format = {2048, 2048, 12, true};
    settings.framesPerSecond = 0;
    auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)));
    scene->setRenderRateLimit(renderLimit);
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
    scene->attachVisualizer(window.get());
    window->show();
    window->resize(1280 + (window->width() - window->findChild<QWidget*>("canvasWidget")->width()),
                   1024 + (window->height() - window->findChild<QWidget*>("canvasWidget")->height()));
    QApplication::processEvents();
    window->internalGrabInfiniteButtonClicked();
    while (scene->statistics().framesRecycled < 5)
        QApplication::processEvents(QEventLoop::AllEvents, 5);

    const auto before = scene->statistics();
    const double cpuBefore = window_run::processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        const std::uint64_t shown = scene->statistics().framesRecycled;
        while (scene->statistics().framesRecycled == shown)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const auto after = scene->statistics();
    state.counters["displayed_fps"] = double(after.framesRecycled - before.framesRecycled) / seconds;
    state.counters["acquired_fps"] = double(after.framesAcquired - before.framesAcquired) / seconds;
    state.counters["dropped"] = double(after.framesDropped - before.framesDropped);
    // What the limit is for: CPU per acquired frame, all threads of this process.
    state.counters["cpu_ms_per_acquired"] =
        (window_run::processCpuSeconds() - cpuBefore) * 1e3 / double(after.framesAcquired - before.framesAcquired);
    window->internalStopButtonClicked();
    while (scene->isGrabbing())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    scene->detachVisualizer(window.get());
}

void BM_DisplayedRateCapped(benchmark::State& state)
{
    displayedRate(state, 60);
}
void BM_DisplayedRateUncapped(benchmark::State& state)
{
    displayedRate(state, 0);
}

} // namespace

BENCHMARK(BM_MemcpyCanvas)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DisplayedRateCapped)->Unit(benchmark::kMillisecond)->Iterations(120)->UseRealTime();
BENCHMARK(BM_DisplayedRateUncapped)->Unit(benchmark::kMillisecond)->Iterations(120)->UseRealTime();

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
