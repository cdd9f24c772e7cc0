#pragma once

// Large buffers in two-megabyte pages where the system offers them: on a virtual machine the first touch of each
// four-kilobyte page can cost more than the work done in it.

#include <cstdlib>
#include <new>
#include <vector>

void *allocateLarge(std::size_t bytes);

template<typename T> struct LargeAllocator
{
    using value_type = T;

    LargeAllocator() = default;
    template<typename U> LargeAllocator(const LargeAllocator<U> &) {}

    T *allocate(std::size_t count)
    {
        if (void *block = allocateLarge(count * sizeof(T)))
            return static_cast<T *>(block);
        throw std::bad_alloc();
    }
    void deallocate(T *block, std::size_t) { std::free(block); }

    bool operator==(const LargeAllocator &) const { return true; }
    bool operator!=(const LargeAllocator &) const { return false; }
};

template<typename T> using LargeVector = std::vector<T, LargeAllocator<T>>;

// How far ahead a walk through scattered rows asks for the memory it is about to read.
constexpr std::size_t PrefetchDistance = 16;

// Asks for the memory at `address` before it is read: rows in display order lie scattered across their blocks,
// and waiting for each in turn costs more than sorting them.
inline void prefetch(const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}
