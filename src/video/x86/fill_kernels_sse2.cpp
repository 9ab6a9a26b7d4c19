// SSE2 row kernels of the border fill.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/fill_kernels.h"
#include "video/x86/blend_sse2.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {
namespace sse2 {

namespace {

inline uint8_t ColourByte(uint32_t colour, int index) {
    return static_cast<uint8_t>(colour >> (8 * index));
}

// The partial last pair of a run with an odd pixel count: the even pixel's luma and the
// pair's chroma; V only when the row holds it.
inline void LastPair(uint8_t* p, uint32_t colour, int32_t mix, bool lastPairWhole) {
    for (int b = 0; b < 4; ++b) {
        if (b == 2 || (b == 3 && !lastPairWhole)) continue;
        p[b] = mix ? MixByte(p[b], ColourByte(colour, b), mix) : ColourByte(colour, b);
    }
}

// Sixteen B G R pixels of the colour (48 bytes) in three registers: vector k starts at
// byte 16 k, which is byte k of a pixel. They are built in registers, not as bytes in
// memory read back as vectors: such loads span several smaller stores, cannot take their
// data from the store buffer and wait for it, which made the fill of the side borders,
// called once a row for a few dozen pixels, cost as much as a fifth of a 24-bit frame.
struct Rgb24Pattern {
    __m128i v[3];

    KVX_SSE2 explicit Rgb24Pattern(uint32_t colour) {
        __m128i p = _mm_cvtsi32_si128(static_cast<int32_t>(colour & 0xFFFFFF));
        p = _mm_or_si128(p, _mm_slli_si128(p, 3));       // two pixels
        p = _mm_or_si128(p, _mm_slli_si128(p, 6));       // four
        v[0] = _mm_or_si128(p, _mm_slli_si128(p, 12));  // sixteen bytes
        // Vector 0 rotated by one and by two bytes: a pixel's bytes repeat every three.
        v[1] = _mm_or_si128(_mm_srli_si128(v[0], 1), _mm_slli_si128(v[0], 14));
        v[2] = _mm_or_si128(_mm_srli_si128(v[0], 2), _mm_slli_si128(v[0], 13));
    }
    // The pattern as it runs from byte `offset` of a row of pixels.
    KVX_SSE2 __m128i At(int32_t offset) const { return v[offset % 3]; }
};

// c + ((f - c) * 16 * m16 >> 16): the row blend with the colour as the first tap.
KVX_SSE2 inline __m128i MixBytes(__m128i frame, __m128i colour, __m128i m16) {
    return BlendBytes(colour, frame, m16);
}

}  // namespace

KVX_SSE2 void FillYuyvSolidEven(uint8_t* p, int32_t n, uint32_t colour, int32_t,
                                bool lastPairWhole) {
    if (n <= 0) return;
    const __m128i c = _mm_set1_epi32(static_cast<int32_t>(colour));
    for (; n >= 8; n -= 8, p += 16) StoreU128(p, c);
    if (n >= 4) {
        StoreLow64(p, c);
        p += 8;
        n -= 4;
    }
    if (n >= 2) {
        StoreU32(p, static_cast<int32_t>(colour));
        p += 4;
        n -= 2;
    }
    if (n == 1) LastPair(p, colour, 0, lastPairWhole);
}

KVX_SSE2 void FillYuyvSolidOdd(uint8_t* p, int32_t n, uint32_t colour, int32_t mix,
                               bool lastPairWhole) {
    if (n <= 0) return;
    p[2] = ColourByte(colour, 2);  // only the second luma of the first pair is ours
    FillYuyvSolidEven(p + 4, n - 1, colour, mix, lastPairWhole);
}

KVX_SSE2 void FillYuyvMixEven(uint8_t* p, int32_t n, uint32_t colour, int32_t mix,
                              bool lastPairWhole) {
    if (n <= 0) return;
    const __m128i c = _mm_set1_epi32(static_cast<int32_t>(colour));
    const __m128i m16 = _mm_set1_epi16(static_cast<int16_t>(mix * 16));
    for (; n >= 8; n -= 8, p += 16) StoreU128(p, MixBytes(LoadU128(p), c, m16));
    for (; n >= 2; n -= 2, p += 4)
        StoreU32(p, BlendDword(static_cast<int32_t>(colour), LoadU32(p), m16));
    if (n == 1) LastPair(p, colour, mix, lastPairWhole);
}

KVX_SSE2 void FillYuyvMixOdd(uint8_t* p, int32_t n, uint32_t colour, int32_t mix,
                             bool lastPairWhole) {
    if (n <= 0) return;
    p[2] = MixByte(p[2], ColourByte(colour, 2), mix);
    FillYuyvMixEven(p + 4, n - 1, colour, mix, lastPairWhole);
}

KVX_SSE2 void FillRgb24Solid(uint8_t* p, int32_t n, uint32_t colour, int32_t) {
    if (n <= 0) return;
    const int32_t bytes = n * 3;
    if (bytes < 16) return FillRowRgb24(p, n, colour, 0);
    const Rgb24Pattern pattern(colour);
    int32_t i = 0;
    for (; i + 48 <= bytes; i += 48) {
        StoreU128(p + i, pattern.v[0]);
        StoreU128(p + i + 16, pattern.v[1]);
        StoreU128(p + i + 32, pattern.v[2]);
    }
    for (; i + 16 <= bytes; i += 16) StoreU128(p + i, pattern.At(i));
    // The last sixteen bytes once more, ending at the row's: they rewrite bytes already
    // filled with the same colour.
    if (i < bytes) StoreU128(p + bytes - 16, pattern.At(bytes - 16));
}

KVX_SSE2 void FillRgb24Mix(uint8_t* p, int32_t n, uint32_t colour, int32_t mix) {
    if (n <= 0) return;
    const Rgb24Pattern pattern(colour);
    const __m128i m16 = _mm_set1_epi16(static_cast<int16_t>(mix * 16));
    for (; n >= 16; n -= 16, p += 48) {
        StoreU128(p, MixBytes(LoadU128(p), pattern.v[0], m16));
        StoreU128(p + 16, MixBytes(LoadU128(p + 16), pattern.v[1], m16));
        StoreU128(p + 32, MixBytes(LoadU128(p + 32), pattern.v[2], m16));
    }
    // Each byte is mixed once, so the last pixels go one by one.
    FillRowRgb24(p, n, colour, mix);
}

}  // namespace sse2
}  // namespace kvx
#endif
