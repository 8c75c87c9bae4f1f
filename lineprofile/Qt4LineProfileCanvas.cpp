#include "lineprofile/Qt4LineProfileCanvas.h"

#include "lineprofile/Qt4LineProfileCanvasD.h"

#include <QColor>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>

namespace vexo {
namespace core {

namespace {

// The overview is drawn for a 64-pixel widget, the detail view for the picture's 256 rows.
constexpr int overviewHeight = 64;
constexpr int detailHeight = 256;
constexpr double overviewLevelScale = 0.25;

const QColor bandColor(255, 255, 255, 128);
const QColor overviewMarkerColor(255, 255, 0, 255);
const QColor detailMarkerColor(255, 255, 0, 128);

QPixmap stretched(const QPixmap& source, const QSize& size)
{
    // Nearest neighbour: each sample stays a block of whole pixels.
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace

Qt4LineProfileCanvas::Qt4LineProfileCanvas(QWidget* parent)
    : QWidget(parent)
    , d(new D)
{
    setAttribute(Qt::WA_MouseTracking);
}

Qt4LineProfileCanvas::~Qt4LineProfileCanvas() = default;

void Qt4LineProfileCanvas::setPixmap(QPixmap* pixmap, bool overview)
{
    if (!pixmap) {
        d->pixmap = QPixmap();
        d->zoomedPixmap = QPixmap();
        d->fittedPixmap = QPixmap();
        d->zoomedPixmapZoom = -1;
        return;
    }
    d->pixmap = *pixmap;
    d->dirty = true;
    d->overview = overview;
    if (!overview) {
        if (!d->pixmap.isNull() && d->zoom != 1) {
            d->zoomedPixmap = stretched(d->pixmap, QSize(d->pixmap.width() * d->zoom, d->pixmap.height()));
            d->zoomedPixmapZoom = d->zoom;
        } else if (d->zoom == 1) {
            // The cached stretch belongs to the old picture; the next zoom makes it anew.
            d->zoomedPixmapZoom = -1;
        }
    } else if (!d->pixmap.isNull()) {
        d->fittedPixmap = stretched(d->pixmap, rect().size());
    }
}

void Qt4LineProfileCanvas::setXOffset(int offset, int first, int last)
{
    d->xOffset = offset;
    d->firstX = first;
    d->lastX = last;
    d->dirty = true;
    update();
}

void Qt4LineProfileCanvas::setAdditionalInfo(int zoom, int verticalMarker, int horizontalMarker)
{
    d->zoom = zoom;
    d->verticalMarker = verticalMarker;
    d->horizontalMarker = horizontalMarker;
    d->dirty = true;
    update();
}

void Qt4LineProfileCanvas::mouseMoveEvent(QMouseEvent* event)
{
    // The sample that the detail view draws under this column.
    d->mouseX = (d->xOffset + event->pos().x()) / d->zoom;
    emit mousePositionChanged(d->mouseX);
}

void Qt4LineProfileCanvas::leaveEvent(QEvent*)
{
    d->mouseX = -1;
    emit mousePositionChanged(-1);
}

void Qt4LineProfileCanvas::resizeEvent(QResizeEvent*)
{
    if (d->overview && !d->pixmap.isNull())
        d->fittedPixmap = stretched(d->pixmap, rect().size());
    update();
}

void Qt4LineProfileCanvas::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (d->pixmap.isNull()) {
        painter.eraseRect(rect());
        emit mousePositionChanged(d->mouseX);
        return;
    }

    // After a change the whole widget is redrawn; a mere expose redraws its own area.
    const QRect area = d->dirty ? rect() : event->rect();

    if (d->overview) {
        const QPixmap& source = d->fittedPixmap;
        if (area.intersects(source.rect())) {
            const QRect r = area & source.rect();
            painter.drawPixmap(r.topLeft(), source, r);

            // Band and vertical marker scale with the visible span the dialog computed,
            // not with the widget width.
            const int samples = d->pixmap.width();
            const int span = d->lastX - d->firstX + 1;
            if (span != samples && samples != 0) {
                const double k = static_cast<double>(span) / samples;
                painter.fillRect(QRect(static_cast<int>(d->xOffset * k / d->zoom), 0,
                                       static_cast<int>(span * k / d->zoom), overviewHeight),
                                 bandColor);
            }
            painter.setPen(QPen(overviewMarkerColor, 1, Qt::SolidLine));
            if (d->verticalMarker != -1 && samples != 0) {
                const double k = static_cast<double>(span == samples ? r.width() : span) / samples;
                const int x = static_cast<int>(d->verticalMarker * k);
                painter.drawLine(x, 0, x, overviewHeight);
            }
            if (d->horizontalMarker != -1) {
                const int y = overviewHeight - static_cast<int>(d->horizontalMarker * overviewLevelScale);
                painter.drawLine(0, y, r.width(), y);
            }
        }
    } else {
        if (d->zoom != 1 && d->zoomedPixmapZoom != d->zoom) {
            // One zoom is cached; scrolling and exposes reuse it.
            d->zoomedPixmap = stretched(d->pixmap, QSize(d->pixmap.width() * d->zoom, d->pixmap.height()));
            d->zoomedPixmapZoom = d->zoom;
        }
        const QPixmap& source = d->zoom != 1 ? d->zoomedPixmap : d->pixmap;
        if (area.intersects(source.rect())) {
            const QRect r = area & source.rect();
            painter.drawPixmap(r.topLeft(), source, QRect(r.x() + d->xOffset, r.y(), r.width(), r.height()));

            if (d->horizontalMarker != -1) {
                painter.setPen(QPen(detailMarkerColor, 1, Qt::SolidLine));
                const int y = detailHeight - d->horizontalMarker;
                painter.drawLine(0, y, r.width(), y);
            }
            if (d->verticalMarker != -1) {
                // The screen columns of the marked sample; the first visible sample may be
                // cut by the scroll offset at the left edge.
                const int firstSample = d->xOffset / d->zoom;
                const int cut = d->xOffset % d->zoom;
                if (d->verticalMarker >= firstSample) {
                    const int n = d->verticalMarker - firstSample;
                    const int x = n == 0 ? 0 : n * d->zoom - cut;
                    const int w = n == 0 ? d->zoom - cut : d->zoom;
                    if (x < r.width())
                        painter.fillRect(QRect(x, 0, w, detailHeight), detailMarkerColor);
                }
            }
        }
    }

    if (area == rect())
        d->dirty = false;
    emit mousePositionChanged(d->mouseX);
}

} // namespace core
} // namespace vexo
