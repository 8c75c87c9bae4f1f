#pragma once

// The line histogram canvas's private record. Internal to the library (and its tests).

#include "linehistogram/Qt4LineHistogramCanvas.h"

#include <QImage>
#include <QPixmap>

namespace vexo {
namespace core {

struct Qt4LineHistogramCanvas::D
{
    QPixmap pixmap; // the picture as handed over
    bool dirty = true; // handed over and not yet painted: the next paint covers everything
    QImage fitted; // pixmap scaled to the widget size, in place for each picture
};

} // namespace core
} // namespace vexo
