#include "linehistogram/Qt4LineHistogramCanvas.h"

#include "linehistogram/Qt4LineHistogramCanvasD.h"

#include "frame/NearestScale.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

namespace vexo {
namespace core {

namespace {

// Nearest pixel, into the kept store: each bin stays a crisp column at any width. The
// pixmap's image is its own pixels on raster surfaces, only read.
void fit(const QPixmap& pixmap, const QSize& size, QImage& fitted)
{
    scaleNearest(pixmap.toImage(), size, fitted);
}

} // namespace

Qt4LineHistogramCanvas::Qt4LineHistogramCanvas(QWidget* parent)
    : QWidget(parent)
    , d(new D)
{
}

Qt4LineHistogramCanvas::~Qt4LineHistogramCanvas() = default;

void Qt4LineHistogramCanvas::setPixmap(QPixmap* pixmap)
{
    if (!pixmap) {
        d->pixmap = QPixmap();
        d->fitted = QImage();
        return;
    }
    d->pixmap = *pixmap;
    d->dirty = true;
    if (pixmap->isNull())
        return;
    fit(*pixmap, size(), d->fitted);
}

void Qt4LineHistogramCanvas::resizeEvent(QResizeEvent* event)
{
    if (!d->pixmap.isNull())
        fit(d->pixmap, event->size(), d->fitted);
    update();
}

void Qt4LineHistogramCanvas::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (d->pixmap.isNull()) {
        painter.eraseRect(rect());
        return;
    }
    const QRect area = d->dirty ? rect() : event->rect();
    d->dirty = false;
    const QRect source = area & d->fitted.rect();
    // An empty source rectangle would make drawImage draw the whole image.
    if (!source.isEmpty())
        painter.drawImage(source.topLeft(), d->fitted, source);
}

} // namespace core
} // namespace vexo
