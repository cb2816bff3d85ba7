// Counts heap allocations of the benchmark program, so each benchmark can report how many
// allocations one call makes. Include in exactly one file per benchmark program.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace alloc_count {
inline std::atomic<long> g_allocs{0};
}

// GCC inlines the replaced delete into library code and then mistakes the free() for a
// mismatch with an allocation it cannot see; the pair below is matched by construction.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    alloc_count::g_allocs.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
