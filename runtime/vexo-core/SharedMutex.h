#pragma once

#include "vexo-core/ThreadAnnotations.h"

#include <shared_mutex>

namespace vexo {
namespace core {

// A std::shared_mutex that clang's thread-safety analysis knows as a lock: readers hold it
// shared through SharedMutexReader, a writer exclusively through SharedMutexWriter (or
// the try_ functions, for a side that must not wait).
class VEXO_CAPABILITY("shared mutex") SharedMutex
{
public:
    void lock() VEXO_ACQUIRE() { m.lock(); }
    void unlock() VEXO_RELEASE() { m.unlock(); }
    bool try_lock() VEXO_TRY_ACQUIRE(true) { return m.try_lock(); }
    void lock_shared() VEXO_ACQUIRE_SHARED() { m.lock_shared(); }
    void unlock_shared() VEXO_RELEASE_SHARED() { m.unlock_shared(); }
    bool try_lock_shared() VEXO_TRY_ACQUIRE_SHARED(true) { return m.try_lock_shared(); }

private:
    std::shared_mutex m;
};

// Holds a SharedMutex shared for its scope.
class VEXO_SCOPED_CAPABILITY SharedMutexReader
{
public:
    explicit SharedMutexReader(SharedMutex& mutex) VEXO_ACQUIRE_SHARED(mutex)
        : held(mutex)
    {
        held.lock_shared();
    }
    ~SharedMutexReader() VEXO_RELEASE() { held.unlock_shared(); }
    SharedMutexReader(const SharedMutexReader&) = delete;
    SharedMutexReader& operator=(const SharedMutexReader&) = delete;

private:
    SharedMutex& held;
};

// Holds a SharedMutex exclusively for its scope.
class VEXO_SCOPED_CAPABILITY SharedMutexWriter
{
public:
    explicit SharedMutexWriter(SharedMutex& mutex) VEXO_ACQUIRE(mutex)
        : held(mutex)
    {
        held.lock();
    }
    ~SharedMutexWriter() VEXO_RELEASE() { held.unlock(); }
    SharedMutexWriter(const SharedMutexWriter&) = delete;
    SharedMutexWriter& operator=(const SharedMutexWriter&) = delete;

private:
    SharedMutex& held;
};

} // namespace core
} // namespace vexo
