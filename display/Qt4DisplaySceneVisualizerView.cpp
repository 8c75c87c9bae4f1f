// Zoom and scrolling: the zoom controls, the scroll bars, the wheel, dragging and the
// mapping between canvas and image pixels (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>

namespace vexo {
namespace core {

int Qt4DisplaySceneVisualizer::D::imageToCanvas(int length) const
{
    if (zoomStep < 0 || zoomStep > 12)
        return length;
    if (zoomStep < 6)
        return length / (1 << (6 - zoomStep));
    return length * (1 << (zoomStep - 6));
}

int Qt4DisplaySceneVisualizer::D::canvasToImage(int length) const
{
    if (zoomStep < 0 || zoomStep > 12)
        return length;
    if (zoomStep < 6)
        return length * (1 << (6 - zoomStep));
    return length / (1 << (zoomStep - 6));
}

void Qt4DisplaySceneVisualizer::D::updateScrollBars()
{
    const int zoomedWidth = imageToCanvas(sceneWidth);
    const int zoomedHeight = imageToCanvas(sceneHeight);
    bool changed = false;

    const auto fit = [this, &changed](QScrollBar* bar, int zoomed, int canvas, int scene) {
        if (zoomed > canvas) {
            if (bar->isHidden()) {
                bar->show();
                changed = true;
            }
            const int page = canvasToImage(canvas);
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
        QCoreApplication::postEvent(window, new QResizeEvent(window->size(), window->size()),
                                    Qt::NormalEventPriority);
}

bool Qt4DisplaySceneVisualizer::D::mapCanvasToImage(int* x, int* y, bool* written) const
{
    if (!x || !y || !written)
        return false;
    if (framePixelSize >= 2) {
        *x /= framePixelSize;
        *y /= framePixelSize;
    } else if (frameStepSize >= 2) {
        *x *= frameStepSize;
        *y *= frameStepSize;
    }
    *x += frameMinX;
    *y += frameMinY;
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

void Qt4DisplaySceneVisualizer::zoomValueChanged(int value)
{
    d->zoomStep = value;
    d->updateScrollBars();
    zoomInButton->setEnabled(d->zoomStep != 12);
    zoomOutButton->setEnabled(d->zoomStep != 0);
    rgbOverlayButton->setEnabled(d->zoomStep == 11 || d->zoomStep == 12);
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->setZoomFactor(d->zoomStep);
}

void Qt4DisplaySceneVisualizer::zoomInButtonClicked()
{
    zoomValueSpinBox->setValue(d->zoomStep + 1);
}

void Qt4DisplaySceneVisualizer::zoomOutButtonClicked()
{
    zoomValueSpinBox->setValue(d->zoomStep - 1);
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
    const QPoint angle = e->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if ((d->zoomStep == 0 && delta < 0) || (d->zoomStep == 12 && delta >= 0))
        return;

    // The window receives the wheel in its own coordinates; the canvas may not sit at the
    // window's origin (a menu bar with entries, a margin), so map the point explicitly.
    const QPoint onCanvas = canvasWidget->mapFrom(this, e->position().toPoint());
    const int x = onCanvas.x();
    const int y = onCanvas.y();
    int ix = x;
    int iy = y;
    bool written = false;
    d->mapCanvasToImage(&ix, &iy, &written);

    d->zoomStep += delta < 0 ? -1 : 1;
    d->updateScrollBars();

    int offsetX = 0;
    int offsetY = 0;
    if (written) {
        const int f = d->imageToCanvas(1);
        const int g = d->canvasToImage(1);
        int dx = 0;
        int dy = 0;
        if (f > 1) {
            dx = x / f;
            dy = y / f;
        } else if (g >= 1) {
            dx = x * g;
            dy = y * g;
        }
        offsetX = ix - dx;
        offsetY = iy - dy;
    }
    const auto clampToBar = [](QScrollBar* bar, int offset) {
        if (bar->isHidden() || offset < bar->minimum())
            offset = bar->minimum();
        if (offset > bar->maximum())
            offset = bar->maximum();
        const bool blocked = bar->blockSignals(true);
        bar->setValue(offset);
        bar->blockSignals(blocked);
        return offset;
    };
    offsetX = clampToBar(horizontalScrollBar, offsetX);
    offsetY = clampToBar(verticalScrollBar, offsetY);

    d->updateScrollBars();
    const bool blocked = zoomValueSpinBox->blockSignals(true);
    zoomValueSpinBox->setValue(d->zoomStep);
    zoomValueSpinBox->blockSignals(blocked);
    zoomInButton->setEnabled(d->zoomStep != 12);
    zoomOutButton->setEnabled(d->zoomStep != 0);
    rgbOverlayButton->setEnabled(d->zoomStep == 11 || d->zoomStep == 12);

    attached->setZoomFactorAndOffset(d->zoomStep, offsetX, offsetY);
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
    int qx = 0;
    int qy = 0;
    QPoint consumed;
    if (d->framePixelSize >= 2) {
        qx = dxc / d->framePixelSize;
        qy = dyc / d->framePixelSize;
        // The remainder of less than one image pixel carries over to the next move.
        consumed = QPoint(qx * d->framePixelSize, qy * d->framePixelSize);
    } else if (d->frameStepSize >= 1) {
        qx = dxc * d->frameStepSize;
        qy = dyc * d->frameStepSize;
        consumed = QPoint(dxc, dyc);
    }
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
