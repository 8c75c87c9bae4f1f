#include "vexo-lib-display/BlockRecycler.h"

#include "vexo-core/MutexLocker.h"

#include <new>

namespace vexo {
namespace core {

BlockRecycler::BlockRecycler(std::size_t blockSize)
    : size(blockSize)
{
}

BlockRecycler::~BlockRecycler()
{
    for (void* block : kept)
        ::operator delete(block);
}

void* BlockRecycler::take()
{
    {
        MutexLocker lock(mutex);
        if (!kept.empty()) {
            void* block = kept.back();
            kept.pop_back();
            return block;
        }
    }
    return ::operator new(size);
}

void BlockRecycler::give(void* block)
{
    MutexLocker lock(mutex);
    // Grows only past the most blocks ever out at once; a failure to grow frees the block.
    try {
        kept.push_back(block);
    } catch (const std::bad_alloc&) {
        ::operator delete(block);
    }
}

} // namespace core
} // namespace vexo
