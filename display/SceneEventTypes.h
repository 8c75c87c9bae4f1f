#pragma once

#include <QEvent>

namespace vexo {
namespace core {

// The seven custom event types of the display windows, registered once per process by the
// first window (on the GUI thread) and shared by every window after it.
struct SceneEventTypes
{
    static void registerOnce();

    static QEvent::Type sceneFrameChanged;
    static QEvent::Type grabbingStarted;
    static QEvent::Type grabbingStopped;
    static QEvent::Type cameraStatusUpdate;
    static QEvent::Type requestTimedInterrupt;
    static QEvent::Type frameBuffersInvalidated;
    static QEvent::Type frameBuffersAdded;
};

} // namespace core
} // namespace vexo
