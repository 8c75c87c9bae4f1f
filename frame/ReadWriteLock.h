#pragma once

#include "frame/Platform.h"

#include <cstdint>
#include <mutex>

namespace vexo::templates::platform {

// Many readers or one writer, with writers taking precedence: once a writer announces
// itself no new reader gets in, so a steady stream of readers cannot starve writers.
// Not re-entrant in either mode. All members may be called from any thread; unlock()
// works out from the lock's own state whether a reader or the writer is leaving.
class ReadWriteLock
{
public:
    ReadWriteLock();
    virtual ~ReadWriteLock();

    ReadWriteLock(const ReadWriteLock&) = delete;
    ReadWriteLock& operator=(const ReadWriteLock&) = delete;

    void lockRead();
    void lockWrite();
    void unlock();

    // Snapshots of the bookkeeping, for diagnostics and tests.
    std::uint32_t readers() const;
    std::uint32_t waitingWriters() const;
    bool writerActive() const;

private:
    // criticalSection_ guards the three counters and every change of the two events, so
    // an event's state always matches the counters once the section is left.
    mutable std::mutex criticalSection_;
    std::uint32_t readers_ = 0; // readers holding the lock
    std::uint32_t waitingWriters_ = 0; // writers announced but not yet holding it
    bool writerActive_ = false;
    ManualResetEvent noReadersEvent_{true}; // signalled while readers_ is 0
    ManualResetEvent noWriterEvent_{true}; // signalled while no writer holds the lock
};

} // namespace vexo::templates::platform
