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

// Sixteen B G R pixels of the colour (48 bytes), built by doubling the first pixel: the
// side borders call the fill once per row for a few dozen pixels, so the pattern is cheap.
inline void Rgb24Pattern(uint8_t pattern[48], uint32_t colour) {
    pattern[0] = ColourByte(colour, 0);
    pattern[1] = ColourByte(colour, 1);
    pattern[2] = ColourByte(colour, 2);
    std::memcpy(pattern + 3, pattern, 3);
    std::memcpy(pattern + 6, pattern, 6);
    std::memcpy(pattern + 12, pattern, 12);
    std::memcpy(pattern + 24, pattern, 24);
}

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
    // Sixteen pixels are 48 bytes: three vectors of the repeating B G R pattern.
    alignas(16) uint8_t pattern[48];
    Rgb24Pattern(pattern, colour);
    const __m128i c0 = LoadU128(pattern), c1 = LoadU128(pattern + 16),
                  c2 = LoadU128(pattern + 32);
    for (; n >= 16; n -= 16, p += 48) {
        StoreU128(p, c0);
        StoreU128(p + 16, c1);
        StoreU128(p + 32, c2);
    }
    std::memcpy(p, pattern, static_cast<size_t>(n) * 3);
}

KVX_SSE2 void FillRgb24Mix(uint8_t* p, int32_t n, uint32_t colour, int32_t mix) {
    if (n <= 0) return;
    alignas(16) uint8_t pattern[48];
    Rgb24Pattern(pattern, colour);
    const __m128i c0 = LoadU128(pattern), c1 = LoadU128(pattern + 16),
                  c2 = LoadU128(pattern + 32);
    const __m128i m16 = _mm_set1_epi16(static_cast<int16_t>(mix * 16));
    int32_t bytes = n * 3;
    for (; bytes >= 48; bytes -= 48, p += 48) {
        StoreU128(p, MixBytes(LoadU128(p), c0, m16));
        StoreU128(p + 16, MixBytes(LoadU128(p + 16), c1, m16));
        StoreU128(p + 32, MixBytes(LoadU128(p + 32), c2, m16));
    }
    // Fewer than 48 bytes are left, starting again at pattern byte 0.
    for (int i = 0; i < bytes; ++i) p[i] = MixByte(p[i], pattern[i], mix);
}

}  // namespace sse2
}  // namespace kvx
#endif
