// SSE2 row routines of the scaler.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/x86/blend_sse2.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {
namespace sse2 {

namespace {

// Groups (Y0 U Y1 V) of a and b blended into their work pixels (Y0 U Y0 V) (Y1 U Y1 V):
// the lumas (even bytes) and the chromas (odd bytes) are blended as words apart and packed
// into one register, lumas low and chromas high; doubling each luma and each chroma pair
// and interleaving the two gives the work pixels of the first two groups in `low` and of
// the next two in `high`. `luma` holds 0x00FF in every word.
KVX_SSE2 inline void SpreadBlend(__m128i a, __m128i b, __m128i w, __m128i luma, __m128i& low,
                                 __m128i& high) {
    const __m128i y = Blend16(_mm_and_si128(a, luma), _mm_and_si128(b, luma), w);
    const __m128i c = Blend16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8), w);
    const __m128i q = _mm_packus_epi16(y, c);   // Y0 .. Y7, U0 V0 .. U3 V3
    const __m128i yy = _mm_unpacklo_epi8(q, q);   // Y0 Y0 Y1 Y1 ..
    const __m128i uv = _mm_unpackhi_epi16(q, q);  // U0 V0 U0 V0 U1 V1 U1 V1 ..
    low = _mm_unpacklo_epi8(yy, uv);
    high = _mm_unpackhi_epi8(yy, uv);
}

// Bytes 0..11 (four 3-byte pixels) into four 4-byte pixels with a zero fourth byte: pixels
// 0-1 (bytes 0..5) go to the low quadword and 2-3 (bytes 6..11) to the high one; in each,
// the first pixel stays and the second moves up one byte. The masks are memory operands,
// so that the 32-bit build's eight registers still hold the whole loop.
KVX_SSE2 inline __m128i Expand3To4(__m128i v) {
    const __m128i pairs = _mm_unpacklo_epi64(v, _mm_srli_si128(v, 6));
    return _mm_or_si128(_mm_and_si128(pairs, _mm_set1_epi64x(0x0000000000FFFFFF)),
                        _mm_and_si128(_mm_slli_epi64(pairs, 8), _mm_set1_epi64x(0x00FFFFFF00000000)));
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

KVX_SSE2 inline __m128i LoadAligned128(const void* p) {
    return _mm_load_si128(static_cast<const __m128i*>(p));
}

// Plans of 8-byte windows: pixel i's window starts at its first tap, byte offset
// TapOffset(block, i) from the source origin, and holds its second tap (the next work
// pixel, or a pixel its weight 0 ignores). Blocks hold eight pixels each, the last fewer.
inline int32_t TapOffset(const WindowBlock& block, int32_t i) {
    return LoadU32(block.tapA + 4 * i);
}

// 4:2:2: pixel i's taps with its two lanes at words 0 and 2 of an 8-byte load. A pixel at
// an odd column keeps lanes 2-3 (Y V), so its load starts two bytes into the window; the
// columns alternate, and kOdd says whether pixel 0 of a block is at an odd one.
template <int kOdd>
KVX_SSE2 inline __m128i YuyvTaps(const uint8_t* work, const WindowBlock& block, int32_t i) {
    return LoadLow64(work + TapOffset(block, i) + 2 * ((i + kOdd) & 1));
}

// Pixels i .. i + 3 of a block blended: words Y C of each, in pixel order.
template <int kOdd>
KVX_SSE2 inline __m128i BlendYuyvQuad(const uint8_t* work, const WindowBlock& block,
                                      int32_t i) {
    const __m128i z = _mm_setzero_si128();
    // Words A_i A_i+1 . . B_i B_i+1 . . and the same for the next two pixels.
    const __m128i p01 = _mm_unpacklo_epi16(YuyvTaps<kOdd>(work, block, i),
                                           YuyvTaps<kOdd>(work, block, i + 1));
    const __m128i p23 = _mm_unpacklo_epi16(YuyvTaps<kOdd>(work, block, i + 2),
                                           YuyvTaps<kOdd>(work, block, i + 3));
    const __m128i a = _mm_unpacklo_epi32(p01, p23), b = _mm_unpackhi_epi32(p01, p23);
    // Pixel i's two words meet pixel i's 32-bit weight, which holds it twice.
    return Blend16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z),
                   LoadAligned128(block.weight + i));
}

