#include "frame/LibraryInitController.h"

#include "frame/GuardedSingletonBase.h"
#include "frame/SpinLockVariableGuard.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

using vexo::templates::platform::SpinLockVariableGuard;

static_assert(sizeof(unsigned) == 4, "the use count is a 32-bit unsigned integer");

namespace {

// Process-wide state, constant-initialised so it is valid before any static constructor.
// initLock (the two words) guards the use count, the controller pointer and the
// controller's lists.
std::atomic<std::int32_t> initLockWord{0};
std::atomic<std::uint32_t> initLockOwner{0};
unsigned useCountValue = 0;
LibraryInitController* controller = nullptr; // exists while useCountValue > 0

} // namespace

unsigned LibraryInitController::acquire()
{
    SpinLockVariableGuard initLock(&initLockWord, &initLockOwner);
    if (++useCountValue == 1 && !controller)
        controller = new LibraryInitController();
    return useCountValue;
}

unsigned LibraryInitController::release()
{
    SpinLockVariableGuard initLock(&initLockWord, &initLockOwner);
    const unsigned before = useCountValue--;
    if (before != 1 || !controller)
        return before;

    // Indexed loops: a deinit function or a destructor may register more on this thread,
    // and those are torn down in the same pass instead of invalidating an iterator.
    std::vector<DeinitFunction>& deinits = controller->deinitList_;
    for (std::size_t i = 0; i < deinits.size(); ++i)
        deinits[i]();

    std::vector<GuardedSingletonBase*>& singletons = controller->singletonList_;
    for (std::size_t i = 0; i < singletons.size(); ++i) {
        GuardedSingletonBase* singleton = singletons[i];
        singleton->beforeDestroy();
        GuardedSingletonBase::InstanceSlot* slot = singleton->instancePointer();
        delete singleton;
        slot->store(nullptr);
    }

    delete controller;
    controller = nullptr;
    return before;
}

unsigned LibraryInitController::useCount()
{
    SpinLockVariableGuard initLock(&initLockWord, &initLockOwner);
    return useCountValue;
}

void LibraryInitController::chainedInit(InitFunction init, DeinitFunction deinit)
{
    SpinLockVariableGuard initLock(&initLockWord, &initLockOwner);
    if (controller)
        controller->deinitList_.push_back(deinit);
    init();
}

void LibraryInitController::registerSingleton(GuardedSingletonBase* singleton)
{
    SpinLockVariableGuard initLock(&initLockWord, &initLockOwner);
    if (controller)
        controller->singletonList_.push_back(singleton);
}
