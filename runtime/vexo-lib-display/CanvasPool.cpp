#include "vexo-lib-display/CanvasPool.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/RecyclingAllocator.h"

#include <algorithm>

namespace vexo {
namespace core {

namespace {
// Room for a lent canvas's control block: its deleter and allocator, counts and vtable.
constexpr std::size_t returnBlockSize = 128;
} // namespace

// Carried by every lent pointer: the canvas drops its buffer's lease and is idle again.
struct CanvasPool::Return
{
    std::weak_ptr<CanvasPool> pool;
    boost::shared_ptr<DisplaySceneFrame> keep;

    void operator()(DisplaySceneFrame*)
    {
        // Nobody else holds the canvas now, so this thread may change it.
        keep->setFrameBuffer({});
        if (const std::shared_ptr<CanvasPool> owner = pool.lock())
            owner->giveBack(keep.get());
        keep.reset();
    }
};

CanvasPool::CanvasPool(std::size_t size)
    : capacity(size)
    , returnBlocks(std::make_shared<BlockRecycler>(returnBlockSize))
{
}

boost::shared_ptr<DisplaySceneFrame> CanvasPool::lend(int width, int height)
{
    {
        MutexLocker lock(mutex);
        for (Slot& slot : slots)
            if (!slot.lent && slot.canvas->width() == width && slot.canvas->height() == height)
                return lendSlot(slot);
    }
    // Made outside the lock, so that a return on the GUI thread never waits for it.
    const boost::shared_ptr<DisplaySceneFrame> fresh(new DisplaySceneFrame(width, height));
    MutexLocker lock(mutex);
    ++allocations;
    // An idle canvas of an old size makes room; else the pool grows. An idle one of this
    // size (given back while this one was made) stays: replacing it would make every
    // later frame that finds all canvases out allocate again.
    const auto old = std::find_if(slots.begin(), slots.end(), [&](const Slot& slot) {
        return !slot.lent && (slot.canvas->width() != width || slot.canvas->height() != height);
    });
    Slot* room = old != slots.end() ? &*old : nullptr;
    if (!room && slots.size() < capacity)
        room = &slots.emplace_back();
    if (!room)
        return fresh; // every pooled canvas is out: this one is not kept
    room->canvas = fresh;
    return lendSlot(*room);
}

boost::shared_ptr<DisplaySceneFrame> CanvasPool::lendSlot(Slot& slot)
{
    slot.lent = true;
    return boost::shared_ptr<DisplaySceneFrame>(slot.canvas.get(), Return{weak_from_this(), slot.canvas},
                                                RecyclingAllocator<DisplaySceneFrame>(returnBlocks));
}

void CanvasPool::giveBack(const DisplaySceneFrame* canvas)
{
    MutexLocker lock(mutex);
    for (Slot& slot : slots)
        if (slot.canvas.get() == canvas)
            slot.lent = false;
}

std::uint64_t CanvasPool::allocated() const
{
    MutexLocker lock(mutex);
    return allocations;
}

} // namespace core
} // namespace vexo
