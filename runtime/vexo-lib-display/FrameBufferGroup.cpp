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
    group->slots.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, height, bitsPerPixel, gray));
        buffer->setFrameBufferGroup(group);
        group->slots.push_back(buffer);
    }
    return group;
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
    return static_cast<int>(slots.size());
}

int FrameBufferGroup::size() const
{
    std::lock_guard<std::mutex> lock(counterMutex);
    return static_cast<int>(std::min<std::int64_t>(counter, capacity()));
}

std::int64_t FrameBufferGroup::frameCounter() const
{
    std::lock_guard<std::mutex> lock(counterMutex);
    return counter;
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::buffer(std::int64_t index) const
{
    std::lock_guard<std::mutex> lock(counterMutex);
    const std::int64_t valid = std::min<std::int64_t>(counter, capacity());
    if (index < counter - valid || index >= counter)
        return {};
    return slots[static_cast<std::size_t>(index % capacity())];
}

boost::shared_ptr<FrameBuffer> FrameBufferGroup::nextSlot() const
{
    std::lock_guard<std::mutex> lock(counterMutex);
    return slots[static_cast<std::size_t>(counter % capacity())];
}

bool FrameBufferGroup::tryLockForWrite()
{
    return accessLock.try_lock();
}

void FrameBufferGroup::unlockWrite()
{
    accessLock.unlock();
}

void FrameBufferGroup::commitFrame()
{
    std::lock_guard<std::mutex> lock(counterMutex);
    ++counter;
}

void FrameBufferGroup::reset()
{
    std::lock_guard<std::mutex> lock(counterMutex);
    counter = 0;
}

} // namespace core
} // namespace vexo
