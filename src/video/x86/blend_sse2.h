// The packed 16-bit blends shared by the SSE2 kernels (and the tails of the AVX2 ones).
// Internal linkage: every file gets its own copy, compiled for SSE2 only.
#pragma once
#include <emmintrin.h>

#include "video/x86/simd_target.h"

namespace kvx {
namespace {

// Eight lanes of a + ((b - a) * 16 * w >> 16): the 12-bit weighted blend of the row
// routines when w holds weights, and the fill's mixing when w holds mix * 16.
KVX_SSE2 inline __m128i Blend16(__m128i a, __m128i b, __m128i w) {
    __m128i d = _mm_slli_epi16(_mm_sub_epi16(b, a), 4);
    return _mm_add_epi16(a, _mm_mulhi_epi16(d, w));
}

// Sixteen bytes blended with one weight for every lane.
KVX_SSE2 inline __m128i BlendBytes(__m128i a, __m128i b, __m128i w) {
    const __m128i z = _mm_setzero_si128();
    __m128i lo = Blend16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z), w);
    __m128i hi = Blend16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z), w);
    return _mm_packus_epi16(lo, hi);
}

// Four bytes (the low dword) blended; the result is in the low dword.
KVX_SSE2 inline int32_t BlendDword(int32_t a, int32_t b, __m128i w) {
    const __m128i z = _mm_setzero_si128();
    __m128i r = Blend16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(a), z),
                        _mm_unpacklo_epi8(_mm_cvtsi32_si128(b), z), w);
    return _mm_cvtsi128_si32(_mm_packus_epi16(r, r));
}

KVX_SSE2 inline __m128i LoadU128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
KVX_SSE2 inline void StoreU128(void* p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}
KVX_SSE2 inline __m128i LoadLow64(const void* p) {
    return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}
KVX_SSE2 inline void StoreLow64(void* p, __m128i v) {
    _mm_storel_epi64(static_cast<__m128i*>(p), v);
}

}  // namespace
}  // namespace kvx
