// AVX2 band kernel of the line blend: columns of 64 bytes walked down the band's lines (see
// the SSE2 version); the last few bytes of each line go to the SSE2 kernel.
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
KVX_AVX2 inline void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
// Blends the line at `line` from its original `centre` and the original line `above`, and
// returns the original of the line below, which the line after needs.
KVX_AVX2 inline __m256i BlendLine(uint8_t* line, ptrdiff_t stride, __m256i above, __m256i centre) {
    const __m256i below = Load(line + stride);
    Store(line, _mm256_avg_epu8(_mm256_avg_epu8(above, below), centre));
    return below;
}

// A column of 64 bytes (two vectors, six registers, which the i686 build still holds), or
// of 32 when not `Pair`, two lines a step.
template <bool Pair>
KVX_AVX2 inline void BlendColumn(uint8_t* line, ptrdiff_t stride, int32_t rows, uint8_t* saved) {
    __m256i u0 = Load(saved), c0 = Load(line), u1 = u0, c1 = c0;
    if (Pair) {
        u1 = Load(saved + 32);
        c1 = Load(line + 32);
    }
    int32_t y = 0;
    for (; y + 2 <= rows; y += 2, line += 2 * stride) {
        u0 = BlendLine(line, stride, u0, c0);
        c0 = BlendLine(line + stride, stride, c0, u0);
        if (Pair) {
            u1 = BlendLine(line + 32, stride, u1, c1);
            c1 = BlendLine(line + stride + 32, stride, c1, u1);
        }
    }
    if (y < rows) {
        const __m256i d0 = BlendLine(line, stride, u0, c0);
        u0 = c0;
        c0 = d0;
        if (Pair) {
            const __m256i d1 = BlendLine(line + 32, stride, u1, c1);
            u1 = c1;
            c1 = d1;
        }
    }
    Store(saved, u0);
    if (Pair) Store(saved + 32, u1);
}
}  // namespace

KVX_AVX2 void BlendLineBand(uint8_t* line, ptrdiff_t stride, int32_t rows, uint8_t* saved,
                            int32_t bytes) {
    int32_t x = 0;
    for (; x + 64 <= bytes; x += 64) BlendColumn<true>(line + x, stride, rows, saved + x);
    if (x + 32 <= bytes) {
        BlendColumn<false>(line + x, stride, rows, saved + x);
        x += 32;
    }
    if (x < bytes) sse2::BlendLineBand(line + x, stride, rows, saved + x, bytes - x);
}

}  // namespace avx2
}  // namespace kvx
#endif
