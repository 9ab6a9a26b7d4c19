// SSE2 row routines of the scaler.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/x86/blend_sse2.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {
namespace sse2 {

namespace {

// Words (y0 u y1 v) of one group, in both halves, become the two work pixels
// (y0 u y0 v) (y1 u y1 v).
KVX_SSE2 inline __m128i SpreadGroup(__m128i g) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(g, _MM_SHUFFLE(3, 0, 1, 0)),
                               _MM_SHUFFLE(3, 2, 1, 2));
}

// Two groups of words (the low and the high half) into four work pixels.
KVX_SSE2 inline __m128i SpreadTwoGroups(__m128i words) {
    return _mm_packus_epi16(SpreadGroup(_mm_unpacklo_epi64(words, words)),
                            SpreadGroup(_mm_unpackhi_epi64(words, words)));
}

// Bytes 0..11 (four 3-byte pixels) into four 4-byte pixels with a zero fourth byte: pixel
// k is dword k of the row shifted up by k bytes. One mask, so that the 32-bit build's eight
// registers hold the whole loop.
KVX_SSE2 inline __m128i Expand3To4(__m128i v) {
    const __m128 s0 = _mm_castsi128_ps(v), s1 = _mm_castsi128_ps(_mm_slli_si128(v, 1));
    const __m128 s2 = _mm_castsi128_ps(_mm_slli_si128(v, 2)), s3 = _mm_castsi128_ps(_mm_slli_si128(v, 3));
    const __m128 low = _mm_shuffle_ps(s0, s1, _MM_SHUFFLE(1, 1, 0, 0));   // s0[0] . s1[1] .
    const __m128 high = _mm_shuffle_ps(s2, s3, _MM_SHUFFLE(3, 3, 2, 2));  // s2[2] . s3[3] .
    const __m128i pixels = _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
    return _mm_and_si128(pixels, _mm_set1_epi32(0x00FFFFFF));
}

// The inverse: the first three bytes of each dword, packed into bytes 0..11 (the rest
// zero). In each qword the high pixel moves down next to the low one, then the high qword
// next to the low; one mask, as above.
KVX_SSE2 inline __m128i Compress4To3(__m128i v) {
    v = _mm_and_si128(v, _mm_set1_epi32(0x00FFFFFF));
    const __m128i pairs = _mm_or_si128(_mm_srli_epi64(_mm_slli_epi64(v, 32), 32),
                                       _mm_slli_epi64(_mm_srli_epi64(v, 32), 24));
    return _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
}

inline int32_t Load3(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }

// The walk along a work row: each entry moves the read position, takes two taps and
// leaves the position on the second.
struct Walker {
    const uint8_t* p;
    const ScaleStep* e;

    // Taps and weights of the next two entries, blended: words of two work pixels. Both
    // taps of an entry come with one 8-byte load: the second tap is the next work pixel,
    // or the entry has weight 0 and that pixel, read but blended with nothing, does not
    // count (see HorizontalRowKernel).
    KVX_SSE2 inline __m128i NextTwo() {
        const __m128i z = _mm_setzero_si128();
        p += e[0].advance;
        const __m128i ab0 = LoadLow64(p);
        p += e[0].neighbour + e[1].advance;
        const __m128i ab1 = LoadLow64(p);
        p += e[1].neighbour;
        const __m128i w = _mm_unpacklo_epi64(LoadLow64(e[0].weight), LoadLow64(e[1].weight));
        e += 2;
        const __m128i taps = _mm_unpacklo_epi32(ab0, ab1);  // A0 A1 B0 B1
        return Blend16(_mm_unpacklo_epi8(taps, z), _mm_unpackhi_epi8(taps, z), w);
    }

    // The next entry alone: the four blended bytes.
    KVX_SSE2 inline int32_t NextOne() {
        p += e->advance;
        int32_t a = LoadU32(p);
        p += e->neighbour;
        int32_t q = BlendDword(a, LoadU32(p), LoadLow64(e->weight));
        ++e;
        return q;
    }
};

// Words of an even and an odd pixel into one destination pair: lanes 0-1 of the first
// (Y U) and lanes 2-3 of the second (Y V).
KVX_SSE2 inline __m128i PairOf(__m128i words) {
    return _mm_shuffle_epi32(words, _MM_SHUFFLE(3, 2, 3, 0));
}

