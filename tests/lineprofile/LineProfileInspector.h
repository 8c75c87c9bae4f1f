#pragma once

// White-box access to the line profile dialog's private record, for its tests.

#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileDialogD.h"
#include "lineprofile/Qt4LineProfileThread.h"

namespace vexo {
namespace core {

struct LineProfileInspector
{
    static Qt4LineProfileDialog::D& d(Qt4LineProfileDialog* dialog) { return *dialog->d; }
    static Qt4LineProfileThread* worker(Qt4LineProfileDialog* dialog)
    {
        return dialog->d->thread.get();
    }
};

} // namespace core
} // namespace vexo
