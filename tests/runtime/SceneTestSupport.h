#pragma once

// Shared by the scene tests: a scene with a visualizer attached, frames pushed by hand,
// and the acquisition as the visualizer was told of it.

#include "RuntimeTestSupport.h"

#include <QSize>
#include <QString>

// A scene with a visualizer attached; with a canvas size it is visible and renders.
struct Rig
{
    explicit Rig(boost::shared_ptr<vexo::core::DisplayScene> s, QSize canvas = {}, bool keepNewest = false)
        : scene(std::move(s))
    {
        visualizer.keepNewestFrame = keepNewest;
        scene->attachVisualizer(&visualizer);
        scene->setCanvasSize(canvas.width(), canvas.height());
        scene->setVisualizerVisible(!canvas.isEmpty());
    }
    boost::shared_ptr<vexo::core::DisplayScene> scene;
    RecordingVisualizer visualizer; // detaches before the scene goes
};

inline vexo::core::ManualFrameSource& manual(const boost::shared_ptr<vexo::core::DisplayScene>& scene)
{
    return static_cast<vexo::core::ManualFrameSource&>(scene->source());
}

inline void pushComplete(vexo::core::ManualFrameSource& source)
{
    source.pushFrame([](vexo::core::FrameBuffer& b) { b.setComplete(); });
}

// "started 0 1 ... n-1 stopped": a run that stored n frames and dropped none.
inline QString run(int n)
{
    QString told = "started";
    for (int i = 0; i < n; ++i)
        told += " " + QString::number(i);
    return told + " stopped";
}

inline QString story(const RecordingVisualizer& visualizer) { return QString::fromStdString(visualizer.story()); }
