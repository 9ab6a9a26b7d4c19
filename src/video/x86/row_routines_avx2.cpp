// AVX2 row routines of the scaler: the vertical pass of 4:2:2, 32 frame bytes a step.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include <immintrin.h>

#include "video/x86/avx2_kernels.h"
#include "video/x86/simd_target.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {
namespace avx2 {

namespace {

KVX_AVX2 inline __m256i Blend16(__m256i a, __m256i b, __m256i w) {
    __m256i d = _mm256_slli_epi16(_mm256_sub_epi16(b, a), 4);
    return _mm256_add_epi16(a, _mm256_mulhi_epi16(d, w));
}

// In each 128-bit lane: words (y0 u y1 v) in both halves become (y0 u y0 v) (y1 u y1 v).
KVX_AVX2 inline __m256i SpreadGroup(__m256i g) {
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(g, _MM_SHUFFLE(3, 0, 1, 0)),
                                  _MM_SHUFFLE(3, 2, 1, 2));
}

// Per lane: two groups of words into four work pixels.
KVX_AVX2 inline __m256i SpreadTwoGroups(__m256i words) {
    return _mm256_packus_epi16(SpreadGroup(_mm256_unpacklo_epi64(words, words)),
                               SpreadGroup(_mm256_unpackhi_epi64(words, words)));
}

}  // namespace

KVX_AVX2 void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                           int32_t groups) {
    const __m256i z = _mm256_setzero_si256();
    const __m256i wv = _mm256_set1_epi16(static_cast<int16_t>(w));
    int32_t g = 0;
    for (; g + 8 <= groups; g += 8, a += 32, b += 32, work += 64) {
        __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
        __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
        // Lane 0 holds groups 0-3, lane 1 groups 4-7.
        __m256i lo = SpreadTwoGroups(
            Blend16(_mm256_unpacklo_epi8(va, z), _mm256_unpacklo_epi8(vb, z), wv));
        __m256i hi = SpreadTwoGroups(
            Blend16(_mm256_unpackhi_epi8(va, z), _mm256_unpackhi_epi8(vb, z), wv));
        // lo = work pixels of groups 0-1 | 4-5, hi = groups 2-3 | 6-7.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(work),
                            _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(work + 32),
                            _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    if (g < groups) sse2::VerticalYuyv(a, b, w, work, groups - g);
}

}  // namespace avx2
}  // namespace kvx
#endif
