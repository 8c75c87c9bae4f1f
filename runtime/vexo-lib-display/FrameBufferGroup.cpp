#include "vexo-lib-display/FrameBufferGroup.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>

namespace vexo {
namespace core {

boost::shared_ptr<FrameBufferGroup> FrameBufferGroup::create(int capacity, int width,
                                                             int height, int bitsPerPixel,
                                                             bool gray)
{
    boost::shared_ptr<FrameBufferGroup> group(new FrameBufferGroup);
    const int count = std::max(capacity, 1);
    group->ring.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, height, bitsPerPixel, gray));
        buffer->setFrameBufferGroup(group);
        group->ring.push_back(buffer);
    }
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

int FrameBufferGroup::capacity() const
{
    return static_cast<int>(ring.size());
}

int FrameBufferGroup::size() const
{
    std::lock_guard<std::mutex> lock(bookkeeping);
    return static_cast<int>(stored.size());
}

std::int64_t FrameBufferGroup::frameCounter() const
{
    std::lock_guard<std::mutex> lock(bookkeeping);
    return counter;
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::buffer(std::int64_t index) const
{
    std::lock_guard<std::mutex> lock(bookkeeping);
    const std::int64_t first = counter - static_cast<std::int64_t>(stored.size());
    if (index < first || index >= counter)
        return {};
    return ring[static_cast<std::size_t>(stored[static_cast<std::size_t>(index - first)])];
}

bool FrameBufferGroup::slotBusy(int slot) const
{
    // The group's own pointer is one reference; any other is a reader's. The count is
    // read with acquire order, so a reader's last access happens before a new write.
    return slot == writing || ring[static_cast<std::size_t>(slot)].use_count() > 1;
}

int FrameBufferGroup::busyCount() const
{
    std::lock_guard<std::mutex> lock(bookkeeping);
    int busy = 0;
    for (int slot = 0; slot < capacity(); ++slot)
        busy += slotBusy(slot) ? 1 : 0;
    return busy;
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::bufferInProgress() const
{
    std::lock_guard<std::mutex> lock(bookkeeping);
    return writing >= 0 ? ring[static_cast<std::size_t>(writing)] : boost::shared_ptr<FrameBuffer>();
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::beginWrite()
{
    std::lock_guard<std::mutex> lock(bookkeeping);
    if (writing >= 0)
        return {};

    // A slot that holds no stored frame first, else the oldest stored frame not in use.
    int chosen = -1;
    for (int slot = 0; slot < capacity() && chosen < 0; ++slot) {
        if (std::find(stored.begin(), stored.end(), slot) == stored.end() && !slotBusy(slot))
            chosen = slot;
    }
    auto evicted = stored.end();
    if (chosen < 0) {
        evicted = std::find_if(stored.begin(), stored.end(),
                               [this](int slot) { return !slotBusy(slot); });
        if (evicted == stored.end())
            return {};
        chosen = *evicted;
    }
    if (!accessLock.try_lock())
        return {};
    if (evicted != stored.end())
        stored.erase(evicted);
    writing = chosen;
    const boost::shared_ptr<FrameBuffer>& slot = ring[static_cast<std::size_t>(chosen)];
    slot->setLastValidPixel(-1, -1);
    slot->setTransferLength(0);
    return slot;
}

void FrameBufferGroup::commitWrite()
{
    {
        std::lock_guard<std::mutex> lock(bookkeeping);
        if (writing < 0)
            return;
        stored.push_back(writing);
        ++counter;
        writing = -1;
    }
    accessLock.unlock();
}

void FrameBufferGroup::abortWrite()
{
    {
        std::lock_guard<std::mutex> lock(bookkeeping);
        if (writing < 0)
            return;
        writing = -1;
    }
    accessLock.unlock();
}

void FrameBufferGroup::reset()
{
    std::lock_guard<std::mutex> lock(bookkeeping);
    stored.clear();
    counter = 0;
}

} // namespace core
} // namespace vexo
