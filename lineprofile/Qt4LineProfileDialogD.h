#pragma once

// The line profile dialog's private record. Internal to the library (and its tests).

#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileThread.h"

#include <QImage>
#include <QPixmap>

#include <memory>

namespace vexo {
namespace core {

struct Qt4LineProfileDialog::D
{
    // The frame whose buffer is profiled; empty means "no buffer". GUI thread only.
    boost::shared_ptr<DisplaySceneFrame> frame;
    // Owned; made by the constructor, deleted by the destructor after the last run ended.
    std::unique_ptr<Qt4LineProfileThread> thread;
    // The last worker picture, taken over from the worker without a copy, and the pixmap
    // made of it (sharing its pixels) that both canvases and the PNG export use.
    QImage picture;
    QPixmap pixmap;
    int zoom = 1; // screen pixels per sample in the detail view, 1..64
    int verticalMarker = -1; // marked sample, -1 for none
    int horizontalMarker = -1; // marked level on the picture's 8-bit scale, -1 for none
    int bitsPerPixel = 1; // of the current frame buffer
};

} // namespace core
} // namespace vexo
