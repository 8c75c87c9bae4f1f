#pragma once

// The line histogram dialog's private record. Internal to the library (and its tests).

#include "linehistogram/Qt4LineHistogramDialog.h"
#include "linehistogram/Qt4LineHistogramThread.h"

#include <QImage>
#include <QPixmap>

#include <memory>

namespace vexo {
namespace core {

struct Qt4LineHistogramDialog::D
{
    // The frame the tool shows; empty means "no buffer".
    boost::shared_ptr<DisplaySceneFrame> frame;
    // Owned; deleted by the dialog's destructor after the last run has ended.
    std::unique_ptr<Qt4LineHistogramThread> thread;
    // The last worker picture, taken over from the worker without a copy, and the pixmap
    // made of it (sharing its pixels) that the canvas shows.
    QImage picture;
    QPixmap pixmap;
};

} // namespace core
} // namespace vexo
