#include "lineprofile/Qt4LineProfileCanvas.h"

#include "lineprofile/Qt4LineProfileCanvasD.h"

#include "frame/NearestScale.h"

#include <QColor>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>

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

// The picture the pixmap shows, as a 32-bit image: on raster surfaces the pixmap's own pixels,
// not a copy. Only read.
QImage pictureOf(const QPixmap& pixmap)
{
    QImage picture = pixmap.toImage();
    if (picture.depth() != 32)
        picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return picture;
}

// Columns first ... first + size.width() - 1 of the line stretched by `zoom` into `part`, for
// rows top ... top + size.height() - 1: each sample a block of `zoom` whole columns. The
// block of sample `firstSample`, that of column `first`, is cut where `first` falls inside
// it. `part` is made anew only for another size or format.
void stretchColumns(const QImage& picture, int firstSample, int top, int zoom, int first, const QSize& size,
                    QImage& part)
{
    if (part.size() != size || part.format() != picture.format() || !part.isDetached()) {
        part = QImage(); // the old store before the new one is made
        part = QImage(size, picture.format());
        if (part.isNull())
            return;
    }
    for (int y = 0; y < size.height(); ++y) {
        const QRgb* from = reinterpret_cast<const QRgb*>(picture.constScanLine(top + y)) + firstSample;
        QRgb* to = reinterpret_cast<QRgb*>(part.scanLine(y));
        // Whole runs of one word, which the compiler fills many words at a time.
        QRgb* const end = to + size.width();
        for (int run = zoom - first % zoom; to != end; run = zoom) {
            run = std::min<int>(run, static_cast<int>(end - to));
            std::fill_n(to, run, *from++);
            to += run;
        }
    }
}

} // namespace

void Qt4LineProfileCanvas::D::updateZoomedPart(const QRect& widget)
{
    // The stretched line, shifted left by the scroll offset, cut to the widget.
    const QRect part = widget & QRect(-xOffset, 0, pixmap.width() * zoom, pixmap.height());
    if (zoomedPixmapZoom == zoom && zoomedOffset == xOffset && zoomedPartRect == part)
        return;
    zoomedPixmapZoom = zoom;
    zoomedOffset = xOffset;
    zoomedPartRect = part;
    if (part.isEmpty()) {
        zoomedPart = QImage();
        return;
    }
    // Only the samples on screen are read out of the picture, in place.
    const int first = part.x() + xOffset;
    stretchColumns(pictureOf(pixmap), first / zoom, part.y(), zoom, first, part.size(), zoomedPart);
}

Qt4LineProfileCanvas::Qt4LineProfileCanvas(QWidget* parent)
    : QWidget(parent)
    , d(new D)
{
    setAttribute(Qt::WA_MouseTracking);
}

Qt4LineProfileCanvas::~Qt4LineProfileCanvas() = default;

void Qt4LineProfileCanvas::setPixmap(QPixmap* pixmap, bool overview)
{
    setPixmap(pixmap, overview, QImage());
}

void Qt4LineProfileCanvas::setPixmap(QPixmap* pixmap, bool overview, const QImage& fitted)
{
    if (!pixmap) {
        d->pixmap = QPixmap();
        d->zoomedPart = QImage();
        d->fitted = QImage();
        d->zoomedPixmapZoom = -1;
        return;
    }
    d->pixmap = *pixmap;
    d->dirty = true;
    d->overview = overview;
    if (!overview) {
        // The stretch belongs to the old picture; the next paint stretches what it shows.
        d->zoomedPixmapZoom = -1;
    } else if (!d->pixmap.isNull()) {
        // The worker's copy is only read: scaling it to its own size copies it into the kept store.
        scaleNearest(fitted.size() == rect().size() ? fitted : pictureOf(d->pixmap), rect().size(), d->fitted);
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
        scaleNearest(pictureOf(d->pixmap), rect().size(), d->fitted);
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
        const QImage& source = d->fitted;
        if (area.intersects(source.rect())) {
            const QRect r = area & source.rect();
            painter.drawImage(r.topLeft(), source, r);

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
        // The whole line stretched would be this wide; only the part in the widget is made.
        const QRect zoomed(0, 0, d->pixmap.width() * d->zoom, d->pixmap.height());
        if (area.intersects(zoomed)) {
            const QRect r = area & zoomed;
            if (d->zoom == 1) {
                painter.drawPixmap(r.topLeft(), d->pixmap, r.translated(d->xOffset, 0));
            } else {
                d->updateZoomedPart(rect());
                const QRect shown = r & d->zoomedPartRect;
                if (!shown.isEmpty())
                    painter.drawImage(shown.topLeft(), d->zoomedPart, shown.translated(-d->zoomedPartRect.topLeft()));
            }

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
