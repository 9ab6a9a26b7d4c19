// Function attributes that compile one function for one instruction set. The flags are
// per function, not per file, so that inline functions of shared headers are never
// compiled with them (the linker could otherwise keep such a copy for the whole library).
#pragma once
#include <cstdint>
#include <cstring>

#define KVX_SSE2 __attribute__((target("sse2")))
#define KVX_SSSE3 __attribute__((target("ssse3")))
#define KVX_AVX2 __attribute__((target("avx2")))

namespace kvx {

// Unaligned 4-byte load and store without breaking aliasing rules.
inline int32_t LoadU32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void StoreU32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }

}  // namespace kvx
