#pragma once

#include <vector>

struct GuardedSingletonBase;

// Use-counted start-up and shut-down of the library. The first acquire() creates the
// controller; the release() that brings the count back to 0 calls the registered deinit
// functions, deletes the registered singletons and destroys the controller.
//
// All functions may be called from any thread. They serialise on one process-wide
// re-entrant spin lock (initLock), which is also held while init and deinit functions
// and singleton destructors run, so those may call back in on the same thread.
class LibraryInitController
{
public:
    using InitFunction = void (*)();
    using DeinitFunction = void (*)();

    // Counts one more user; creates the controller for the first. Returns the new count.
    static unsigned acquire();

    // Counts one user less; the last one tears everything down (see above). Returns the
    // count before the decrement. An unmatched release wraps the count and tears nothing
    // down; callers must pair their calls.
    static unsigned release();

    static unsigned useCount();

    // Calls init under initLock; first registers deinit for the last release if the
    // controller exists. Every call registers again, so n calls mean n deinit calls.
    static void chainedInit(InitFunction init, DeinitFunction deinit);

    // Appends a new singleton for deletion at the last release; does nothing while no
    // controller exists.
    static void registerSingleton(GuardedSingletonBase* singleton);

    LibraryInitController(const LibraryInitController&) = delete;
    LibraryInitController& operator=(const LibraryInitController&) = delete;

private:
    LibraryInitController() = default;
    ~LibraryInitController() = default;

    // Both in registration order; guarded by initLock.
    std::vector<GuardedSingletonBase*> singletonList_;
    std::vector<DeinitFunction> deinitList_;
};
