#pragma once

// The line profile canvas's private record. Internal to the library.

#include "lineprofile/Qt4LineProfileCanvas.h"

#include <QPixmap>

namespace vexo {
namespace core {

struct Qt4LineProfileCanvas::D
{
    QPixmap pixmap; // the picture as handed over
    QPixmap zoomedPixmap; // pixmap stretched by zoomedPixmapZoom (detail view)
    int zoomedPixmapZoom = -1; // -1: zoomedPixmap does not belong to pixmap
    bool dirty = true; // changed since the last paint of the whole widget
    bool overview = false;
    QPixmap fittedPixmap; // pixmap scaled to the widget (overview)
    int xOffset = 0;
    int firstX = 0;
    int lastX = 0;
    int zoom = 1;
    int verticalMarker = -1;
    int horizontalMarker = -1;
    int mouseX = -1;
};

} // namespace core
} // namespace vexo
