#include "vexo-core/VexoCore.h"

#include "vexo-core/UseCounter.h"

namespace {
vexo::core::UseCounter coreUsers;
}

extern "C" void VexoCoreInit()
{
    coreUsers.acquire();
}

extern "C" void VexoCoreDeinit()
{
    coreUsers.release();
}

extern "C" unsigned VexoCoreUseCount()
{
    return coreUsers.value();
}
