#pragma once

#include "frame/VexoDisplayQt4Export.h"

// Bring-up and take-down of the display library, for the host. Use-counted: call the
// init before creating the first window and pair every init with a deinit. Each init
// also brings up the core and display runtimes; the last deinit takes them down again
// and releases the library's process-wide objects. Any thread.
extern "C" {
VEXO_DISPLAY_QT4_EXPORT void VexoDisplayQt4Init();
VEXO_DISPLAY_QT4_EXPORT void VexoDisplayQt4Deinit();
}
