#pragma once

// The line histogram dialog's private record. Internal to the library (and its tests).

#include "linehistogram/Qt4LineHistogramDialog.h"
#include "linehistogram/Qt4LineHistogramThread.h"

#include <memory>

namespace vexo {
namespace core {

struct Qt4LineHistogramDialog::D
{
    boost::shared_ptr<DisplaySceneFrame> frame;
    // Owned; deleted by the dialog's destructor after the last run has ended.
    std::unique_ptr<Qt4LineHistogramThread> thread{new Qt4LineHistogramThread};
};

} // namespace core
} // namespace vexo