template <int kOdd>
KVX_SSE2 void PlannedYuyvBlocks(const uint8_t* work, uint8_t* dst, const WindowBlock* block,
                                const WindowBlock* end) {
    for (; block != end; ++block)
        StoreU128(dst + 2 * block->first,
                  _mm_packus_epi16(BlendYuyvQuad<kOdd>(work, *block, 0),
                                   BlendYuyvQuad<kOdd>(work, *block, 4)));
}

// 24-bit: the pixels whose windows are at byte offsets a and b blended, all four lanes,
// with the weights of w's low dwords.
KVX_SSE2 inline __m128i BlendRgbPair(const uint8_t* work, int32_t a, int32_t b, __m128i w) {
    const __m128i z = _mm_setzero_si128();
    const __m128i taps = _mm_unpacklo_epi32(LoadLow64(work + a), LoadLow64(work + b));
    return Blend16(_mm_unpacklo_epi8(taps, z), _mm_unpackhi_epi8(taps, z), w);
}

// The windows and the weights of pixels i .. i + 3 of a block, loaded once for every row
// that takes them; the weights as each pair of pixels takes them.
struct RgbQuadTaps {
    int32_t at[4];
    __m128i weight01, weight23;
};

KVX_SSE2 inline RgbQuadTaps LoadRgbQuadTaps(const WindowBlock& block, int32_t i) {
    const __m128i w = LoadAligned128(block.weight + i);
    // Dword shuffles copy without a move: each pair's weights.
    return {{TapOffset(block, i), TapOffset(block, i + 1), TapOffset(block, i + 2),
             TapOffset(block, i + 3)},
            _mm_shuffle_epi32(w, _MM_SHUFFLE(1, 1, 0, 0)),
            _mm_shuffle_epi32(w, _MM_SHUFFLE(3, 3, 2, 2))};
}

// Pixels i .. i + 3 blended and stored, three bytes each: one 4-byte store a pixel, whose
// fourth byte the next store (or what follows the block) rewrites.
KVX_SSE2 inline void RgbQuad(const uint8_t* work, const RgbQuadTaps& t, uint8_t* out) {
    const __m128i q = _mm_packus_epi16(BlendRgbPair(work, t.at[0], t.at[1], t.weight01),
                                       BlendRgbPair(work, t.at[2], t.at[3], t.weight23));
    // Each pixel down to dword 0.
    StoreU32(out, _mm_cvtsi128_si32(q));
    StoreU32(out + 3, _mm_cvtsi128_si32(_mm_shuffle_epi32(q, _MM_SHUFFLE(3, 2, 1, 1))));
    StoreU32(out + 6, _mm_cvtsi128_si32(_mm_shuffle_epi32(q, _MM_SHUFFLE(3, 2, 1, 2))));
    StoreU32(out + 9, _mm_cvtsi128_si32(_mm_shuffle_epi32(q, _MM_SHUFFLE(3, 2, 1, 3))));
}

}  // namespace

KVX_SSE2 void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                           int32_t groups) {
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    const __m128i luma = _mm_set1_epi16(0x00FF);
    __m128i low, high;
    int32_t g = 0;
    for (; g + 4 <= groups; g += 4, a += 16, b += 16, work += 32) {
        SpreadBlend(LoadU128(a), LoadU128(b), wv, luma, low, high);
        StoreU128(work, low);
        StoreU128(work + 16, high);
    }
    for (; g < groups; ++g, a += 4, b += 4, work += 8) {
        SpreadBlend(_mm_cvtsi32_si128(LoadU32(a)), _mm_cvtsi32_si128(LoadU32(b)), wv, luma, low,
                    high);
        StoreLow64(work, low);
    }
}

