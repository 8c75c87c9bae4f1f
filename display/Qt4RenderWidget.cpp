#include "display/Qt4RenderWidget.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4RenderWidgetD.h"

#include "vexo-lib-display/DisplaySceneFrame.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

Qt4RenderWidget::Qt4RenderWidget(QWidget* parent)
    : QWidget(parent, Qt::WindowFlags())
    , d(new D)
{
    setAttribute(Qt::WA_MouseTracking);
    // The pixmap covers the widget as a rule: paintEvent erases the rest itself, which spares
    // a fill of the whole canvas before every frame is drawn over it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

Qt4RenderWidget::~Qt4RenderWidget() = default;

void Qt4RenderWidget::setVisualizer(vexo::core::Qt4DisplaySceneVisualizer* visualizer)
{
    d->visualizer = visualizer;
}

void Qt4RenderWidget::setSceneFrame(boost::shared_ptr<vexo::core::DisplaySceneFrame> frame)
{
    if (frame) {
        // Wrap the canvas without copying; the only copy is the conversion to the pixmap.
        const QImage image(frame->canvas(), frame->width(), frame->height(), frame->bytesPerScanline(),
                           QImage::Format_RGB32);
        d->pixmap.convertFromImage(image, Qt::AutoColor);
        d->frame = frame;
        if (d->visualizer)
            d->visualizer->polishPixmap(d->pixmap, image);
    } else {
        d->pixmap = QPixmap();
    }
    update();
}

void Qt4RenderWidget::paintEvent(QPaintEvent* e)
{
    QPainter painter(this);
    if (d->pixmap.isNull()) {
        painter.eraseRect(rect());
        return;
    }
    const QRect picture(QPoint(0, 0), d->pixmap.size());
    for (const QRect& outside : QRegion(e->rect()).subtracted(picture))
        painter.eraseRect(outside);
    const QRect exposed = e->rect().intersected(picture);
    if (exposed.isEmpty())
        return;
    painter.drawPixmap(exposed.topLeft(), d->pixmap, exposed);
}

void Qt4RenderWidget::mouseMoveEvent(QMouseEvent* e)
{
    if (!d->visualizer)
        return;
    d->visualizer->notifyCanvasMousePosition(e->pos());
    d->visualizer->notifyMouseMoveEvent(e);
}

void Qt4RenderWidget::leaveEvent(QEvent*)
{
    if (d->visualizer)
        d->visualizer->notifyCanvasMousePosition(QPoint(-1, -1));
}
