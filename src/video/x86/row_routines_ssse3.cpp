// SSSE3 row routines of the scaler: the horizontal pass over packed work rows driven by
// their plans, one 16-byte lane at a time, and the vertical passes with byte shuffles
// where SSE2 needs shift-and-mask sequences.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include <tmmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "video/x86/blend_sse2.h"
#include "video/x86/packed_lanes.h"
#include "video/x86/sse2_kernels.h"
#include "video/x86/ssse3_kernels.h"

namespace kvx {
namespace ssse3 {

namespace {

KVX_SSSE3 inline __m128i Load128(const void* p) {
    return _mm_load_si128(static_cast<const __m128i*>(p));
}

// Every byte of a and b blended with one weight w (in every word): each byte pair (a, b)
// times (-16, 16) is (b - a) * 16 as a word, and the high half of its product with the
// weight is the step from a. The steps' low bytes, added to a byte by byte, are the blend:
// each sum lies in 0..255, so the wrap of the byte add is exact.
KVX_SSSE3 inline __m128i BlendRowBytes(__m128i a, __m128i b, __m128i w) {
    const __m128i difference = _mm_set1_epi16(0x10F0), lowByte = _mm_set1_epi16(0x00FF);
    const __m128i lo = _mm_mulhi_epi16(_mm_maddubs_epi16(_mm_unpacklo_epi8(a, b), difference), w);
    const __m128i hi = _mm_mulhi_epi16(_mm_maddubs_epi16(_mm_unpackhi_epi8(a, b), difference), w);
    return _mm_add_epi8(a, _mm_packus_epi16(_mm_and_si128(lo, lowByte), _mm_and_si128(hi, lowByte)));
}

}  // namespace

KVX_SSSE3 void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                            int32_t groups) {
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    // Each byte pair (a, b) times (-16, 16) is the blend's (b - a) * 16 in one step.
    const __m128i difference = _mm_set1_epi16(0x10F0);
    // The low bytes of the words of two groups Y0 U Y1 V become the work pixels
    // (Y0 U Y0 V) (Y1 U Y1 V).
    const __m128i spread = _mm_setr_epi8(0, 2, 0, 6, 4, 2, 4, 6, 8, 10, 8, 14, 12, 10, 12, 14);
    int32_t g = 0;
    for (; g + 4 <= groups; g += 4, a += 16, b += 16, work += 32) {
        const __m128i ra = LoadU128(a), rb = LoadU128(b);
        // Words a + 256 b: their low bytes plus the weighted difference are the blend (it
        // never leaves 0..255, so no carry reaches a low byte from the rest).
        const __m128i lo = _mm_unpacklo_epi8(ra, rb), hi = _mm_unpackhi_epi8(ra, rb);
        StoreU128(work, _mm_shuffle_epi8(
                            _mm_add_epi16(lo, _mm_mulhi_epi16(_mm_maddubs_epi16(lo, difference), wv)),
                            spread));
        StoreU128(work + 16,
                  _mm_shuffle_epi8(
                      _mm_add_epi16(hi, _mm_mulhi_epi16(_mm_maddubs_epi16(hi, difference), wv)),
                      spread));
    }
    if (g < groups) sse2::VerticalYuyv(a, b, w, work, groups - g);
}

KVX_SSSE3 void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                             int32_t groups) {
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    // Bytes 0..11 (four 3-byte pixels) into four 4-byte pixels with a zero fourth byte.
    const __m128i expand = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    int32_t g = 0;
    // A 16-byte load takes four pixels and a bit; it must end inside the row. Every byte
    // takes the same weight, so the rows are blended as they lie and expanded once.
    for (; groups - g >= 6; g += 4, a += 12, b += 12, work += 16)
        StoreU128(work, _mm_shuffle_epi8(BlendBytes(LoadU128(a), LoadU128(b), wv), expand));
    if (g < groups) sse2::VerticalRgb24(a, b, w, work, groups - g);
}

KVX_SSSE3 void BlendRowsPacked(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                               int32_t bytes) {
    if (bytes < 16) {
        for (int32_t i = 0; i < bytes; ++i) work[i] = BlendLane(a[i], b[i], w);
        return;
    }
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    auto blend16 = [&](int32_t i) KVX_SSSE3 {
        StoreU128(work + i, BlendRowBytes(LoadU128(a + i), LoadU128(b + i), wv));
    };
    int32_t i = 0;
    for (; i + 32 <= bytes; i += 32) blend16(i), blend16(i + 16);
    if (i + 16 <= bytes) blend16(i), i += 16;
    // The last 16 bytes once more: the rows are not the work row, so the overlap only
    // rewrites bytes with what they already hold.
    if (i < bytes) blend16(bytes - 16);
}

