// Frames from the fake GigE Vision camera (its own process, on 127.0.0.1) at 1024 x 1024
// Mono8 through the ring to the window, beside the simulator at the same format, in one
// run: frames per second acquired and displayed, and CPU time per frame of this process
// (scene, conversion, window) and of the camera process.

#include "RatioReporter.h"

#include "WindowRun.h"

#include "vexo-camera/CameraSource.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QProcess>
#include <QStandardPaths>
#include <QThread>

using namespace vexo::core;
using window_run::throughWindow;

namespace {

constexpr int side = 1024;

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
