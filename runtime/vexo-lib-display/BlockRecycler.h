#pragma once

#include "vexo-core/Mutex.h"

#include <cstddef>
#include <vector>

namespace vexo {
namespace core {

// Keeps freed memory blocks of one size for the next request, so that what is made and
// dropped for every frame (the control blocks of lent pointers) costs no allocation once
// as many exist at a time as ever did. Blocks have the alignment of operator new.
// Any thread.
class BlockRecycler
{
public:
    explicit BlockRecycler(std::size_t blockSize);
    ~BlockRecycler();
    BlockRecycler(const BlockRecycler&) = delete;
    BlockRecycler& operator=(const BlockRecycler&) = delete;

    std::size_t blockSize() const { return size; }
    // A block of blockSize() bytes: a kept one, or a new one.
    void* take() VEXO_EXCLUDES(mutex);
    // Keeps a block that take() gave.
    void give(void* block) VEXO_EXCLUDES(mutex);

private:
    const std::size_t size;
    // Guards kept; takes and gives come from every thread that lends or lets go.
    mutable Mutex mutex;
    std::vector<void*> kept VEXO_GUARDED_BY(mutex);
};

} // namespace core
} // namespace vexo