KVX_SSSE3 void VerticalRgb24Packed(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                                   int32_t groups) {
    BlendRowsPacked(a, b, w, work, groups * 3);
}

KVX_SSSE3 void VerticalYuyvPacked(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                                  int32_t groups) {
    BlendRowsPacked(a, b, w, work, groups * 4);
}

// One lane of a packed plan block: the first and the second taps of each byte come from
// the lane's two windows with one mask; as words (a + 256 b) a multiply-add by (-16, 16)
// gives (b - a) * 16, and the weighted difference's low byte added to a is the blend
// (which lies in 0..255, so the byte add cannot wrap). `weight` holds the weights of
// bytes 0-7, and 16 slots on those of bytes 8-15.
KVX_SSSE3 inline __m128i PackedLane(const uint8_t* window, const uint8_t* tap, const int16_t* weight) {
    const __m128i mask = Load128(tap);
    const __m128i a = _mm_shuffle_epi8(LoadU128(window), mask);
    const __m128i b = _mm_shuffle_epi8(LoadU128(window + 3), mask);
    const __m128i difference = _mm_set1_epi16(0x10F0), lowBytes = _mm_set1_epi16(0xFF);
    const __m128i dLo =
        _mm_mulhi_epi16(_mm_maddubs_epi16(_mm_unpacklo_epi8(a, b), difference), Load128(weight));
    const __m128i dHi =
        _mm_mulhi_epi16(_mm_maddubs_epi16(_mm_unpackhi_epi8(a, b), difference), Load128(weight + 16));
    return _mm_add_epi8(a, _mm_packus_epi16(_mm_and_si128(dLo, lowBytes), _mm_and_si128(dHi, lowBytes)));
}

// The blocks of a packed plan from `block` to `end`, `lane(block, 0 or 1)` the bytes of a
// block's low and high lane, `lanes` where they go. Each lane is stored as 16 bytes at its
// first byte: the high lane's store rewrites the low lane's spare bytes, the next block's
// those of the high lane. From vectorEnd on the stores would run past the row's end: those
// blocks go through a buffer, and only the row's bytes on to it.
template <typename Block, typename Lanes, typename Lane>
KVX_SSSE3 inline void StorePackedLanes(const Block* block, const Block* vectorEnd, const Block* end,
                                       const uint8_t* rowEnd, Lanes lanes, Lane lane) {
    for (; block != vectorEnd; ++block, lanes.Next()) {
        StoreU128(lanes.Low(*block), lane(*block, 0));
        StoreU128(lanes.High(*block), lane(*block, 1));
    }
    for (; block != end; ++block, lanes.Next()) {
        uint8_t* const low = lanes.Low(*block);
        const ptrdiff_t high = lanes.High(*block) - low;
        uint8_t bytes[2 * 16];
        StoreU128(bytes, lane(*block, 0));
        StoreU128(bytes + high, lane(*block, 1));
        std::memcpy(low, bytes, static_cast<size_t>(std::min<ptrdiff_t>(high + 16, rowEnd - low)));
    }
}

// One lane of a paired block: the pair mask of each half gathers each of its eight bytes'
// taps as a word (first + 256 second) from the half's window; a multiply-add by (-16, 16)
// gives (b - a) * 16, and its weighted high half added to the first tap is the blend (in
// 0..255, so the pack keeps it).
KVX_SSSE3 inline __m128i PairedLane(const uint8_t* work, const PairedBlock& block, int lane) {
    const __m128i difference = _mm_set1_epi16(0x10F0), lowBytes = _mm_set1_epi16(0xFF);
    const __m128i lo = _mm_shuffle_epi8(LoadU128(work + block.window[lane]), Load128(block.pairs + 16 * lane));
    const __m128i hi =
        _mm_shuffle_epi8(LoadU128(work + block.window[2 + lane]), Load128(block.pairs + 32 + 16 * lane));
    const __m128i qLo = _mm_add_epi16(
        _mm_and_si128(lo, lowBytes),
        _mm_mulhi_epi16(_mm_maddubs_epi16(lo, difference), Load128(block.weight + 8 * lane)));
    const __m128i qHi = _mm_add_epi16(
        _mm_and_si128(hi, lowBytes),
        _mm_mulhi_epi16(_mm_maddubs_epi16(hi, difference), Load128(block.weight + 16 + 8 * lane)));
    return _mm_packus_epi16(qLo, qHi);
}

// A row of `bytes` from a paired plan: its lanes follow each other, 16 bytes each.
KVX_SSSE3 inline void PlannedPaired(const uint8_t* work, uint8_t* dst, const ColumnPlan& plan,
                                    ptrdiff_t bytes) {
    const PairedBlock* const blocks = plan.Blocks<PairedBlock>();
    StorePackedLanes(blocks, blocks + plan.vectorBlocks, blocks + plan.blockCount, dst + bytes,
                     EvenLanes{dst, 16}, [work](const PairedBlock& block, int lane) KVX_SSSE3 {
                         return PairedLane(work, block, lane);
                     });
}

KVX_SSSE3 void PlannedRgb24Paired(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                                  const ColumnPlan& plan, bool) {
    PlannedPaired(work, dst, plan, 3 * static_cast<ptrdiff_t>(plan.count));
}

KVX_SSSE3 void PlannedYuyvPaired(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                                 const ColumnPlan& plan, bool) {
    PlannedPaired(work, dst, plan, 2 * static_cast<ptrdiff_t>(plan.count));
}

KVX_SSSE3 void PlannedRgb24Lanes(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                                 const ColumnPlan& plan, bool) {
    const PackedRgb24Block* const blocks = plan.Blocks<PackedRgb24Block>();
    StorePackedLanes(blocks, blocks + plan.vectorBlocks, blocks + plan.blockCount,
                     dst + 3 * static_cast<ptrdiff_t>(plan.count), EvenLanes{dst, plan.laneBytes},
                     [work](const PackedRgb24Block& block, int lane) KVX_SSSE3 {
                         return PackedLane(work + block.window[lane], block.tap + 16 * lane,
                                           block.weight + 8 * lane);
                     });
}

// One lane of a packed 4:2:2 block: the pair mask of each half gathers, for each of its
// eight destination bytes, the word (first tap + 256 second tap) from the lane's window;
// a multiply-add by (-16, 16) gives (b - a) * 16, and its weighted high half added to the
// word leaves the blend in the low byte (it lies in 0..255, so no carry reaches the high
// byte). `weight` holds the lane's eight pixel weights, each for two bytes.
KVX_SSSE3 inline __m128i PackedYuyvLane(const uint8_t* window, const uint8_t* pairs,
                                        const int16_t* weight) {
    const __m128i v = LoadU128(window), w = Load128(weight);
    const __m128i difference = _mm_set1_epi16(0x10F0), lowBytes = _mm_set1_epi16(0xFF);
    const __m128i lo = _mm_shuffle_epi8(v, Load128(pairs));
    const __m128i hi = _mm_shuffle_epi8(v, Load128(pairs + 32));
    const __m128i qLo = _mm_add_epi16(
        lo, _mm_mulhi_epi16(_mm_maddubs_epi16(lo, difference), _mm_unpacklo_epi16(w, w)));
    const __m128i qHi = _mm_add_epi16(
        hi, _mm_mulhi_epi16(_mm_maddubs_epi16(hi, difference), _mm_unpackhi_epi16(w, w)));
    return _mm_packus_epi16(_mm_and_si128(qLo, lowBytes), _mm_and_si128(qHi, lowBytes));
}

// The plan holds the column parities, so oddStart is not needed.
KVX_SSSE3 void PlannedYuyvLanes(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                                const ColumnPlan& plan, bool) {
    const PackedYuyvBlock* const blocks = plan.Blocks<PackedYuyvBlock>();
    StorePackedLanes(blocks, blocks + plan.vectorBlocks, blocks + plan.blockCount,
                     dst + 2 * static_cast<ptrdiff_t>(plan.count), RecordedLanes{dst},
                     [work](const PackedYuyvBlock& block, int lane) KVX_SSSE3 {
                         return PackedYuyvLane(work + block.window[lane], block.pairs + 16 * lane,
                                               block.weight + 8 * lane);
                     });
}

}  // namespace ssse3
}  // namespace kvx
#endif
