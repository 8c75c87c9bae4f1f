#include "vexo-lib-display/VexoDisplay.h"

#include <atomic>

namespace {
std::atomic<unsigned> displayUseCount{0};
}

extern "C" void VexoDisplayInit()
{
    ++displayUseCount;
}

extern "C" void VexoDisplayDeinit()
{
    unsigned count = displayUseCount.load();
    while (count > 0 && !displayUseCount.compare_exchange_weak(count, count - 1)) {
    }
}

extern "C" unsigned VexoDisplayUseCount()
{
    return displayUseCount.load();
}
