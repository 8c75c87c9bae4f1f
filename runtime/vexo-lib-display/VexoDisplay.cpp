#include "vexo-lib-display/VexoDisplay.h"

#include "vexo-core/UseCounter.h"

namespace {
vexo::core::UseCounter displayUsers;
}

extern "C" void VexoDisplayInit()
{
    displayUsers.acquire();
}

extern "C" void VexoDisplayDeinit()
{
    displayUsers.release();
}

extern "C" unsigned VexoDisplayUseCount()
{
    return displayUsers.value();
}
