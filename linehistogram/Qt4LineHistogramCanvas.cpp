#include "linehistogram/Qt4LineHistogramCanvas.h"

#include "linehistogram/Qt4LineHistogramCanvasD.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

namespace vexo {
namespace core {

namespace {

QPixmap fitted(const QPixmap& pixmap, const QSize& size)
{
    // Nearest pixel: each bin stays a crisp column at any width.
    return pixmap.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
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
        d->fittedPixmap = QPixmap();
        return;
    }
    d->pixmap = *pixmap;
    d->dirty = true;
    if (pixmap->isNull())
        return;
    d->fittedPixmap = fitted(*pixmap, size());
}

void Qt4LineHistogramCanvas::resizeEvent(QResizeEvent* event)
{
    if (!d->pixmap.isNull())
        d->fittedPixmap = fitted(d->pixmap, event->size());
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
    const QRect source = area & d->fittedPixmap.rect();
    // An empty source rectangle would make drawPixmap draw the whole pixmap.
    if (!source.isEmpty())
        painter.drawPixmap(source.topLeft(), d->fittedPixmap, source);
}

} // namespace core
} // namespace vexo
