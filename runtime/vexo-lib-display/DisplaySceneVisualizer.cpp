#include "vexo-lib-display/DisplaySceneVisualizer.h"

#include "vexo-core/MutexLocker.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"

namespace vexo {
namespace core {

DisplaySceneVisualizer::DisplaySceneVisualizer() = default;

DisplaySceneVisualizer::~DisplaySceneVisualizer()
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->detachVisualizer(this);
}

boost::shared_ptr<DisplayScene> DisplaySceneVisualizer::scene() const
{
    MutexLocker lock(sceneMutex);
    return attachedScene.lock();
}

void DisplaySceneVisualizer::freeSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame)
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->recycleFrame(std::move(frame));
}

void DisplaySceneVisualizer::setScene(const boost::shared_ptr<DisplayScene>& newScene)
{
    MutexLocker lock(sceneMutex);
    attachedScene = newScene;
}

} // namespace core
} // namespace vexo