// The walker comes by value: held in registers, not rewritten to memory on every step as a
// reference that the destination stores might alias would be.
KVX_SSE2 void HorizontalYuyvPairs(Walker walk, uint8_t* dst, int32_t count) {
    for (; count >= 8; count -= 8, dst += 16) {
        __m128i p01 = PairOf(walk.NextTwo());
        __m128i p23 = PairOf(walk.NextTwo());
        __m128i p45 = PairOf(walk.NextTwo());
        __m128i p67 = PairOf(walk.NextTwo());
        StoreU128(dst, _mm_packus_epi16(_mm_unpacklo_epi64(p01, p23),
                                        _mm_unpacklo_epi64(p45, p67)));
    }
    for (; count >= 2; count -= 2, dst += 4) {
        __m128i pair = PairOf(walk.NextTwo());
        StoreU32(dst, _mm_cvtsi128_si32(_mm_packus_epi16(pair, pair)));
    }
    if (count == 1) {  // the trailing pixel, at an even column: Y U
        int32_t q = walk.NextOne();
        dst[0] = static_cast<uint8_t>(q);
        dst[1] = static_cast<uint8_t>(q >> 8);
    }
}

}  // namespace

KVX_SSE2 void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                           int32_t groups) {
    const __m128i z = _mm_setzero_si128();
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    int32_t g = 0;
    for (; g + 4 <= groups; g += 4, a += 16, b += 16, work += 32) {
        __m128i va = LoadU128(a), vb = LoadU128(b);
        __m128i lo = Blend16(_mm_unpacklo_epi8(va, z), _mm_unpacklo_epi8(vb, z), wv);
        __m128i hi = Blend16(_mm_unpackhi_epi8(va, z), _mm_unpackhi_epi8(vb, z), wv);
        StoreU128(work, SpreadTwoGroups(lo));
        StoreU128(work + 16, SpreadTwoGroups(hi));
    }
    for (; g < groups; ++g, a += 4, b += 4, work += 8) {
        __m128i words = Blend16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(LoadU32(a)), z),
                                _mm_unpacklo_epi8(_mm_cvtsi32_si128(LoadU32(b)), z), wv);
        StoreLow64(work, SpreadTwoGroups(words));
    }
}

KVX_SSE2 void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                            int32_t groups) {
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    int32_t g = 0;
    // A 16-byte load takes four pixels and a bit; it must end inside the row. Every byte
    // takes the same weight, so the rows are blended as they lie and expanded once.
    for (; groups - g >= 6; g += 4, a += 12, b += 12, work += 16)
        StoreU128(work, Expand3To4(BlendBytes(LoadU128(a), LoadU128(b), wv)));
    for (; g < groups; ++g, a += 3, b += 3, work += 4)
        StoreU32(work, BlendDword(Load3(a), Load3(b), wv));
}

KVX_SSE2 void HorizontalYuyvEven(const uint8_t* work, uint8_t* dst, int32_t count,
                                 const ScaleStep* steps) {
    Walker walk{work, steps};
    HorizontalYuyvPairs(walk, dst, count);
}

KVX_SSE2 void HorizontalYuyvOdd(const uint8_t* work, uint8_t* dst, int32_t count,
                                const ScaleStep* steps) {
    if (count <= 0) return;
    Walker walk{work, steps};
    int32_t q = walk.NextOne();  // the first pixel alone, at an odd column: Y V
    dst[0] = static_cast<uint8_t>(q >> 16);
    dst[1] = static_cast<uint8_t>(q >> 24);
    HorizontalYuyvPairs(walk, dst + 2, count - 1);
}

KVX_SSE2 void HorizontalRgb24(const uint8_t* work, uint8_t* dst, int32_t count,
                              const ScaleStep* steps) {
    Walker walk{work, steps};
    for (; count >= 4; count -= 4, dst += 12) {
        __m128i lo = walk.NextTwo();
        __m128i packed = Compress4To3(_mm_packus_epi16(lo, walk.NextTwo()));
        if (count >= 6) {  // the four bytes past the twelve belong to later pixels
            StoreU128(dst, packed);
        } else {
            StoreLow64(dst, packed);
            StoreU32(dst + 8, _mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
        }
    }
    for (; count > 0; --count, dst += 3) {
        int32_t q = walk.NextOne();
        dst[0] = static_cast<uint8_t>(q);
        dst[1] = static_cast<uint8_t>(q >> 8);
        dst[2] = static_cast<uint8_t>(q >> 16);
    }
}

}  // namespace sse2
}  // namespace kvx
#endif
