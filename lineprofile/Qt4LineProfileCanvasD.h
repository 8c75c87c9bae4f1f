#pragma once

// The line profile canvas's private record. Internal to the library.

#include "lineprofile/Qt4LineProfileCanvas.h"

#include <QImage>
#include <QPixmap>

namespace vexo {
namespace core {

struct Qt4LineProfileCanvas::D
{
    QPixmap pixmap; // the picture as handed over
    // Detail view: only the part of pixmap stretched by zoomedPixmapZoom that lies in the
    // widget at zoomedOffset, so that its cost and size follow the widget, not the line.
    // Kept: a new picture is stretched into it in place.
    QImage zoomedPart;
    QRect zoomedPartRect; // where zoomedPart lies in the widget
    int zoomedPixmapZoom = -1; // -1: zoomedPart does not belong to pixmap
    int zoomedOffset = 0;
    bool dirty = true; // changed since the last paint of the whole widget
    bool overview = false;
    QImage fitted; // pixmap scaled to the widget (overview), in place for each picture
    int xOffset = 0;
    int firstX = 0;
    int lastX = 0;
    int zoom = 1;
    int verticalMarker = -1;
    int horizontalMarker = -1;
    int mouseX = -1;

    // Stretches the picture into zoomedPart for the widget's rectangle unless it is still what the widget shows.
    void updateZoomedPart(const QRect& widget);
};

} // namespace core
} // namespace vexo
