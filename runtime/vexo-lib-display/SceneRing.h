#pragma once

// A scene's ring of frame buffers, as the scene's parts share it. Internal to the runtime.

#include "vexo-core/Mutex.h"
#include "vexo-core/SharedMutex.h"
#include "vexo-lib-display/FrameFormat.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace vexo {
namespace core {

class FrameBufferGroup;

// The current ring, why the last one asked for was not made, and its generation: a count
// of replacements, so that a frame rendered from a replaced ring is never handed out.
// Threads: remaking runs on the owner's thread (a format change); everything else on any.
class SceneRing
{
public:
    // The ring of `count` buffers of that format, or an empty group (capacity 0) and why not.
    SceneRing(const FrameFormat& format, int count);

    int count() const { return requested; }
    boost::shared_ptr<FrameBufferGroup> group() const VEXO_EXCLUDES(mutex);
    // The group and its generation, read together: a caller that sees a newer generation
    // also sees the group that came with it.
    boost::shared_ptr<FrameBufferGroup> current(std::uint64_t* generation) const VEXO_EXCLUDES(mutex);
    std::string error() const VEXO_EXCLUDES(mutex);

    // False, with error() saying why, when a ring of format `next` cannot be held even once
    // the current one (of format `now`) is released. Nothing changes then.
    bool admits(const FrameFormat& next, const FrameFormat& now) VEXO_EXCLUDES(mutex);
    // A new generation with an empty group. Waits for a frame under way in whileCurrent().
    void invalidate() VEXO_EXCLUDES(mutex, notifyGate);
    // Makes the ring of that format, outside the lock: the others see the empty group
    // meanwhile. False, with error() saying why, when it could not be allocated.
    bool remake(const FrameFormat& format) VEXO_EXCLUDES(mutex);

    // Runs f, holding off invalidate() while it runs, if that generation is still the
    // current one; false when it is not.
    bool whileCurrent(std::uint64_t generation, const std::function<void()>& f) VEXO_EXCLUDES(mutex, notifyGate);

private:
    void install(const boost::shared_ptr<FrameBufferGroup>& ring, const std::string& why) VEXO_EXCLUDES(mutex);

    const int requested; // the ring's size as the host asked for it

    // Guards the fields below; held for a copy or a swap only.
    mutable Mutex mutex;
    boost::shared_ptr<FrameBufferGroup> buffers VEXO_GUARDED_BY(mutex);
    std::string problem VEXO_GUARDED_BY(mutex); // empty when the ring asked for was made
    std::uint64_t generation VEXO_GUARDED_BY(mutex) = 0;

    // Held shared by whileCurrent() from its generation check to the end of f, exclusively
    // by invalidate() while it counts a new generation.
    SharedMutex notifyGate;
};

} // namespace core
} // namespace vexo