KVX_SSE2 void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                            int32_t groups) {
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    const __m128i z = _mm_setzero_si128();
    int32_t g = 0;
    // Every byte takes the same weight, so the rows are blended as they lie and expanded
    // once. Eight pixels a step are 24 bytes, a 16-byte and an 8-byte load that end with
    // them, so no blended byte goes to waste.
    for (; groups - g >= 8; g += 8, a += 24, b += 24, work += 32) {
        const __m128i low = BlendBytes(LoadU128(a), LoadU128(b), wv);  // bytes 0..15
        const __m128i rest = Blend16(_mm_unpacklo_epi8(LoadLow64(a + 16), z),
                                     _mm_unpacklo_epi8(LoadLow64(b + 16), z), wv);
        const __m128i high = _mm_packus_epi16(rest, rest);  // bytes 16..23
        StoreU128(work, Expand3To4(low));
        StoreU128(work + 16, Expand3To4(_mm_or_si128(_mm_srli_si128(low, 12), _mm_slli_si128(high, 4))));
    }
    // A 16-byte load takes four pixels and a bit; it must end inside the row.
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

// Over plans of 8-byte windows, eight pixels a block; the pixels from the first block
// whose loads or stores could leave the rows on are done by the table walk.
KVX_SSE2 void PlannedYuyvWindows(const uint8_t* work, uint8_t* dst, const ScaleStep* steps,
                                 const ColumnPlan& plan, bool oddStart) {
    const WindowBlock* const blocks = plan.Blocks<WindowBlock>();
    const WindowBlock* const end = blocks + plan.vectorBlocks;
    if (oddStart) PlannedYuyvBlocks<1>(work, dst, blocks, end);
    else PlannedYuyvBlocks<0>(work, dst, blocks, end);
    if (plan.vectorBlocks == plan.blockCount) return;
    const int32_t x = end->first;
    const HorizontalRowFn walk = (x + oddStart) & 1 ? HorizontalYuyvOdd : HorizontalYuyvEven;
    walk(work + end->readBefore, dst + 2 * x, plan.count - x, steps + x);
}

KVX_SSE2 void PlannedRgb24Windows(const uint8_t* work, uint8_t* dst, const ScaleStep* steps,
                                  const ColumnPlan& plan, bool) {
    const WindowBlock* block = plan.Blocks<WindowBlock>();
    for (const WindowBlock* const end = block + plan.vectorBlocks; block != end; ++block) {
        uint8_t* out = dst + 3 * block->first;
        RgbQuad(work, LoadRgbQuadTaps(*block, 0), out);
        RgbQuad(work, LoadRgbQuadTaps(*block, 4), out + 12);
    }
    if (plan.vectorBlocks == plan.blockCount) return;
    const int32_t x = block->first;
    HorizontalRgb24(work + block->readBefore, dst + 3 * x, plan.count - x, steps + x);
}

#if KVX_HAS_ROW_PAIRS
// Two rows of one plan: each four pixels' windows and weights are loaded once for both.
KVX_SSE2 void PlannedRgb24WindowsPair(const uint8_t* work0, uint8_t* dst0, const uint8_t* work1,
                                      uint8_t* dst1, const ScaleStep* steps,
                                      const ColumnPlan& plan, bool) {
    const ptrdiff_t between = dst1 - dst0;
    const WindowBlock* block = plan.Blocks<WindowBlock>();
    for (const WindowBlock* const end = block + plan.vectorBlocks; block != end; ++block) {
        uint8_t* out = dst0 + 3 * block->first;
        for (int32_t i = 0; i < 8; i += 4, out += 12) {
            const RgbQuadTaps t = LoadRgbQuadTaps(*block, i);
            RgbQuad(work0, t, out);
            RgbQuad(work1, t, out + between);
        }
    }
    if (plan.vectorBlocks == plan.blockCount) return;
    const int32_t x = block->first;
    HorizontalRgb24(work0 + block->readBefore, dst0 + 3 * x, plan.count - x, steps + x);
    HorizontalRgb24(work1 + block->readBefore, dst1 + 3 * x, plan.count - x, steps + x);
}
#endif

}  // namespace sse2
}  // namespace kvx
#endif
