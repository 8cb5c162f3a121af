#pragma once

// Replaces new[] and delete[], in their plain and aligned forms (TBitmap32
// takes small pixel blocks with the one, large blocks with the other), so
// that a test sees every array the program takes: each new[] first calls
// onArrayNew(size), which the including test defines and which may throw
// std::bad_alloc. Include it in exactly one file of a test binary.

#include <cstddef>
#include <new>

void onArrayNew(std::size_t size);

void* operator new[](std::size_t size)
{
    onArrayNew(size);
    return ::operator new(size);
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    onArrayNew(size);
    return ::operator new(size, alignment);
}
void operator delete[](void* p) noexcept
{
    ::operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    ::operator delete(p);
}
void operator delete[](void* p, std::align_val_t alignment) noexcept
{
    ::operator delete(p, alignment);
}
void operator delete[](void* p, std::size_t, std::align_val_t alignment) noexcept
{
    ::operator delete(p, alignment);
}
