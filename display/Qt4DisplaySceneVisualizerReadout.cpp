// Pixel readout under the mouse and its switches (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "frame/PixelValue.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QLabel>

namespace vexo {
namespace core {

void Qt4DisplaySceneVisualizer::updateMouseData()
{
    const auto none = [this] {
        positionLabel->setText(QStringLiteral("None"));
        positionLabel->setEnabled(false);
        dataLabel->setText(QStringLiteral("None"));
        dataLabel->setEnabled(false);
    };
    const bool anything = d->grabbing ? d->bufferCount.load() != 0 : d->validBufferCount != 0;
    if (!anything) {
        none();
        return;
    }
    const boost::shared_ptr<FrameBuffer> buffer = d->currentFrameBuffer.lock();
    if (d->canvasMousePosition.x() == -1 || d->canvasMousePosition.y() == -1 || !buffer) {
        none();
        return;
    }
    int x = d->canvasMousePosition.x();
    int y = d->canvasMousePosition.y();
    bool written = false;
    // Left of or above the image (a drag can carry the mouse there) is outside it too;
    // read as unsigned, such a point would name pixel 4294967295.
    if (!d->mapCanvasToImage(&x, &y, &written) || x < 0 || y < 0) {
        none();
        return;
    }
    positionLabel->setText(QStringLiteral("(%1, %2)").arg(x).arg(y));
    positionLabel->setEnabled(true);
    if (!written) {
        dataLabel->setText(QStringLiteral("Invalid"));
        dataLabel->setEnabled(false);
        return;
    }
    // A point inside the scene but outside a smaller buffer reads as 0.
    const PixelValue value(*buffer, static_cast<unsigned>(x), static_cast<unsigned>(y));
    dataLabel->setText(QString::fromStdString(value.text(d->hexDisplay)));
    dataLabel->setEnabled(true);
}

void Qt4DisplaySceneVisualizer::hexDecButtonToggled(bool checked)
{
    d->hexDisplay = checked;
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->invalidateScene();
}

void Qt4DisplaySceneVisualizer::rgbOverlayButtonToggled(bool checked)
{
    d->showPixelValues = checked;
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->invalidateScene();
}

// Deliberately connected to nothing (the form has no grid button); kept as the slot is
// part of the fixed surface.
void Qt4DisplaySceneVisualizer::gridButtonToggled(bool checked)
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->enableZoomGrid(checked);
}

} // namespace core
} // namespace vexo
