#pragma once

#include <atomic>
#include <cstdint>

namespace vexo::templates::platform {

// Scoped busy-waiting lock on a caller-owned 32-bit word (0 free, 1 held), for critical
// sections of a few statements shared with foreign threads, and for one-time creation.
//
// With an owner word the lock is re-entrant: a guard on the thread that already holds it
// takes nothing and only the outermost guard releases. Without one, a second guard on
// the same thread spins for ever, so such a lock must never be held across a call that
// could take it again. The owner word belongs to exactly one lock word.
//
// Both words are atomics: the owner word is read before the lock is taken (only the
// holding thread can find its own id there), and the lock word is what other threads
// spin on. The guard may be used on any thread but must be destroyed on the one that
// constructed it.
struct SpinLockVariableGuard
{
    explicit SpinLockVariableGuard(std::atomic<std::int32_t>* lockVariable,
                                   std::atomic<std::uint32_t>* ownerVariable = nullptr);
    ~SpinLockVariableGuard();

    SpinLockVariableGuard(const SpinLockVariableGuard&) = delete;
    SpinLockVariableGuard& operator=(const SpinLockVariableGuard&) = delete;

    std::atomic<std::int32_t>* const lockVariable; // not owned
    std::atomic<std::uint32_t>* const ownerVariable; // not owned; may be null
    bool locked; // this guard must release the lock
};

} // namespace vexo::templates::platform
