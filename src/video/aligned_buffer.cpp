#include "video/aligned_buffer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace kvx {

namespace {
std::atomic<uint64_t> g_allocCount{0};
std::atomic<int64_t> g_failAfter{-1};
// A cache line: a 32-byte load from a plan's blocks (whose records are multiples of 32
// bytes) never straddles two lines, wherever the heap put the plan.
constexpr size_t kAlign = 64;
}  // namespace

// malloc plus manual alignment: the original pointer is kept just below the block, so the
// same code serves msvcrt (no aligned_alloc) and glibc.
void* AlignedAlloc(size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - kAlign - sizeof(void*)) return nullptr;
    int64_t left = g_failAfter.load();
    if (left == 0) return nullptr;
    if (left > 0) g_failAfter.store(left - 1);
    void* raw = std::malloc(bytes + kAlign + sizeof(void*));
    if (!raw) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
    uintptr_t aligned = (start + kAlign - 1) & ~static_cast<uintptr_t>(kAlign - 1);
    std::memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &raw, sizeof(void*));
    g_allocCount.fetch_add(1);
    return reinterpret_cast<void*>(aligned);
}

void AlignedFree(void* block) {
    if (!block) return;
    void* raw;
    std::memcpy(&raw, static_cast<char*>(block) - sizeof(void*), sizeof(void*));
    std::free(raw);
}

uint64_t AlignedAllocCount() { return g_allocCount.load(); }
void SetAlignedAllocFailAfter(int64_t successes) { g_failAfter.store(successes); }

}  // namespace kvx
