#include "display/SceneEventTypes.h"

namespace vexo {
namespace core {

namespace {
// Written once during the first window's construction on the GUI thread; read-only after.
bool registered = false;
} // namespace

QEvent::Type SceneEventTypes::sceneFrameChanged = QEvent::None;
QEvent::Type SceneEventTypes::grabbingStarted = QEvent::None;
QEvent::Type SceneEventTypes::grabbingStopped = QEvent::None;
QEvent::Type SceneEventTypes::cameraStatusUpdate = QEvent::None;
QEvent::Type SceneEventTypes::requestTimedInterrupt = QEvent::None;
QEvent::Type SceneEventTypes::frameBuffersInvalidated = QEvent::None;
QEvent::Type SceneEventTypes::frameBuffersAdded = QEvent::None;

void SceneEventTypes::registerOnce()
{
    if (registered)
        return;
    registered = true;
    sceneFrameChanged = static_cast<QEvent::Type>(QEvent::registerEventType());
    grabbingStarted = static_cast<QEvent::Type>(QEvent::registerEventType());
    grabbingStopped = static_cast<QEvent::Type>(QEvent::registerEventType());
    cameraStatusUpdate = static_cast<QEvent::Type>(QEvent::registerEventType());
    requestTimedInterrupt = static_cast<QEvent::Type>(QEvent::registerEventType());
    frameBuffersInvalidated = static_cast<QEvent::Type>(QEvent::registerEventType());
    frameBuffersAdded = static_cast<QEvent::Type>(QEvent::registerEventType());
}

} // namespace core
} // namespace vexo
