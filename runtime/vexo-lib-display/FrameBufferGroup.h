#pragma once

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace vexo {
namespace core {

class FrameBuffer;

// A ring of equally formatted frame buffers. Frames are stored in order: the n-th frame
// stored (counting from 0) lives in slot n modulo capacity. size() of them are valid, the
// newest frameCounter() - 1.
//
// Locking: a reader (a save) holds the read lock through try_readlock()/unlock(); the
// writer (acquisition) only ever tries the write lock and drops its frame when it cannot
// have it, so acquisition never waits for a reader.
class FrameBufferGroup : public boost::enable_shared_from_this<FrameBufferGroup>
{
public:
    static boost::shared_ptr<FrameBufferGroup> create(int capacity, int width, int height,
                                                      int bitsPerPixel, bool gray);
    virtual ~FrameBufferGroup();

    FrameBufferGroup(const FrameBufferGroup&) = delete;
    FrameBufferGroup& operator=(const FrameBufferGroup&) = delete;

    // True means a read lock is held until unlock(); false when the writer holds it.
    bool try_readlock();
    void unlock();

    // Number of valid buffers: min(frameCounter(), capacity()).
    virtual int size() const;
    // Frames stored since the last reset.
    virtual std::int64_t frameCounter() const;
    // The buffer of frame number index; empty outside frameCounter() - size() ..
    // frameCounter() - 1.
    virtual boost::shared_ptr<FrameBuffer> buffer(std::int64_t index) const;

    // --- Writer side ---
    int capacity() const;
    // The slot the next frame goes into.
    boost::shared_ptr<FrameBuffer> nextSlot() const;
    bool tryLockForWrite();
    void unlockWrite();
    // Counts the frame in nextSlot() as stored.
    void commitFrame();
    // Forgets every stored frame (a new acquisition starts).
    void reset();

private:
    FrameBufferGroup() = default;

    std::vector<boost::shared_ptr<FrameBuffer>> slots;
    // Readers share it; the writer tries it exclusively while it fills a slot.
    std::shared_mutex accessLock;
    // Guards counter; held for single reads and writes only.
    mutable std::mutex counterMutex;
    std::int64_t counter = 0;
};

} // namespace core
} // namespace vexo
