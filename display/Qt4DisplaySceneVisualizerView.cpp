// Zoom and scrolling: the zoom controls, the scroll bars, the wheel, dragging and the
// mapping between canvas and image pixels (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <cstdlib>

namespace vexo {
namespace core {

void Qt4DisplaySceneVisualizer::D::updateScrollBars()
{
    const int zoomedWidth = zoomStep.imageToCanvas(sceneWidth);
    const int zoomedHeight = zoomStep.imageToCanvas(sceneHeight);
    bool changed = false;

    const auto fit = [this, &changed](QScrollBar* bar, int zoomed, int canvas, int scene) {
        if (zoomed > canvas) {
            if (bar->isHidden()) {
                bar->show();
                changed = true;
            }
            const int page = zoomStep.canvasToImage(canvas);
            bar->setMinimum(0);
            bar->setSingleStep(1);
            bar->setPageStep(page);
            bar->setMaximum(scene - page);
            bar->setValue(bar->value());
        } else if (!bar->isHidden()) {
            bar->setValue(0);
            bar->hide();
            changed = true;
        }
    };
    fit(window->horizontalScrollBar, zoomedWidth, canvasWidth, sceneWidth);
    fit(window->verticalScrollBar, zoomedHeight, canvasHeight, sceneHeight);

    // The layout moves the canvas for a shown or hidden bar; measure it again then.
    if (changed)
        QCoreApplication::postEvent(window, new QResizeEvent(window->size(), window->size()), Qt::NormalEventPriority);
}

bool Qt4DisplaySceneVisualizer::D::mapCanvasToImage(int* x, int* y, bool* written) const
{
    if (!x || !y || !written)
        return false;
    *x = frameZoom().canvasToImage(*x) + frameMinX;
    *y = frameZoom().canvasToImage(*y) + frameMinY;
    if (*x >= sceneWidth || *y >= sceneHeight)
        return false;
    const boost::shared_ptr<FrameBuffer> buffer = currentFrameBuffer.lock();
    if (!buffer)
        return false;
    int lastX = -1;
    int lastY = -1;
    buffer->lastValidPixel(&lastX, &lastY);
    *written = *y < lastY || (*y == lastY && *x <= lastX);
    return true;
}

void Qt4DisplaySceneVisualizer::D::updateZoomButtons() const
{
    window->zoomInButton->setEnabled(!zoomStep.isMaximum());
    window->zoomOutButton->setEnabled(!zoomStep.isMinimum());
    window->rgbOverlayButton->setEnabled(zoomStep.fitsValueText());
}

void Qt4DisplaySceneVisualizer::zoomValueChanged(int value)
{
    d->zoomStep = ZoomStep(value);
    d->updateScrollBars();
    d->updateZoomButtons();
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->setZoomFactor(d->zoomStep.value());
}

void Qt4DisplaySceneVisualizer::zoomInButtonClicked()
{
    zoomValueSpinBox->setValue(d->zoomStep.zoomedIn().value());
}

void Qt4DisplaySceneVisualizer::zoomOutButtonClicked()
{
    zoomValueSpinBox->setValue(d->zoomStep.zoomedOut().value());
}

void Qt4DisplaySceneVisualizer::horizontalScrollBarValueChanged(int value)
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->setOffset(value, verticalScrollBar->value());
}

void Qt4DisplaySceneVisualizer::verticalScrollBarValueChanged(int value)
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->setOffset(horizontalScrollBar->value(), value);
}

void Qt4DisplaySceneVisualizer::resizeEvent(QResizeEvent*)
{
    d->canvasWidth = canvasWidget->width();
    d->canvasHeight = canvasWidget->height();
    d->updateScrollBars();
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->setCanvasSize(d->canvasWidth, d->canvasHeight);
}

void Qt4DisplaySceneVisualizer::wheelEvent(QWheelEvent* e)
{
    boost::shared_ptr<DisplayScene> attached = scene();
    if (!attached)
        return;
    // The larger component is the turn the user meant; a tie goes to the vertical wheel.
    const QPoint angle = e->angleDelta();
    const int delta = std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y();
    // A delta of 0 counts as a step in.
    const ZoomStep next = delta < 0 ? d->zoomStep.zoomedOut() : d->zoomStep.zoomedIn();
    if (next == d->zoomStep)
        return;

    // The window receives the wheel in its own coordinates; the canvas may not sit at the
    // window's origin (a menu bar with entries, a margin), so map the point explicitly.
    // Truncated toward zero, not rounded: the pixel the pointer is in.
    const QPointF at = e->position();
    const QPoint onCanvas = canvasWidget->mapFrom(this, QPoint(static_cast<int>(at.x()), static_cast<int>(at.y())));
    const int x = onCanvas.x();
    const int y = onCanvas.y();
    int ix = x;
    int iy = y;
    bool written = false;
    d->mapCanvasToImage(&ix, &iy, &written);

    d->zoomStep = next;
    d->updateScrollBars();

    // The image pixel under the pointer stays under it, if it holds data.
    int offsetX = 0;
    int offsetY = 0;
    if (written) {
        offsetX = ix - d->zoomStep.canvasToImage(x);
        offsetY = iy - d->zoomStep.canvasToImage(y);
    }
    const auto clampToBar = [](QScrollBar* bar, int offset) {
        if (bar->isHidden() || offset < bar->minimum())
            offset = bar->minimum();
        if (offset > bar->maximum())
            offset = bar->maximum();
        const QSignalBlocker blocker(bar);
        bar->setValue(offset);
        return offset;
    };
    offsetX = clampToBar(horizontalScrollBar, offsetX);
    offsetY = clampToBar(verticalScrollBar, offsetY);

    d->updateScrollBars();
    {
        const QSignalBlocker blocker(zoomValueSpinBox);
        zoomValueSpinBox->setValue(d->zoomStep.value());
    }
    d->updateZoomButtons();

    attached->setZoomFactorAndOffset(d->zoomStep.value(), offsetX, offsetY);
}

void Qt4DisplaySceneVisualizer::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        d->dragPosition = canvasWidget->mapFrom(this, e->pos());
}

void Qt4DisplaySceneVisualizer::notifyMouseMoveEvent(QMouseEvent* e)
{
    if (!(e->buttons() & Qt::LeftButton))
        return;
    // Moves come from the canvas widget, in its own coordinates.
    const int dxc = e->pos().x() - d->dragPosition.x();
    const int dyc = e->pos().y() - d->dragPosition.y();
    const ZoomStep zoom = d->frameZoom();
    const int qx = zoom.canvasToImage(dxc);
    const int qy = zoom.canvasToImage(dyc);
    // The remainder of less than one image pixel carries over to the next move.
    const QPoint consumed(zoom.imageToCanvas(qx), zoom.imageToCanvas(qy));
    const auto scroll = [](QScrollBar* bar, int by) {
        if (by == 0 || !bar->isVisible())
            return;
        const int value = bar->value() - by;
        if (value >= bar->minimum() && value <= bar->maximum())
            bar->setValue(value);
    };
    scroll(horizontalScrollBar, qx);
    scroll(verticalScrollBar, qy);
    d->dragPosition += consumed;
}

} // namespace core
} // namespace vexo
