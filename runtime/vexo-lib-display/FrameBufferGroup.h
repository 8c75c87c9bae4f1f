#pragma once

#include "vexo-core/Mutex.h"
#include "vexo-core/SharedMutex.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>
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
// Every pointer the group hands out (buffer(), bufferInProgress(), beginWrite()) is a
// lease on its slot: the slot stays busy, and its frame is not overwritten, until the
// last copy of that pointer is gone; then the lease returns the slot. Copies share one
// lease. Only leases count, so whoever keeps a frame (the display's canvas, a tool, a
// save) keeps exactly its slots, and letting go of the pointer frees them at once. A
// lease keeps its buffer alive even past the group. The writer takes the oldest free
// slot and drops its frame when there is none, so acquisition never waits for a reader;
// a writer that must keep what it stored (a sequence) drops it rather than take one.
// A reader that holds the read lock (try_readlock) keeps the writer out altogether.
//
// Threads: the writer side runs on the acquisition thread; everything else on any thread.
class BlockRecycler;

class FrameBufferGroup : public boost::enable_shared_from_this<FrameBufferGroup>
{
public:
    // Throws std::bad_alloc (std::length_error for sizes beyond any vector) when the
    // buffers cannot be allocated; nothing of the group is left then.
    static boost::shared_ptr<FrameBufferGroup> create(int capacity, int width, int height, int bitsPerPixel, bool gray);
    // A group without slots: every write is dropped. Stands in for a ring that could not
    // be made.
    static boost::shared_ptr<FrameBufferGroup> createEmpty();
    virtual ~FrameBufferGroup();

    FrameBufferGroup(const FrameBufferGroup&) = delete;
    FrameBufferGroup& operator=(const FrameBufferGroup&) = delete;

    // True means a read lock is held until unlock(); false while a frame is being written.
    // The lock spans the caller's calls, which the analysis cannot follow.
    bool try_readlock() VEXO_NO_THREAD_SAFETY_ANALYSIS;
    void unlock() VEXO_NO_THREAD_SAFETY_ANALYSIS;

    virtual int size() const;
    virtual std::int64_t frameCounter() const;
    // Empty outside frameCounter() - size() .. frameCounter() - 1.
    virtual boost::shared_ptr<FrameBuffer> buffer(std::int64_t index) const;

    int capacity() const;
    // Slots that are leased or being written.
    int busyCount() const;
    // The slot a frame is being written into; empty between frames.
    boost::shared_ptr<FrameBuffer> bufferInProgress() const;

    // --- Writer side ---
    // Whether a write may take the slot of the oldest stored frame when no other is free.
    // A sequence keeps all it stored: its next frame is dropped instead.
    enum class Stored { MayGo, Kept };
    // Claims a free slot (the oldest stored frame goes if it must and may) and takes the
    // write lock; empty when no slot is free, or a reader holds the read lock. The slot's
    // last valid pixel is reset, so readers see none of the old frame through it.
    boost::shared_ptr<FrameBuffer> beginWrite(Stored stored = Stored::MayGo);
    // The claimed slot becomes the newest stored frame.
    void commitWrite();
    // The claimed slot holds nothing (a frame given up half-way).
    void abortWrite();
    // Forgets every stored frame (a new acquisition starts). Not while writing.
    void reset();

private:
    struct LeaseEnd;

    FrameBufferGroup() = default;
    bool slotBusy(int slot) const VEXO_REQUIRES(bookkeeping);
    // The slot for the next frame, -1 when none; erases it from the stored frames.
    int claimSlot(Stored stored) VEXO_REQUIRES(bookkeeping);
    // The write lock, held from beginWrite() to commitWrite() or abortWrite().
    bool tryLockForWriting() VEXO_NO_THREAD_SAFETY_ANALYSIS;
    void unlockWriting() VEXO_NO_THREAD_SAFETY_ANALYSIS;
    boost::shared_ptr<FrameBuffer> lend(int slot) const VEXO_REQUIRES(bookkeeping);
    void endLease(int slot) const VEXO_EXCLUDES(bookkeeping);

    std::vector<boost::shared_ptr<FrameBuffer>> ring; // fixed once made; never lent itself
    // The control blocks of lent pointers, one lease made and ended per frame and reader.
    std::shared_ptr<BlockRecycler> leaseBlocks;
    // Shared by readers; the writer holds it exclusively while it fills a slot.
    SharedMutex accessLock;
    // Guards the fields below; held for short bookkeeping only. A lease ends under it, so
    // no lent pointer may go while it is held.
    mutable Mutex bookkeeping;
    // The stored frames' slots, oldest first; room for the whole ring is reserved, so storing
    // a frame never allocates.
    std::vector<int> stored VEXO_GUARDED_BY(bookkeeping);
    std::int64_t counter VEXO_GUARDED_BY(bookkeeping) = 0;
    int writing VEXO_GUARDED_BY(bookkeeping) = -1; // the claimed slot, -1 when none
    // Leases out per slot; lending is bookkeeping, so const readers lend too.
    mutable std::vector<int> leases VEXO_GUARDED_BY(bookkeeping);
};

} // namespace core
} // namespace vexo
