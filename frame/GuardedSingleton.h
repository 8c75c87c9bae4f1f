#pragma once

#include "frame/GuardedSingletonBase.h"
#include "frame/LibraryInitController.h"
#include "frame/SpinLockVariableGuard.h"

#include <atomic>
#include <cstdint>
#include <type_traits>

// Process-wide lazily created object of type T, which derives from GuardedSingleton<T>:
//
//     class Registry : public GuardedSingleton<Registry> {
//         friend class GuardedSingleton<Registry>;
//         Registry();
//         void afterCreate() override;
//     };
//
// Creation is serialised per type by a re-entrant spin lock, and the new object is
// published before afterCreate() runs, so afterCreate() (and anything it calls on the
// same thread) gets the object from instance(). T's constructor, by contrast, must not
// call instance(): nothing is published yet, so it would build another T.
//
// While the library is initialised the object registers with the init controller, which
// deletes it at the last deinitialisation; one created outside that window lives until
// the process ends. Using the object while the last deinitialisation runs is the
// caller's error.
template <typename T>
class GuardedSingleton : public GuardedSingletonBase
{
public:
    // Any thread; the first call creates the object, concurrent first calls wait for it.
    static T* instance()
    {
        static_assert(std::is_base_of_v<GuardedSingleton<T>, T>, "T must derive from GuardedSingleton<T>");
        vexo::templates::platform::SpinLockVariableGuard guard(&lockWord_, &ownerWord_);
        if (GuardedSingletonBase* existing = instanceSlot_.load())
            return static_cast<T*>(existing);

        // If the constructor throws, the guard releases the lock and the slot stays null.
        T* created = new T();
        instanceSlot_.store(created);
        LibraryInitController::registerSingleton(created);
        static_cast<GuardedSingleton<T>*>(created)->afterCreate();
        return created;
    }

    InstanceSlot* instancePointer() final { return &instanceSlot_; }

protected:
    GuardedSingleton() = default;

    // Runs once after creation and publication, still under the creation lock.
    virtual void afterCreate() { }

    // Per-type state, constant-initialised so instance() works during static
    // initialisation. Protected so T can inspect them, e.g. in diagnostics.
    inline static InstanceSlot instanceSlot_{nullptr};
    inline static std::atomic<std::int32_t> lockWord_{0}; // guards creation
    inline static std::atomic<std::uint32_t> ownerWord_{0}; // thread holding lockWord_
};
