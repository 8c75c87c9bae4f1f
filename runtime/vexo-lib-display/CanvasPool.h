#pragma once

#include "vexo-core/Mutex.h"

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vexo {
namespace core {

class BlockRecycler;
class DisplaySceneFrame;

// The canvases the render thread draws into, reused once their holders let go.
//
// A lent canvas comes back when the last copy of its pointer goes, on whichever thread
// that is; it then lets go of the frame buffer it showed, so an idle canvas never keeps
// a ring slot leased. Owned through a std::shared_ptr because lent pointers refer back
// to it weakly: a canvas released after the pool is gone simply ends.
class CanvasPool : public std::enable_shared_from_this<CanvasPool>
{
public:
    explicit CanvasPool(std::size_t size);

    // Render thread: an idle canvas of that size, or a new one (counted in allocated()).
    boost::shared_ptr<DisplaySceneFrame> lend(int width, int height);
    std::uint64_t allocated() const;

private:
    struct Return;
    struct Slot
    {
        boost::shared_ptr<DisplaySceneFrame> canvas;
        bool lent = false;
    };

    boost::shared_ptr<DisplaySceneFrame> lendSlot(Slot& slot) VEXO_REQUIRES(mutex);
    void giveBack(const DisplaySceneFrame* canvas) VEXO_EXCLUDES(mutex);

    const std::size_t capacity;
    // The control blocks of lent canvases, one made and ended per rendered frame.
    const std::shared_ptr<BlockRecycler> returnBlocks;
    // Guards slots and allocations; lending and returns on any thread.
    mutable Mutex mutex;
    std::vector<Slot> slots VEXO_GUARDED_BY(mutex);
    std::uint64_t allocations VEXO_GUARDED_BY(mutex) = 0;
};

} // namespace core
} // namespace vexo
