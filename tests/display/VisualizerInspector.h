#pragma once

// White-box access to the private records of the window and its tool dialogs, for tests.

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "display/Qt4RenderWidget.h"
#include "display/Qt4RenderWidgetD.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileDialogD.h"

#include <QThread>

namespace vexo {
namespace core {

struct VisualizerInspector
{
    static Qt4DisplaySceneVisualizer::D& d(Qt4DisplaySceneVisualizer* window)
    {
        return *window->d;
    }
    // The picture the canvas widget shows.
    static QPixmap canvasPixmap(Qt4DisplaySceneVisualizer* window)
    {
        return window->canvasWidget->d->pixmap;
    }
    static QThread* profileWorker(Qt4DisplaySceneVisualizer* window)
    {
        return window->d->lineProfileDialog->d->thread.get();
    }
    static QThread* histogramWorker(Qt4DisplaySceneVisualizer* window)
    {
        return window->d->lineHistogramDialog->d->thread.get();
    }
};

} // namespace core
} // namespace vexo
