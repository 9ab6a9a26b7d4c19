// Cache-line (64-byte) aligned heap blocks for every pixel buffer and step table the
// plug-in owns.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kvx {

// Returns null on failure (or size 0); never throws.
void* AlignedAlloc(size_t bytes);
void AlignedFree(void* block);

// n blocks of a trivial type on the aligned heap, uninitialised, freed with the object
// (null when the allocation failed): for plans built outside the scaler, by the checks and
// the benchmarks, so that they sit as the scaler's own do. A std::vector of a 16-byte
// aligned type is only 8-byte aligned with 32-bit MinGW's allocator.
template <typename Block>
struct AlignedBlocks {
    explicit AlignedBlocks(size_t n) : blocks(static_cast<Block*>(AlignedAlloc(n * sizeof(Block)))) {}
    ~AlignedBlocks() { AlignedFree(blocks); }
    AlignedBlocks(const AlignedBlocks&) = delete;
    AlignedBlocks& operator=(const AlignedBlocks&) = delete;
    Block* const blocks;
};

// Observation and fault injection for tests: the number of successful allocations so
// far, and a countdown after which allocations fail (negative = never fail).
uint64_t AlignedAllocCount();
void SetAlignedAllocFailAfter(int64_t successes);

}  // namespace kvx
