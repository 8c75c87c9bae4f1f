#include "frame/ReadWriteLock.h"

namespace vexo::templates::platform {

ReadWriteLock::ReadWriteLock() = default;

ReadWriteLock::~ReadWriteLock() = default;

void ReadWriteLock::lockRead()
{
    for (;;) {
        noWriterEvent_.wait();
        std::lock_guard<std::mutex> section(criticalSection_);
        if (!writerActive_ && waitingWriters_ == 0) {
            ++readers_;
            noReadersEvent_.reset();
            return;
        }
        // A writer waits for the last reader: noWriterEvent_ is still signalled, so this
        // retries at once until that writer holds the lock and the event blocks us.
    }
}

void ReadWriteLock::lockWrite()
{
    {
        std::lock_guard<std::mutex> section(criticalSection_);
        ++waitingWriters_;
    }
    for (;;) {
        noReadersEvent_.wait();
        noWriterEvent_.wait();
        std::lock_guard<std::mutex> section(criticalSection_);
        if (readers_ == 0 && !writerActive_) {
            --waitingWriters_;
            writerActive_ = true;
            noWriterEvent_.reset();
            return;
        }
        // Another writer or a reader got in between the waits and the section.
    }
}

void ReadWriteLock::unlock()
{
    std::lock_guard<std::mutex> section(criticalSection_);
    if (writerActive_) {
        writerActive_ = false;
        noWriterEvent_.set();
    } else if (readers_ > 0 && --readers_ == 0) { // an unmatched unlock must not wrap
        noReadersEvent_.set();
    }
}

std::uint32_t ReadWriteLock::readers() const
{
    std::lock_guard<std::mutex> section(criticalSection_);
    return readers_;
}

std::uint32_t ReadWriteLock::waitingWriters() const
{
    std::lock_guard<std::mutex> section(criticalSection_);
    return waitingWriters_;
}

bool ReadWriteLock::writerActive() const
{
    std::lock_guard<std::mutex> section(criticalSection_);
    return writerActive_;
}

} // namespace vexo::templates::platform
