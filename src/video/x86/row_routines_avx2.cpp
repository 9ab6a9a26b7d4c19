// AVX2 row routines of the scaler: the vertical passes, 32 frame bytes a step, and the
// horizontal pass over packed work rows driven by their plans, two 16-byte lanes a block.
#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "video/x86/avx2_kernels.h"
#include "video/x86/packed_lanes.h"
#include "video/x86/simd_target.h"
#include "video/x86/sse2_kernels.h"
#include "video/x86/ssse3_kernels.h"

namespace kvx {
namespace avx2 {

namespace {

KVX_AVX2 inline __m256i LoadU256(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// 24 bytes (eight 3-byte pixels) from the start of a 32-byte load into eight 4-byte
// pixels with a zero fourth byte: bytes 0-15 go to the low lane and 12-27 to the high
// one, then each lane spreads its first twelve bytes.
KVX_AVX2 inline __m256i Expand3To4(__m256i v) {
    const __m256i lanes = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6));
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_shuffle_epi8(lanes, spread);
}

// Every byte of a and b blended with one weight w (in every word): each byte pair (a, b)
// times (-16, 16) is (b - a) * 16 as a word, and the high half of its product with the
// weight is the step from a. The steps' low bytes, added to a byte by byte, are the blend:
// each sum lies in 0..255, so the wrap of the byte add is exact.
KVX_AVX2 inline __m256i BlendRowBytes(__m256i a, __m256i b, __m256i w) {
    const __m256i difference = _mm256_set1_epi16(0x10F0), lowByte = _mm256_set1_epi16(0x00FF);
    const __m256i lo = _mm256_mulhi_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), difference), w);
    const __m256i hi = _mm256_mulhi_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), difference), w);
    return _mm256_add_epi8(a, _mm256_packus_epi16(_mm256_and_si256(lo, lowByte),
                                                  _mm256_and_si256(hi, lowByte)));
}

}  // namespace

KVX_AVX2 void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                            int32_t groups) {
    const __m256i wv = _mm256_set1_epi16(static_cast<int16_t>(w));
    int32_t g = 0;
    // A 32-byte load takes eight pixels and a bit; it must end inside the row. Every byte
    // takes the same weight, so the rows are blended as they lie and expanded once.
    for (; groups - g >= 11; g += 8, a += 24, b += 24, work += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(work),
                            Expand3To4(BlendRowBytes(LoadU256(a), LoadU256(b), wv)));
    if (g < groups) sse2::VerticalRgb24(a, b, w, work, groups - g);
}

namespace {

KVX_AVX2 void BlendRowsPacked(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                              int32_t bytes) {
    if (bytes < 32) return ssse3::BlendRowsPacked(a, b, w, work, bytes);
    const __m256i wv = _mm256_set1_epi16(static_cast<int16_t>(w));
    auto blend32 = [&](int32_t i) KVX_AVX2 {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(work + i),
                            BlendRowBytes(LoadU256(a + i), LoadU256(b + i), wv));
    };
    int32_t i = 0;
    for (; i + 64 <= bytes; i += 64) blend32(i), blend32(i + 32);
    if (i + 32 <= bytes) blend32(i), i += 32;
    // The last 32 bytes once more: the rows are not the work row, so the overlap only
    // rewrites bytes with what they already hold.
    if (i < bytes) blend32(bytes - 32);
}

}  // namespace

KVX_AVX2 void VerticalRgb24Packed(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                                  int32_t groups) {
    BlendRowsPacked(a, b, w, work, groups * 3);
}

KVX_AVX2 void VerticalYuyvPacked(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                                 int32_t groups) {
    BlendRowsPacked(a, b, w, work, groups * 4);
}

// The mask and the weights of a block of a packed 24-bit plan, loaded once for every row
// that takes them.
struct LaneTables {
    __m256i tap, weightLow, weightHigh;
};

KVX_AVX2 inline LaneTables LoadLaneTables(const PackedRgb24Block& block) {
    return {LoadU256(block.tap), LoadU256(block.weight), LoadU256(block.weight + 16)};
}

// A block of a packed plan, both lanes: the first and the second taps of each byte come
// from the lane's two windows with one mask; as words (a + 256 b) a multiply-add by
// (-16, 16) gives (b - a) * 16, and the weighted difference's low byte added to a is the
// blend (which lies in 0..255, so the byte add cannot wrap).
KVX_AVX2 inline __m256i PackedBlock(const uint8_t* low, const uint8_t* high, const LaneTables& t) {
    const __m256i w0 = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
    const __m256i w1 = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low + 3))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high + 3)), 1);
    const __m256i a = _mm256_shuffle_epi8(w0, t.tap), b = _mm256_shuffle_epi8(w1, t.tap);
    const __m256i difference = _mm256_set1_epi16(0x10F0), lowBytes = _mm256_set1_epi16(0xFF);
    const __m256i dLo = _mm256_mulhi_epi16(
        _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), difference), t.weightLow);
    const __m256i dHi = _mm256_mulhi_epi16(
        _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), difference), t.weightHigh);
    return _mm256_add_epi8(a, _mm256_packus_epi16(_mm256_and_si256(dLo, lowBytes),
                                                  _mm256_and_si256(dHi, lowBytes)));
}

// The blocks of a packed plan from `block` to `end`, `blend(block)` both lanes' bytes,
// `lanes` where they go. Each lane is stored as 16 bytes at its first byte: the high
// lane's store rewrites the low lane's spare bytes, the next block's those of the high
// lane. From vectorEnd on the stores would run past the row's end: those blocks go through
// a buffer, and only the row's bytes on to it.
template <typename Block, typename Lanes, typename Blend>
KVX_AVX2 inline void StorePackedBlocks(const Block* block, const Block* vectorEnd, const Block* end,
                                       const uint8_t* rowEnd, Lanes lanes, Blend blend) {
#pragma GCC unroll 2
    for (; block != vectorEnd; ++block, lanes.Next()) {
        const __m256i q = blend(*block);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes.Low(*block)), _mm256_castsi256_si128(q));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes.High(*block)), _mm256_extracti128_si256(q, 1));
    }
    for (; block != end; ++block, lanes.Next()) {
        uint8_t* const low = lanes.Low(*block);
        const ptrdiff_t high = lanes.High(*block) - low;
        uint8_t bytes[2 * 16];
        const __m256i q = blend(*block);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm256_castsi256_si128(q));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + high), _mm256_extracti128_si256(q, 1));
        std::memcpy(low, bytes, static_cast<size_t>(std::min<ptrdiff_t>(high + 16, rowEnd - low)));
    }
}

// The masks and the weights of a paired block, loaded once for every row that takes them.
struct PairedTables {
    __m256i pairsLow, pairsHigh, weightLow, weightHigh;
};

KVX_AVX2 inline PairedTables LoadPairedTables(const PairedBlock& block) {
    return {LoadU256(block.pairs), LoadU256(block.pairs + 32), LoadU256(block.weight),
            LoadU256(block.weight + 16)};
}

// A paired block: the pair masks gather each byte's taps as a word (first + 256 second)
// from its half's window; a multiply-add by (-16, 16) gives (b - a) * 16, and its weighted
// high half added to the first tap is the blend (in 0..255, so the pack keeps it).
KVX_AVX2 inline __m256i BlendPairedBlock(const uint8_t* work, const PairedBlock& block,
                                         const PairedTables& t) {
    const __m256i low = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(work + block.window[0]))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + block.window[1])), 1);
    const __m256i high = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(work + block.window[2]))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + block.window[3])), 1);
    const __m256i difference = _mm256_set1_epi16(0x10F0), lowBytes = _mm256_set1_epi16(0xFF);
    const __m256i lo = _mm256_shuffle_epi8(low, t.pairsLow);
    const __m256i hi = _mm256_shuffle_epi8(high, t.pairsHigh);
    const __m256i qLo = _mm256_add_epi16(
        _mm256_and_si256(lo, lowBytes),
        _mm256_mulhi_epi16(_mm256_maddubs_epi16(lo, difference), t.weightLow));
    const __m256i qHi = _mm256_add_epi16(
        _mm256_and_si256(hi, lowBytes),
        _mm256_mulhi_epi16(_mm256_maddubs_epi16(hi, difference), t.weightHigh));
    return _mm256_packus_epi16(qLo, qHi);
}

// The blocks of a paired plan from vectorBlocks on, through a buffer: their 32-byte
// stores would run past the row of `bytes`.
KVX_AVX2 inline void PairedTail(const uint8_t* work, uint8_t* dst, const ColumnPlan& plan,
                                ptrdiff_t bytes) {
    const PairedBlock* const blocks = plan.Blocks<PairedBlock>();
    const PairedBlock* const vectorEnd = blocks + plan.vectorBlocks;
    StorePackedBlocks(vectorEnd, vectorEnd, blocks + plan.blockCount, dst + bytes,
                      EvenLanes{dst + 32 * static_cast<ptrdiff_t>(plan.vectorBlocks), 16},
                      [work](const PairedBlock& block) KVX_AVX2 {
                          return BlendPairedBlock(work, block, LoadPairedTables(block));
                      });
}

// A row of `bytes` from a paired plan whose first vectorBlocks blocks are stored whole, 32
// bytes each, one after the other. Inlined into each layout's routine, as it was before the
// tail became a function of its own: the 32-bit build, left to itself, calls it, and its
// rows took 2-3 % longer.
KVX_AVX2 __attribute__((always_inline)) inline void PlannedPaired(const uint8_t* work, uint8_t* dst,
                                                                  const ColumnPlan& plan,
                                                                  ptrdiff_t bytes) {
    const PairedBlock* const blocks = plan.Blocks<PairedBlock>();
    const PairedBlock* const vectorEnd = blocks + plan.vectorBlocks;
    uint8_t* out = dst;
    for (const PairedBlock* block = blocks; block != vectorEnd; ++block, out += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            BlendPairedBlock(work, *block, LoadPairedTables(*block)));
    PairedTail(work, dst, plan, bytes);
}

KVX_AVX2 void PlannedRgb24Paired(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                                 const ColumnPlan& plan, bool) {
    PlannedPaired(work, dst, plan, 3 * static_cast<ptrdiff_t>(plan.count));
}

KVX_AVX2 void PlannedYuyvPaired(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                                const ColumnPlan& plan, bool) {
    PlannedPaired(work, dst, plan, 2 * static_cast<ptrdiff_t>(plan.count));
}

// A block of a plan of lanes over `work`, its tables loaded for this row alone.
KVX_AVX2 inline __m256i BlendLanes(const uint8_t* work, const PackedRgb24Block& block) {
    return PackedBlock(work + block.window[0], work + block.window[1], LoadLaneTables(block));
}

// The blocks of a plan of lanes from block `first` on: each lane stored at its first byte,
// and the blocks from vectorBlocks on through a buffer.
KVX_AVX2 inline void LanesFrom(const uint8_t* work, uint8_t* dst, const ColumnPlan& plan,
                               ptrdiff_t first) {
    const PackedRgb24Block* const blocks = plan.Blocks<PackedRgb24Block>();
    StorePackedBlocks(blocks + first, blocks + plan.vectorBlocks, blocks + plan.blockCount,
                      dst + 3 * static_cast<ptrdiff_t>(plan.count),
                      EvenLanes{dst + 2 * plan.laneBytes * first, plan.laneBytes},
                      [work](const PackedRgb24Block& block) KVX_AVX2 { return BlendLanes(work, block); });
}

// Lanes of 16 bytes make one 32-byte store a block.
KVX_AVX2 void PlannedRgb24Lanes(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                                const ColumnPlan& plan, bool) {
    const PackedRgb24Block* const blocks = plan.Blocks<PackedRgb24Block>();
    const PackedRgb24Block* block = blocks;
    const PackedRgb24Block* const vectorEnd = block + plan.vectorBlocks;
    uint8_t* out = dst;
    if (plan.laneBytes == 16) {
#pragma GCC unroll 2
        for (; block != vectorEnd; ++block, out += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), BlendLanes(work, *block));
    }
    LanesFrom(work, dst, plan, block - blocks);
}

KVX_AVX2 void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                           int32_t groups) {
    const __m256i wv = _mm256_set1_epi16(static_cast<int16_t>(w));
    // Each byte pair (a, b) times (-16, 16) is the blend's (b - a) * 16 in one step.
    const __m256i difference = _mm256_set1_epi16(0x10F0);
    // Per lane, the low bytes of the words of two groups Y0 U Y1 V become the work pixels
    // (Y0 U Y0 V) (Y1 U Y1 V).
    const __m256i spread = _mm256_setr_epi8(0, 2, 0, 6, 4, 2, 4, 6, 8, 10, 8, 14, 12, 10, 12, 14,
                                            0, 2, 0, 6, 4, 2, 4, 6, 8, 10, 8, 14, 12, 10, 12, 14);
    int32_t g = 0;
    for (; g + 8 <= groups; g += 8, a += 32, b += 32, work += 64) {
        const __m256i ra = LoadU256(a), rb = LoadU256(b);
        // Words a + 256 b: their low bytes plus the weighted difference are the blend (it
        // never leaves 0..255, so no carry reaches a low byte from the rest). Groups 0-1 and
        // 4-5 in the low words, 2-3 and 6-7 in the high ones.
        const __m256i lo = _mm256_unpacklo_epi8(ra, rb), hi = _mm256_unpackhi_epi8(ra, rb);
        const __m256i qlo = _mm256_shuffle_epi8(
            _mm256_add_epi16(lo, _mm256_mulhi_epi16(_mm256_maddubs_epi16(lo, difference), wv)), spread);
        const __m256i qhi = _mm256_shuffle_epi8(
            _mm256_add_epi16(hi, _mm256_mulhi_epi16(_mm256_maddubs_epi16(hi, difference), wv)), spread);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(work), _mm256_permute2x128_si256(qlo, qhi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(work + 32), _mm256_permute2x128_si256(qlo, qhi, 0x31));
    }
    if (g < groups) sse2::VerticalYuyv(a, b, w, work, groups - g);
}

// A block of a packed 4:2:2 plan, both lanes: the pair masks gather, for each destination
// byte, the word (first tap + 256 second tap) from its lane's window; a multiply-add by
// (-16, 16) gives (b - a) * 16, and its weighted high half added to the word leaves the
// blend in the low byte (it lies in 0..255, so no carry reaches the high byte). Each
// pixel weight serves its two bytes.
KVX_AVX2 inline __m256i PackedYuyvBlend(const uint8_t* work, const PackedYuyvBlock& block) {
    const __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(work + block.window[0]))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + block.window[1])), 1);
    const __m256i w = LoadU256(block.weight);
    const __m256i difference = _mm256_set1_epi16(0x10F0), lowBytes = _mm256_set1_epi16(0xFF);
    const __m256i lo = _mm256_shuffle_epi8(v, LoadU256(block.pairs));
    const __m256i hi = _mm256_shuffle_epi8(v, LoadU256(block.pairs + 32));
    const __m256i qLo = _mm256_add_epi16(
        lo, _mm256_mulhi_epi16(_mm256_maddubs_epi16(lo, difference), _mm256_unpacklo_epi16(w, w)));
    const __m256i qHi = _mm256_add_epi16(
        hi, _mm256_mulhi_epi16(_mm256_maddubs_epi16(hi, difference), _mm256_unpackhi_epi16(w, w)));
    return _mm256_packus_epi16(_mm256_and_si256(qLo, lowBytes), _mm256_and_si256(qHi, lowBytes));
}

// The plan holds the column parities, so oddStart is not needed.
KVX_AVX2 void PlannedYuyvLanes(const uint8_t* work, uint8_t* dst, const ScaleStep*,
                               const ColumnPlan& plan, bool) {
    const PackedYuyvBlock* const blocks = plan.Blocks<PackedYuyvBlock>();
    StorePackedBlocks(blocks, blocks + plan.vectorBlocks, blocks + plan.blockCount,
                      dst + 2 * static_cast<ptrdiff_t>(plan.count), RecordedLanes{dst},
                      [work](const PackedYuyvBlock& block) KVX_AVX2 {
                          return PackedYuyvBlend(work, block);
                      });
}

#if KVX_HAS_ROW_PAIRS
// Two rows of a paired plan, each block's tables loaded once for both.
KVX_AVX2 inline void PlannedPairedPair(const uint8_t* work0, uint8_t* dst0, const uint8_t* work1,
                                       uint8_t* dst1, const ColumnPlan& plan, ptrdiff_t bytes) {
    const PairedBlock* const blocks = plan.Blocks<PairedBlock>();
    const PairedBlock* const vectorEnd = blocks + plan.vectorBlocks;
    const ptrdiff_t between = dst1 - dst0;
    uint8_t* out = dst0;
    for (const PairedBlock* block = blocks; block != vectorEnd; ++block, out += 32) {
        const PairedTables t = LoadPairedTables(*block);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), BlendPairedBlock(work0, *block, t));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + between), BlendPairedBlock(work1, *block, t));
    }
    PairedTail(work0, dst0, plan, bytes);
    PairedTail(work1, dst1, plan, bytes);
}

KVX_AVX2 void PlannedRgb24PairedPair(const uint8_t* work0, uint8_t* dst0, const uint8_t* work1,
                                     uint8_t* dst1, const ScaleStep*, const ColumnPlan& plan, bool) {
    PlannedPairedPair(work0, dst0, work1, dst1, plan, 3 * static_cast<ptrdiff_t>(plan.count));
}

KVX_AVX2 void PlannedYuyvPairedPair(const uint8_t* work0, uint8_t* dst0, const uint8_t* work1,
                                    uint8_t* dst1, const ScaleStep*, const ColumnPlan& plan, bool) {
    PlannedPairedPair(work0, dst0, work1, dst1, plan, 2 * static_cast<ptrdiff_t>(plan.count));
}

// Two rows: lanes of 16 bytes take each block's tables once for both; shorter lanes,
// stored one by one, go row by row.
KVX_AVX2 void PlannedRgb24LanesPair(const uint8_t* work0, uint8_t* dst0, const uint8_t* work1,
                                    uint8_t* dst1, const ScaleStep* steps, const ColumnPlan& plan,
                                    bool oddStart) {
    if (plan.laneBytes != 16) {
        PlannedRgb24Lanes(work0, dst0, steps, plan, oddStart);
        PlannedRgb24Lanes(work1, dst1, steps, plan, oddStart);
        return;
    }
    const PackedRgb24Block* const blocks = plan.Blocks<PackedRgb24Block>();
    const int32_t vectorBlocks = plan.vectorBlocks;
    for (int32_t k = 0; k < vectorBlocks; ++k) {
        const PackedRgb24Block& block = blocks[k];
        const LaneTables t = LoadLaneTables(block);
        const ptrdiff_t at = 32 * static_cast<ptrdiff_t>(k);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst0 + at),
                            PackedBlock(work0 + block.window[0], work0 + block.window[1], t));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst1 + at),
                            PackedBlock(work1 + block.window[0], work1 + block.window[1], t));
    }
    LanesFrom(work0, dst0, plan, vectorBlocks);
    LanesFrom(work1, dst1, plan, vectorBlocks);
}
#endif

}  // namespace avx2
}  // namespace kvx
#endif
