#include "vexo-lib-display/SceneRing.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/RingSize.h"
#include "vexo-lib-display/SystemMemory.h"

#include <limits>
#include <new>
#include <stdexcept>

namespace vexo {
namespace core {

namespace {

constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

std::uint64_t ringBytes(const FrameFormat& format, int count)
{
    return SystemMemory::product(FrameBuffer::bytesFor(format.width, format.height, format.gray),
                                 static_cast<std::uint64_t>(count));
}

// Never fewer than RingSize::minimum buffers: smaller rings are refused before.
std::string ringText(const FrameFormat& format, int count)
{
    return std::to_string(count) + " buffers x "
        + SystemMemory::describe(FrameBuffer::bytesFor(format.width, format.height, format.gray)) + " = "
        + SystemMemory::describe(ringBytes(format, count));
}

// Why a ring of `count` buffers cannot be held in `available` bytes; empty when it can.
std::string shortfall(const FrameFormat& format, int count, std::uint64_t available)
{
    if (count < RingSize::minimum)
        return "the ring needs at least " + std::to_string(RingSize::minimum) + " frame buffers: the display holds "
            + std::to_string(RingSize::heldByDisplay) + " of them while one is written and one is stored";
    if (ringBytes(format, count) <= available)
        return {};
    return "not enough memory for the frame buffers: " + ringText(format, count) + ", but "
        + SystemMemory::describe(available) + " are available";
}

// The ring, or an empty group and why not. The check comes first so that a size that
// cannot fit is never tried: the system would rather swap or kill than fail the allocation.
boost::shared_ptr<FrameBufferGroup> makeRing(const FrameFormat& format, int count, std::uint64_t available,
                                             std::string* problem)
{
    *problem = shortfall(format, count, available);
    if (!problem->empty())
        return FrameBufferGroup::createEmpty();
    try {
        return FrameBufferGroup::create(count, format.width, format.height, format.bitsPerPixel, format.gray);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    *problem = "cannot allocate the frame buffers: " + ringText(format, count);
    return FrameBufferGroup::createEmpty();
}

} // namespace

SceneRing::SceneRing(const FrameFormat& format, int count)
    : requested(count)
{
    std::string why;
    const boost::shared_ptr<FrameBufferGroup> ring = makeRing(format, count, SystemMemory::available(), &why);
    install(ring, why);
}

boost::shared_ptr<FrameBufferGroup> SceneRing::group() const
{
    MutexLocker lock(mutex);
    return buffers;
}

boost::shared_ptr<FrameBufferGroup> SceneRing::current(std::uint64_t* counted) const
{
    MutexLocker lock(mutex);
    *counted = generation;
    return buffers;
}

std::string SceneRing::error() const
{
    MutexLocker lock(mutex);
    return problem;
}

bool SceneRing::admits(const FrameFormat& next, const FrameFormat& now)
{
    // The old ring goes before the new one is made, so its bytes count as available.
    const std::uint64_t released = ringBytes(now, group()->capacity());
    const std::uint64_t available = SystemMemory::available();
    const std::string refusal =
        shortfall(next, requested, available > unlimited - released ? unlimited : available + released);
    if (refusal.empty())
        return true;
    MutexLocker lock(mutex);
    problem = refusal;
    return false;
}

void SceneRing::invalidate()
{
    // A frame rendered from the old buffers is either handed out before the visualizer
    // hears of the invalidation, or not at all: a render that reads the new generation
    // can only find the new (here: empty) group, so generation and group change together.
    SharedMutexWriter gate(notifyGate);
    MutexLocker lock(mutex);
    ++generation;
    buffers = FrameBufferGroup::createEmpty();
}

bool SceneRing::remake(const FrameFormat& format)
{
    std::string why;
    const boost::shared_ptr<FrameBufferGroup> ring = makeRing(format, requested, unlimited, &why);
    install(ring, why);
    return why.empty();
}

void SceneRing::install(const boost::shared_ptr<FrameBufferGroup>& ring, const std::string& why)
{
    MutexLocker lock(mutex);
    buffers = ring;
    problem = why;
}

bool SceneRing::whileCurrent(std::uint64_t counted, const std::function<void()>& f)
{
    SharedMutexReader gate(notifyGate);
    {
        MutexLocker lock(mutex);
        if (counted != generation)
            return false;
    }
    f();
    return true;
}

} // namespace core
} // namespace vexo
