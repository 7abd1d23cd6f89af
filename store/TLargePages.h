#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// An allocator for the large tables a connection holds and reads at random
// (the details' heads of a whole office). A block of LargeBytes or more is
// aligned to it and, on Linux, asked to be backed by huge pages: a view's
// look-ups, scattered over many megabytes, then do not each walk the page
// tables, nor push out the translations the rest of its read uses. The
// request is a hint; where the system declines it the memory is plain.
// Smaller blocks come from the usual heap.
template <class T>
class TLargePages
{
public:
    using value_type = T;
    static constexpr std::size_t LargeBytes = std::size_t(2) << 20;

    TLargePages() = default;
    template <class U>
    TLargePages(const TLargePages<U>&) noexcept
    {
    }

    T* allocate(std::size_t count)
    {
        const std::size_t bytes = count * sizeof(T);
        if (bytes < LargeBytes)
            return static_cast<T*>(::operator new(bytes));
        const std::size_t whole = (bytes + LargeBytes - 1) / LargeBytes * LargeBytes;
        void* block = std::aligned_alloc(LargeBytes, whole);
        if (!block)
            throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        ::madvise(block, whole, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t count) noexcept
    {
        if (count * sizeof(T) < LargeBytes)
            ::operator delete(block);
        else
            std::free(block);
    }

    template <class U>
    bool operator==(const TLargePages<U>&) const noexcept
    {
        return true;
    }
};
