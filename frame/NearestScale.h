#pragma once

#include <QImage>
#include <QPainter>
#include <QSize>
#include <QTransform>

#include <cstring>

namespace vexo {
namespace core {

// The line tools' pictures scaled as nearest neighbour, each sample a block of whole pixels,
// into a store the caller keeps, so that a picture a frame costs no new store. The pixels
// equal source.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation): for a 32-bit
// picture that call paints through the same raster engine, with the same transform, onto a
// store cleared to 0, which is what this does. `target` is made anew only when its size or
// format differs (or it is shared, which painting would copy anyway); an empty size or source
// leaves it null. Any thread: only the two images are touched.
//
// Header only, like LineToolThread.h, which uses it on the worker thread.
inline void scaleNearest(const QImage& source, const QSize& size, QImage& target)
{
    if (source.isNull() || size.isEmpty()) {
        target = QImage();
        return;
    }
    if (source.depth() != 32) {
        // Not the tools' own pictures; Qt converts such formats first and picks its own target.
        target = source.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        return;
    }
    if (target.size() != size || target.format() != source.format() || !target.isDetached()) {
        target = QImage(); // the old store before the new one is made
        target = QImage(size, source.format());
        if (target.isNull())
            return;
    }
    if (source.size() == size) {
        // Qt returns the picture itself then; a copy of its rows shows the same.
        const std::size_t rowBytes = static_cast<std::size_t>(size.width()) * 4;
        for (int y = 0; y < size.height(); ++y)
            std::memcpy(target.scanLine(y), source.constScanLine(y), rowBytes);
        return;
    }
    // Columns or rows the fixed-point stepping cannot reach stay as Qt leaves them: 0.
    target.fill(0);
    QPainter painter(&target);
    painter.setTransform(QTransform::fromScale(static_cast<qreal>(size.width()) / source.width(),
                                               static_cast<qreal>(size.height()) / source.height()));
    painter.drawImage(QPoint(0, 0), source);
}

} // namespace core
} // namespace vexo
