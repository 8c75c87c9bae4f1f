#pragma once

#include <atomic>

// What the library init controller knows of a guarded singleton: enough to release it at
// the last deinitialisation without knowing its type.
struct GuardedSingletonBase
{
    // Each singleton type keeps its instance pointer in a slot of this type, held as a
    // base pointer so the controller can null it without knowing the type (a T** seen
    // as a base** would be undefined behaviour). Atomic because the controller writes it
    // under its own lock, not under the type's creation lock.
    using InstanceSlot = std::atomic<GuardedSingletonBase*>;

    GuardedSingletonBase() = default;
    GuardedSingletonBase(const GuardedSingletonBase&) = delete;
    GuardedSingletonBase& operator=(const GuardedSingletonBase&) = delete;

    // Called by the controller while the object is still complete and still published
    // as its type's instance, just before it is deleted. Does nothing by default.
    virtual void beforeDestroy();

    // The slot holding this object's type's instance pointer; the controller nulls it
    // after deleting the object, so a later instance() builds a fresh one.
    virtual InstanceSlot* instancePointer() = 0;

    virtual ~GuardedSingletonBase();
};
