// Counts every heap allocation of a process, so a benchmark can report
// allocations per shot, and can make the n-th allocation fail, so a test can
// show that a failure anywhere leaves things usable. Include it in exactly
// one file of each executable: it replaces the global operator new and delete.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

inline std::atomic<size_t> g_allocations{0};
// Allocations left before one fails; negative: none fails.
inline std::atomic<long> g_allocations_left{-1};

// Every form is replaced, so that nothing allocated by a sanitizer's own
// operator (std::stable_sort's temporary buffer takes the nothrow form, for
// one) is freed here.
inline void* counted_allocation(size_t size, size_t alignment = 0) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (g_allocations_left.load(std::memory_order_relaxed) >= 0 && g_allocations_left.fetch_sub(1) == 0)
        return nullptr;
    if (size == 0) size = 1;
    if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* operator new(size_t size) {
    if (void* p = counted_allocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return ::operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return counted_allocation(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return counted_allocation(size); }
void* operator new(size_t size, std::align_val_t alignment) {
    if (void* p = counted_allocation(size, static_cast<size_t>(alignment))) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t alignment) { return ::operator new(size, alignment); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
