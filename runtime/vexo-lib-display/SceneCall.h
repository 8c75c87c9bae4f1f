#pragma once

#include <cstdint>

namespace vexo {
namespace core {

// One call made on a DisplayScene, as reported to its call observer.
struct SceneCall
{
    enum Operation {
        StartGrabbing, // a = mode
        StopGrabbing,
        IsGrabbing,
        Width,
        Height,
        SetCanvasSize, // a = width, b = height
        SetZoomFactor, // a = step
        SetOffset, // a = x, b = y
        SetZoomFactorAndOffset, // a = step, b = x, c = y
        SetVisualizerVisible, // a = visible
        SetBuffer, // a = buffer number
        GetValidBufferCount,
        EnableZoomGrid, // a = enabled
        InvalidateScene,
        TimerInterrupt,
        FreeSceneFrame, // a = 1 when a frame was given, 0 for an empty pointer
    };

    Operation operation;
    std::int64_t a = 0;
    std::int64_t b = 0;
    std::int64_t c = 0;
};

} // namespace core
} // namespace vexo
