// AVX2 row kernel of the line blend, 32 bytes a step.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include <immintrin.h>

#include "video/x86/avx2_kernels.h"
#include "video/x86/simd_target.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {
namespace avx2 {

namespace {
KVX_AVX2 inline __m256i Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
}  // namespace

KVX_AVX2 void BlendLineRow(uint8_t* line, const uint8_t* below, uint8_t* saved, int32_t bytes) {
    int32_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        __m256i u = Load(saved + i), c = Load(line + i), d = Load(below + i);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(saved + i), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(line + i),
                            _mm256_avg_epu8(_mm256_avg_epu8(u, d), c));
    }
    if (i < bytes) sse2::BlendLineRow(line + i, below + i, saved + i, bytes - i);
}

}  // namespace avx2
}  // namespace kvx
#endif
