#include "vexo-lib-display/FrameBufferGroup.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/RecyclingAllocator.h"

#include <boost/weak_ptr.hpp>

#include <algorithm>

namespace vexo {
namespace core {

namespace {
// Room for a lease's control block: its deleter and allocator, counts and vtable.
constexpr std::size_t leaseBlockSize = 128;
} // namespace

// Carried by every pointer the group lends: returns the slot when the last copy goes.
struct FrameBufferGroup::LeaseEnd
{
    boost::weak_ptr<const FrameBufferGroup> group;
    boost::shared_ptr<FrameBuffer> keep; // the buffer outlives a group released first
    int slot;

    void operator()(FrameBuffer*)
    {
        if (const boost::shared_ptr<const FrameBufferGroup> owner = group.lock())
            owner->endLease(slot);
        keep.reset();
    }
};

boost::shared_ptr<FrameBufferGroup> FrameBufferGroup::create(int capacity, int width, int height, int bitsPerPixel,
                                                             bool gray)
{
    boost::shared_ptr<FrameBufferGroup> group(new FrameBufferGroup);
    const int count = std::max(capacity, 1);
    group->ring.reserve(static_cast<std::size_t>(count));
    group->leaseBlocks = std::make_shared<BlockRecycler>(leaseBlockSize);
    for (int i = 0; i < count; ++i) {
        boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, height, bitsPerPixel, gray));
        buffer->setFrameBufferGroup(group);
        group->ring.push_back(buffer);
    }
    MutexLocker lock(group->bookkeeping);
    group->leases.assign(static_cast<std::size_t>(count), 0);
    group->stored.reserve(static_cast<std::size_t>(count));
    return group;
}

boost::shared_ptr<FrameBufferGroup> FrameBufferGroup::createEmpty()
{
    return boost::shared_ptr<FrameBufferGroup>(new FrameBufferGroup);
}

FrameBufferGroup::~FrameBufferGroup() = default;

bool FrameBufferGroup::try_readlock()
{
    return accessLock.try_lock_shared();
}

void FrameBufferGroup::unlock()
{
    accessLock.unlock_shared();
}

bool FrameBufferGroup::tryLockForWriting()
{
    return accessLock.try_lock();
}

void FrameBufferGroup::unlockWriting()
{
    accessLock.unlock();
}

int FrameBufferGroup::capacity() const
{
    return static_cast<int>(ring.size());
}

int FrameBufferGroup::size() const
{
    MutexLocker lock(bookkeeping);
    return static_cast<int>(stored.size());
}

std::int64_t FrameBufferGroup::frameCounter() const
{
    MutexLocker lock(bookkeeping);
    return counter;
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::lend(int slot) const
{
    ++leases[static_cast<std::size_t>(slot)];
    const boost::shared_ptr<FrameBuffer>& buffer = ring[static_cast<std::size_t>(slot)];
    return boost::shared_ptr<FrameBuffer>(buffer.get(), LeaseEnd{shared_from_this(), buffer, slot},
                                          RecyclingAllocator<FrameBuffer>(leaseBlocks));
}

void FrameBufferGroup::endLease(int slot) const
{
    // Under the lock: the holder's last access happens before a writer sees the slot free.
    MutexLocker lock(bookkeeping);
    --leases[static_cast<std::size_t>(slot)];
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::buffer(std::int64_t index) const
{
    MutexLocker lock(bookkeeping);
    const std::int64_t first = counter - static_cast<std::int64_t>(stored.size());
    if (index < first || index >= counter)
        return {};
    return lend(stored[static_cast<std::size_t>(index - first)]);
}

bool FrameBufferGroup::slotBusy(int slot) const
{
    return slot == writing || leases[static_cast<std::size_t>(slot)] > 0;
}

int FrameBufferGroup::busyCount() const
{
    MutexLocker lock(bookkeeping);
    int busy = 0;
    for (int slot = 0; slot < capacity(); ++slot)
        busy += slotBusy(slot) ? 1 : 0;
    return busy;
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::bufferInProgress() const
{
    MutexLocker lock(bookkeeping);
    return writing >= 0 ? lend(writing) : boost::shared_ptr<FrameBuffer>();
}

int FrameBufferGroup::claimSlot(Stored kept)
{
    // A slot that holds no stored frame first, else the oldest stored frame not in use.
    for (int slot = 0; slot < capacity(); ++slot) {
        if (std::find(stored.begin(), stored.end(), slot) == stored.end() && !slotBusy(slot))
            return slot;
    }
    if (kept == Stored::Kept)
        return -1;
    for (auto oldest = stored.begin(); oldest != stored.end(); ++oldest) {
        if (!slotBusy(*oldest)) {
            const int slot = *oldest;
            stored.erase(oldest);
            return slot;
        }
    }
    return -1;
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::beginWrite(Stored kept)
{
    MutexLocker lock(bookkeeping);
    if (writing >= 0)
        return {};
    // The write lock first: a reader holding the group keeps every stored frame.
    if (!tryLockForWriting())
        return {};
    writing = claimSlot(kept);
    if (writing < 0) {
        unlockWriting();
        return {};
    }
    const boost::shared_ptr<FrameBuffer>& slot = ring[static_cast<std::size_t>(writing)];
    slot->setLastValidPixel(-1, -1);
    slot->setTransferLength(0);
    return lend(writing);
}

void FrameBufferGroup::commitWrite()
{
    {
        MutexLocker lock(bookkeeping);
        if (writing < 0)
            return;
        stored.push_back(writing);
        ++counter;
        writing = -1;
    }
    unlockWriting();
}

void FrameBufferGroup::abortWrite()
{
    {
        MutexLocker lock(bookkeeping);
        if (writing < 0)
            return;
        writing = -1;
    }
    unlockWriting();
}

void FrameBufferGroup::reset()
{
    MutexLocker lock(bookkeeping);
    stored.clear();
    counter = 0;
}

} // namespace core
} // namespace vexo
