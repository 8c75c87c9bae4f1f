#pragma once

// The line profile dialog's private record. Internal to the library (and its tests).

#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileThread.h"

#include <memory>

namespace vexo {
namespace core {

struct Qt4LineProfileDialog::D
{
    boost::shared_ptr<DisplaySceneFrame> frame;
    // Owned; deleted by the dialog's destructor after the last run has ended.
    std::unique_ptr<Qt4LineProfileThread> thread{new Qt4LineProfileThread};
};

} // namespace core
} // namespace vexo
