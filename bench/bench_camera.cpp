// Frames from the fake GigE Vision camera (its own process, on 127.0.0.1) at 1024 x 1024
// Mono8 through the ring to the window, beside the simulator at the same format, in one
// run: frames per second acquired and displayed, and CPU time per frame of this process
// (scene, conversion, window) and of the camera process.

#include "RatioReporter.h"

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-camera/CameraSource.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <unistd.h>

using namespace vexo::core;

namespace {

constexpr int side = 1024;

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// User and system time of another process, from /proc.
double otherCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// An iteration is one frame acquired into the ring, with the window showing what it can.
void throughWindow(benchmark::State& state, std::unique_ptr<FrameSource> source, qint64 cameraPid)
{
    auto scene = DisplayScene::create(std::move(source));
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
    scene->attachVisualizer(window.get());
    window->resize(1280, 900);
    window->show();
    QApplication::processEvents();
    window->internalGrabInfiniteButtonClicked();
    while (scene->statistics().framesRecycled < 5 && scene->isGrabbing())
        QApplication::processEvents(QEventLoop::AllEvents, 5);

    const auto before = scene->statistics();
    const double cpuBefore = processCpuSeconds();
    const double cameraBefore = otherCpuSeconds(cameraPid);
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        const std::uint64_t acquired = scene->statistics().framesAcquired;
        while (scene->statistics().framesAcquired == acquired && scene->isGrabbing())
            QApplication::processEvents(QEventLoop::AllEvents, 2);
        if (!scene->isGrabbing()) {
            state.SkipWithError("acquisition ended");
            break;
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const auto after = scene->statistics();
    const double frames = double(after.framesAcquired - before.framesAcquired);
    state.counters["acquired_fps"] = frames / seconds;
    state.counters["displayed_fps"] = double(after.framesRecycled - before.framesRecycled) / seconds;
    state.counters["dropped"] = double(after.framesDropped - before.framesDropped);
    state.counters["lost_by_source"] = double(scene->source().status().framesLost);
    state.counters["cpu_us_per_frame"] = (processCpuSeconds() - cpuBefore) * 1e6 / frames;
    if (cameraPid > 0)
        state.counters["camera_cpu_us_per_frame"] = (otherCpuSeconds(cameraPid) - cameraBefore) * 1e6 / frames;
    window->internalStopButtonClicked();
    while (scene->isGrabbing())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    scene->detachVisualizer(window.get());
}

void BM_SimulatorToWindow(benchmark::State& state)
{
    SimulatorSource::Settings settings;
    settings.format = {side, side, 8, true};
    settings.framesPerSecond = 0;
    throughWindow(state, std::unique_ptr<FrameSource>(new SimulatorSource(settings)), 0);
}

void BM_GigeCameraToWindow(benchmark::State& state)
{
    const QString fake = QStandardPaths::findExecutable(QStringLiteral("arv-fake-gv-camera-0.8"));
    if (fake.isEmpty()) {
        state.SkipWithError("arv-fake-gv-camera-0.8 is not installed (Debian package aravis-tools)");
        return;
    }
    QProcess camera;
    camera.start(fake, {QStringLiteral("-i"), QStringLiteral("127.0.0.1")});
    camera.waitForStarted();
    std::unique_ptr<CameraSource> source;
    for (int attempt = 0; attempt < 50 && !(source && source->isUsable()); ++attempt) {
        QThread::msleep(100);
        CameraSource::Settings settings;
        settings.id = "127.0.0.1";
        settings.pixelFormat = "Mono8";
        settings.width = side;
        settings.height = side;
        settings.framesPerSecond = 1000; // the fake camera's highest rate
        source.reset(new CameraSource(settings));
    }
    if (!source->isUsable())
        state.SkipWithError(source->lastError().c_str());
    else
        throughWindow(state, std::move(source), camera.processId());
    camera.kill();
    camera.waitForFinished();
}

} // namespace

BENCHMARK(BM_SimulatorToWindow)->Unit(benchmark::kMicrosecond)->Iterations(300)->UseRealTime();
BENCHMARK(BM_GigeCameraToWindow)->Unit(benchmark::kMicrosecond)->Iterations(300)->UseRealTime();

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter("BM_SimulatorToWindow", "simulator");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
