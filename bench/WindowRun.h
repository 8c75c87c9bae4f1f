#pragma once

// A frame source run through a scene into a window as fast as it delivers: frames per
// second acquired and displayed, and CPU time per frame of this process (scene, window)
// and, where the frames come from another process, of that one.

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameSource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <unistd.h>

namespace window_run {

using vexo::core::DisplayScene;
using vexo::core::FrameSource;
using vexo::core::Qt4DisplaySceneVisualizer;

inline double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// User and system time of another process, from /proc.
inline double otherCpuSeconds(qint64 pid)
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
inline void throughWindow(benchmark::State& state, std::unique_ptr<FrameSource> source, qint64 cameraPid)
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

} // namespace window_run
