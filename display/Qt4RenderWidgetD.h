#pragma once

// The canvas widget's private record. Internal to the library (and its tests).

#include "display/Qt4RenderWidget.h"

#include <QPixmap>

struct Qt4RenderWidget::D
{
    vexo::core::Qt4DisplaySceneVisualizer* visualizer = nullptr;
    QPixmap pixmap;
    boost::shared_ptr<vexo::core::DisplaySceneFrame> frame;
};
