// Cache-line (64-byte) aligned heap blocks for every pixel buffer and step table the
// plug-in owns.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kvx {

// Returns null on failure (or size 0); never throws.
void* AlignedAlloc(size_t bytes);
void AlignedFree(void* block);

// Observation and fault injection for tests: the number of successful allocations so
// far, and a countdown after which allocations fail (negative = never fail).
uint64_t AlignedAllocCount();
void SetAlignedAllocFailAfter(int64_t successes);

}  // namespace kvx
