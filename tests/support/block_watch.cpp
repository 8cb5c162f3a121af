// Replaces operator new and delete for the whole test binary so that every
// block goes past plumora::test::largestBlock (see block_watch.h).

#include "support/block_watch.h"

#include <cstdlib>
#include <new>

namespace {

void noteBlock(std::size_t size)
{
    std::size_t seen = plumora::test::largestBlock.load();
    while (size > seen && !plumora::test::largestBlock.compare_exchange_weak(seen, size)) {
    }
}

}  // namespace

void* operator new(std::size_t size)
{
    noteBlock(size);
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t alignment)
{
    noteBlock(size);
    const std::size_t a = std::size_t(alignment);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a))
        return p;
    throw std::bad_alloc();
}

// The nothrow forms too (std::stable_sort's buffer comes from one): left to
// the library's, they would give blocks that the delete below frees with free.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    noteBlock(size);
    return std::malloc(size != 0 ? size : 1);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    noteBlock(size);
    const std::size_t a = std::size_t(alignment);
    return std::aligned_alloc(a, (size + a - 1) / a * a);
}

// The compiler cannot see that these operators new are malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop
