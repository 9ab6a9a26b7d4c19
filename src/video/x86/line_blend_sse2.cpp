// SSE2 row kernel of the line blend: two rounding-up byte averages per byte.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/line_blend.h"
#include "video/x86/blend_sse2.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {
namespace sse2 {

KVX_SSE2 void BlendLineRow(uint8_t* line, const uint8_t* below, uint8_t* saved, int32_t bytes) {
    int32_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i u = LoadU128(saved + i), c = LoadU128(line + i), d = LoadU128(below + i);
        StoreU128(saved + i, c);
        StoreU128(line + i, _mm_avg_epu8(_mm_avg_epu8(u, d), c));
    }
    for (; i + 8 <= bytes; i += 8) {
        __m128i u = LoadLow64(saved + i), c = LoadLow64(line + i), d = LoadLow64(below + i);
        StoreLow64(saved + i, c);
        StoreLow64(line + i, _mm_avg_epu8(_mm_avg_epu8(u, d), c));
    }
    if (i < bytes) kvx::BlendLineRow(line + i, below + i, saved + i, bytes - i);
}

}  // namespace sse2
}  // namespace kvx
#endif
