#include "vexo-core/VexoCore.h"

#include <atomic>

namespace {
std::atomic<unsigned> coreUseCount{0};
}

extern "C" void VexoCoreInit()
{
    ++coreUseCount;
}

extern "C" void VexoCoreDeinit()
{
    unsigned count = coreUseCount.load();
    while (count > 0 && !coreUseCount.compare_exchange_weak(count, count - 1)) {
    }
}

extern "C" unsigned VexoCoreUseCount()
{
    return coreUseCount.load();
}
