#pragma once

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace vexo {
namespace core {

class FrameBuffer;

// A ring of equally formatted frame buffers holding the newest stored frames.
//
// Stored frames are numbered by the order in which they were stored; frameCounter() is
// the number stored since the last reset and size() how many of them are still held, so
// buffer(k) for k from frameCounter() - size() to frameCounter() - 1 walks them oldest
// first.
//
// A slot is free for the next frame when nobody outside the group holds a reference to
// it: the display, a tool or a save keeps its buffer from being overwritten. The writer
// takes the oldest free slot and drops its frame when there is none, so acquisition
// never waits for a reader. A reader that holds the read lock (try_readlock) keeps the
// writer out altogether.
//
// Threads: the writer side runs on the acquisition thread; everything else on any thread.
class FrameBufferGroup : public boost::enable_shared_from_this<FrameBufferGroup>
{
public:
    // Throws std::bad_alloc (std::length_error for sizes beyond any vector) when the
    // buffers cannot be allocated; nothing of the group is left then.
    static boost::shared_ptr<FrameBufferGroup> create(int capacity, int width, int height,
                                                      int bitsPerPixel, bool gray);
    // A group without slots: every write is dropped. Stands in for a ring that could not
    // be made.
    static boost::shared_ptr<FrameBufferGroup> createEmpty();
    virtual ~FrameBufferGroup();

    FrameBufferGroup(const FrameBufferGroup&) = delete;
    FrameBufferGroup& operator=(const FrameBufferGroup&) = delete;

    // True means a read lock is held until unlock(); false while a frame is being written.
    bool try_readlock();
    void unlock();

    virtual int size() const;
    virtual std::int64_t frameCounter() const;
    // Empty outside frameCounter() - size() .. frameCounter() - 1.
    virtual boost::shared_ptr<FrameBuffer> buffer(std::int64_t index) const;

    int capacity() const;
    // Slots that are held outside the group or being written.
    int busyCount() const;
    // The slot a frame is being written into; empty between frames.
    boost::shared_ptr<FrameBuffer> bufferInProgress() const;

    // --- Writer side ---
    // Claims a free slot (the oldest stored frame goes if it must) and takes the write
    // lock; empty when every slot is busy or a reader holds the read lock. The slot's last
    // valid pixel is reset, so readers see none of the old frame through it.
    boost::shared_ptr<FrameBuffer> beginWrite();
    // The claimed slot becomes the newest stored frame.
    void commitWrite();
    // The claimed slot holds nothing (a frame given up half-way).
    void abortWrite();
    // Forgets every stored frame (a new acquisition starts). Not while writing.
    void reset();

private:
    FrameBufferGroup() = default;
    bool slotBusy(int slot) const;

    std::vector<boost::shared_ptr<FrameBuffer>> ring;
    // Shared by readers; the writer holds it exclusively while it fills a slot.
    std::shared_mutex accessLock;
    // Guards stored, counter and writing; held for short bookkeeping only.
    mutable std::mutex bookkeeping;
    std::deque<int> stored; // ring of the stored frames, oldest first
    std::int64_t counter = 0;
    int writing = -1; // the claimed slot, -1 when none
};

} // namespace core
} // namespace vexo
