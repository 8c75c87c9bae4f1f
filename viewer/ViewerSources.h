#pragma once

#include "ViewerOptions.h"

#include "vexo-lib-display/FrameSource.h"

#include <QString>

#include <memory>

// The source of one channel: the simulator, or the camera or files the options ask for.
// Empty, with a message, when the camera or the files cannot be used.
std::unique_ptr<vexo::core::FrameSource> makeSource(const ViewerOptions& options, QString* error);

// Prints the cameras found, one a line; the exit status of the viewer (2: built without
// camera support).
int listCameras(const ViewerOptions& options);
