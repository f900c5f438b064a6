// Replaces the global operator new and delete to count every C++ heap allocation, so that a
// case can show how many the host model makes per evaluation.
#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<int64_t> g_heapAllocations{0};
void* CountedAlloc(std::size_t n) {
    g_heapAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
void* CountedAlignedAlloc(std::size_t n, std::align_val_t a) {
    g_heapAllocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t align = static_cast<std::size_t>(a);
    const std::size_t size = ((n != 0 ? n : 1) + align - 1) / align * align;
    if (void* p = std::aligned_alloc(align, size)) return p;
    throw std::bad_alloc();
}
}  // namespace
void* operator new(std::size_t n) {
    return CountedAlloc(n);
}
void* operator new[](std::size_t n) {
    return CountedAlloc(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return CountedAlloc(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
    return operator new(n, t);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return CountedAlignedAlloc(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return CountedAlignedAlloc(n, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

int64_t bench::HeapAllocations() {
    return g_heapAllocations.load(std::memory_order_relaxed);
}
