// SSE2 band kernel of the line blend. The band is walked column by column down its lines,
// keeping the originals of the line above and of the line itself in registers: each vector
// of the frame is loaded once and stored once, and the saved line is touched once per band.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/line_blend.h"
#include "video/x86/blend_sse2.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {
namespace sse2 {

namespace {

// 16-byte vectors, or 8-byte ones when `Half`.
template <bool Half>
KVX_SSE2 inline __m128i Load(const uint8_t* p) {
    return Half ? LoadLow64(p) : LoadU128(p);
}

// Blends the line at `line` from its original `centre` and the original line `above`, and
// returns the original of the line below, which the line after needs.
template <bool Half>
KVX_SSE2 inline __m128i BlendLine(uint8_t* line, ptrdiff_t stride, __m128i above, __m128i centre) {
    const __m128i below = Load<Half>(line + stride);
    const __m128i blended = _mm_avg_epu8(_mm_avg_epu8(above, below), centre);
    if (Half)
        StoreLow64(line, blended);
    else
        StoreU128(line, blended);
    return below;
}

// A column of 32 bytes (two vectors, six registers, which the i686 build still holds), of
// 16 bytes (`Count` 1) or of 8 (`Half`), two lines a step.
template <int Count, bool Half = false>
KVX_SSE2 inline void BlendColumn(uint8_t* line, ptrdiff_t stride, int32_t rows, uint8_t* saved) {
    const bool pair = Count == 2;
    __m128i u0 = Load<Half>(saved), c0 = Load<Half>(line), u1 = u0, c1 = c0;
    if (pair) {
        u1 = LoadU128(saved + 16);
        c1 = LoadU128(line + 16);
    }
    int32_t y = 0;
    for (; y + 2 <= rows; y += 2, line += 2 * stride) {
        u0 = BlendLine<Half>(line, stride, u0, c0);
        c0 = BlendLine<Half>(line + stride, stride, c0, u0);
        if (pair) {
            u1 = BlendLine<false>(line + 16, stride, u1, c1);
            c1 = BlendLine<false>(line + stride + 16, stride, c1, u1);
        }
    }
    if (y < rows) {
        const __m128i d0 = BlendLine<Half>(line, stride, u0, c0);
        u0 = c0;
        c0 = d0;
        if (pair) {
            const __m128i d1 = BlendLine<false>(line + 16, stride, u1, c1);
            u1 = c1;
            c1 = d1;
        }
    }
    if (Half)
        StoreLow64(saved, u0);
    else
        StoreU128(saved, u0);
    if (pair) StoreU128(saved + 16, u1);
}

}  // namespace

KVX_SSE2 void BlendLineBand(uint8_t* line, ptrdiff_t stride, int32_t rows, uint8_t* saved,
                            int32_t bytes) {
    int32_t x = 0;
    for (; x + 32 <= bytes; x += 32) BlendColumn<2>(line + x, stride, rows, saved + x);
    if (x + 16 <= bytes) {
        BlendColumn<1>(line + x, stride, rows, saved + x);
        x += 16;
    }
    if (x + 8 <= bytes) {
        BlendColumn<1, true>(line + x, stride, rows, saved + x);
        x += 8;
    }
    if (x < bytes) kvx::BlendLineBand(line + x, stride, rows, saved + x, bytes - x);
}

}  // namespace sse2
}  // namespace kvx
#endif
