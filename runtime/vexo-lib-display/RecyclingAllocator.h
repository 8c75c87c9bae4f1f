#pragma once

#include "vexo-lib-display/BlockRecycler.h"

#include <cstddef>
#include <memory>
#include <new>

namespace vexo {
namespace core {

// An allocator for single objects that takes its blocks from a BlockRecycler: given to a
// smart pointer's constructor, its control block is recycled instead of allocated. Objects
// larger than the recycler's blocks, and arrays, come from operator new. Every copy shares
// the recycler, so it lives as long as the last control block made through it.
template <typename T>
struct RecyclingAllocator
{
    using value_type = T;

    explicit RecyclingAllocator(std::shared_ptr<BlockRecycler> blocks)
        : recycler(std::move(blocks))
    {
    }
    template <typename U>
    RecyclingAllocator(const RecyclingAllocator<U>& other)
        : recycler(other.recycler)
    {
    }

    T* allocate(std::size_t n)
    {
        if (fits(n))
            return static_cast<T*>(recycler->take());
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n)
    {
        if (fits(n))
            recycler->give(p);
        else
            ::operator delete(p);
    }

    bool fits(std::size_t n) const { return n == 1 && sizeof(T) <= recycler->blockSize(); }

    std::shared_ptr<BlockRecycler> recycler;
};

template <typename T, typename U>
bool operator==(const RecyclingAllocator<T>& a, const RecyclingAllocator<U>& b)
{
    return a.recycler == b.recycler;
}

template <typename T, typename U>
bool operator!=(const RecyclingAllocator<T>& a, const RecyclingAllocator<U>& b)
{
    return !(a == b);
}

} // namespace core
} // namespace vexo
