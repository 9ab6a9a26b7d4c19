// The pixel kernels of the scaler: a vertical routine blends two frame rows into a row of
// 4-byte work pixels, a horizontal routine resamples a work row into a row of the frame.
// The portable versions here are the reference every faster version must match bit for bit.
#pragma once
#include <cstdint>

#include "video/scale_steps.h"

namespace kvx {

// One byte lane of the blend: a + floor((b - a) * w / 4096), computed as the packed 16-bit
// form does it: d = (b - a) * 16 as int16, then a + high half of the 32-bit product d * w.
// The store saturates, as a packed store does; for weights up to 4095 that changes nothing.
inline uint8_t BlendLane(uint8_t a, uint8_t b, uint16_t w) {
    int32_t d = (static_cast<int32_t>(b) - a) * 16;
    int32_t p = a + ((d * static_cast<int32_t>(w)) >> 16);
    return static_cast<uint8_t>(p < 0 ? 0 : p > 255 ? 255 : p);
}

// rowA and rowB are the first and second taps (the same row when the weight is 0).
// Layout 0 reads 4 bytes (Y0 U Y1 V) per group from each row and writes two work pixels;
// layout 4 reads exactly 3 bytes per group and writes one.
using VerticalRowKernel = void(const uint8_t* rowA, const uint8_t* rowB, uint16_t weight,
                               uint8_t* work, int32_t groups);
using VerticalRowFn = VerticalRowKernel*;

// work points at the work pixel of the source origin, destination at the first pixel to
// write; the column table is walked from steps[0], one entry per pixel of `count`, and its
// second taps lie one work pixel after the first (the table's step is 4) or have weight 0.
// Writes exactly the bytes of those `count` pixels. Reads the taps, and may read the work
// pixel after a first tap whose weight is 0: a work row has one readable pixel past its
// last tap (the scaler's rows have two spare pixels).
using HorizontalRowKernel = void(const uint8_t* work, uint8_t* destination, int32_t count,
                                 const ScaleStep* steps);
using HorizontalRowFn = HorizontalRowKernel*;

// A column table recast, once per geometry, as blocks of up to eight destination pixels,
// each pixel with a window of 8 bytes of the work row at its first tap, which also holds its
// second tap (see BuildColumnPlan): a vector routine takes both taps of a pixel with one load
// at a ready offset instead of walking the table pixel by pixel. Offsets are bytes from the
// source origin. The record is 128 bytes so that the packed plans' blocks (below) can use the
// same storage.
struct alignas(16) ColumnPlanBlock {
    int32_t reserved0[2];
    int32_t first, count;  // destination pixels first .. first + count - 1
    int32_t readBefore;    // the walk's read position before pixel `first`
    int32_t reserved1[3];
    uint8_t tapA[32];  // pixel i's window, bytes 4i .. 4i + 3: a 32-bit byte offset
    uint8_t reserved2[32];
    uint32_t weight[8];  // weight of each pixel, in both halves
};
static_assert(sizeof(ColumnPlanBlock) == 128, "ColumnPlanBlock is a 128-byte record");

struct PackedRgb24Block;
struct PairedBlock;
struct PackedYuyvBlock;

struct ColumnPlan {
    const ColumnPlanBlock* blocks;
    int32_t count;  // destination pixels of the row
    // Blocks a vector routine may store whole, per layout: their stores stay inside the
    // row. The pixels from the next block on are done by walking the table.
    int32_t vectorBlocksYuyv, vectorBlocksRgb24;
    int32_t blockCount;   // blocks built, up to the whole row
    int32_t windowBytes;  // the window it was built for, also when that failed
    int32_t workPixelBytes;  // the work rows it reads: 4, or 3 (2) for packed 24-bit (4:2:2)
    // Packed 24-bit plans (BuildPackedRgb24Plan): their blocks and the bytes of each lane.
    const PackedRgb24Block* packedBlocks;
    int32_t laneBytes;
    // Packed 4:2:2 plans (BuildPackedYuyvPlan): their blocks, and the column parities they
    // were built for (kPackedYuyvOddStart, kPackedYuyvOddSource).
    const PackedYuyvBlock* packedYuyvBlocks;
    int32_t parity;
    // A packed plan of paired blocks (see PairedBlock) has these instead of packedBlocks
    // or packedYuyvBlocks; null otherwise.
    const PairedBlock* pairedBlocks;
};

// The most blocks BuildColumnPlan may need for `count` pixels.
inline int32_t ColumnPlanCapacity(int32_t count) { return (count + 1) / 2; }

// Builds the plan of `steps` (count entries over a work row of sourcePixels readable work
// pixels, step 4) into `blocks`, which has room for ColumnPlanCapacity(count) entries and is
// 16-byte aligned (the routines load its weights with aligned loads). windowBytes is the
// window of the level's planned routines: 8, the only one any routine takes; for any other
// the plan records it and fails. Returns false, and the table walk does the row, when a
// first tap is not a whole work pixel inside the row, a second tap is not the next work
// pixel and has a weight, or the four lanes' weights differ. Vector blocks store, 4:2:2
// 16 bytes at the block's first pixel, 24-bit a 4-byte store at each of its pixels; bytes
// past the block's pixels are rewritten by the blocks or the walk that follow.
bool BuildColumnPlan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                     int32_t windowBytes, ColumnPlanBlock* blocks, ColumnPlan& plan);

// Rows of 24-bit frames can also go through work rows of packed 3-byte work pixels: pass 1
// then only blends bytes as they lie, and pass 2 writes fewer bytes than it would gather
// from 4-byte ones. The column table stays the same (steps of 4 per work pixel); a tap at
// table offset t lies at byte t / 4 * 3 of a packed row.
//
// Every byte of such a destination row is a blend of its own: byte c (0..2) of pixel p is
// BlendLane(row[a + c], row[a + 3 + c], w) for p's first tap a (in bytes) and weight w. A
// plan of it cuts the destination row into lanes of laneBytes consecutive bytes, which may
// start and end inside a pixel, two lanes a block. A lane's window is 16 bytes of the row
// that hold the first taps of all its bytes; the 16 bytes three on hold their second taps
// at the same places, so one byte shuffle mask serves both.
struct alignas(16) PackedRgb24Block {
    int32_t window[2];  // the low and the high lane's window: bytes from the row's start
    int32_t reserved[6];
    // Byte i of a lane: where its taps lie in the lane's two windows; low lane in 0-15,
    // high lane in 16-31.
    uint8_t tap[32];
    // Byte i of a lane: its pixel's weight, in the order a 32-byte unpack of the taps
    // meets them: low lane bytes 0-7, high lane bytes 0-7, low lane 8-15, high lane 8-15.
    // A weight of 4096 takes the second window's byte as it is: a pixel of weight 0 whose
    // only tap lies past the first window (at the row's end) is taken from the second.
    int16_t weight[32];
};
static_assert(sizeof(PackedRgb24Block) == sizeof(ColumnPlanBlock),
              "a packed block takes the room of a window-plan block");

// The weight slot of byte i (0..15) of lane `lane` (0 low, 1 high) of a packed block.
inline int32_t PackedWeightSlot(int32_t lane, int32_t i) {
    return (i & 8) * 2 + lane * 8 + (i & 7);
}

// Builds the plan of `steps` for a packed row of sourcePixels readable pixels into
// `blocks`, which has room for ColumnPlanCapacity(count) entries and is 16-byte aligned.
// Returns false, and the table walk does the row, unless every tap is a whole work pixel
// inside the row, one weight serves a pixel's lanes, each second tap is the pixel after its
// first or has weight 0, and the row has 19 bytes (a lane's two windows). The lanes are as
// long as every lane of the row allows: 16 bytes down to 3, a pixel a lane, which fits any
// shrink. Block k does destination bytes 2k * laneBytes on. The vector routines store each
// lane as 16 bytes at its first byte, the high lane's store rewriting the low lane's spare
// bytes; vectorBlocksRgb24 counts the blocks whose stores stay inside the row, the blocks
// after them go through a buffer. The plan's blocks are packedBlocks. With `paired`, the
// plan is of paired blocks (PairedBlock, below) where lanes of 16 bytes do not fit and
// paired blocks do.
constexpr int32_t kPackedRgb24PlanWindowBytes = 32;  // the windowBytes such plans record
bool BuildPackedRgb24Plan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                          PackedRgb24Block* blocks, ColumnPlan& plan, bool paired = false);

// The table walk along a packed 24-bit row: the reference of the packed planned routines,
// which do every block of the plan (those past vectorBlocksRgb24 through a buffer).
// Reads exactly the three bytes of each tap.
void HorizontalRgb24Packed(const uint8_t* work, uint8_t* destination, int32_t count,
                           const ScaleStep* steps);

// Rows of 4:2:2 frames can also go through packed work rows: the two frame rows blended
// byte for byte, in frame layout (Y0 U Y1 V per pair), from an even frame column. The
// table's taps count columns from the first source column, which is column 1 of the row
// when the source starts at an odd column (oddSource). For a pixel whose first tap is
// column c of the row and whose weight is w, the Y byte blends row bytes 2c and 2c + 2, the
// chroma byte (U at an even destination column, V at an odd one) the U (or V) of pairs
// c >> 1 and (c + 1) >> 1. A plan of it cuts the destination row into lanes of whole
// pixels, two lanes a block, each as long as one 16-byte window of the row holds both taps
// of every byte of it (up to 16 bytes).
struct alignas(16) PackedYuyvBlock {
    int32_t window[2];  // the low and the high lane's window: bytes from the row's start
    int32_t start[2];   // the destination bytes the low and the high lane start at
    int32_t reserved[4];
    // The taps of each destination byte as a pair of window bytes (first, second), a byte
    // shuffle mask that gathers them as words: bytes 0-7 of the low lane in 0-15, of the
    // high lane in 16-31; bytes 8-15 of the low lane in 32-47, of the high lane in 48-63.
    uint8_t pairs[64];
    int16_t weight[16];  // the weight of each pixel: low lane in 0-7, high lane in 8-15
};
static_assert(sizeof(PackedYuyvBlock) == sizeof(ColumnPlanBlock),
              "a packed 4:2:2 block takes the room of a window-plan block");

// A packed row of either layout can also be cut into blocks of 32 whole destination bytes,
// each two lanes of 16 and each lane two halves of 8 bytes with a 16-byte window of the row
// of their own that holds both taps of every byte of the half: a byte shuffle gathers each
// byte's taps as a word (first + 256 second), and one 32-byte store puts the block in place.
// The lanes are 16 bytes at any shrink whose halves fit their windows (24-bit rows down to
// about 75 %, 4:2:2 rows to about 50 %), where the plans of lanes have shorter lanes stored
// one by one: those overlapping 16-byte stores cost a 90 % shrink about half as much time
// again a byte. A 24-bit zoom keeps its lanes of 16 bytes, which are as fast and whose
// blocks are smaller; a 4:2:2 zoom has lanes of 12 to 16 bytes and takes paired blocks.
// A paired plan has laneBytes 16, its blocks in pairedBlocks, and counts the blocks whose
// 32-byte store stays inside the row in vectorBlocksRgb24 and vectorBlocksYuyv; the blocks
// after them go through a buffer. It fits the room of the plan of lanes it stands for.
struct alignas(16) PairedBlock {
    // The windows, bytes from the row's start, in the order the weights are: low lane
    // bytes 0-7, high lane bytes 0-7, low lane bytes 8-15, high lane bytes 8-15.
    int32_t window[4];
    int32_t reserved[4];  // keeps the record a multiple of 32 bytes: see AlignedAlloc
    // The taps of each byte as a pair of window bytes (first, second), a byte shuffle mask:
    // bytes 0-7 of the low lane in 0-15, of the high lane in 16-31; bytes 8-15 of the low
    // lane in 32-47, of the high lane in 48-63. A byte of weight 0 takes its first tap twice.
    uint8_t pairs[64];
    // Byte i of a lane: its pixel's weight, at PackedWeightSlot(lane, i).
    int16_t weight[32];
};
static_assert(sizeof(PairedBlock) == 160, "PairedBlock is a 160-byte record");

// The parities a packed 4:2:2 plan is built for, as bits of ColumnPlan::parity.
constexpr int32_t kPackedYuyvOddStart = 1;   // the first destination column is odd
constexpr int32_t kPackedYuyvOddSource = 2;  // the first source column is odd

// The bytes of a packed 4:2:2 row that holds sourcePixels columns from column `oddSource`.
inline int64_t PackedYuyvRowBytes(int32_t sourcePixels, bool oddSource) {
    return (static_cast<int64_t>(sourcePixels) + oddSource + 1) / 2 * 4;
}

// Builds the plan of `steps` for a packed 4:2:2 row into `blocks` (room for
// ColumnPlanCapacity(count) entries, 16-byte aligned) for the parities in `parity`.
// Returns false, and the caller keeps 4-byte work rows, unless every tap is a whole work
// pixel inside the row, one weight serves a pixel's lanes, each second tap is the pixel
// after its first or has weight 0 (then it is not read), and the row has 16 bytes. Each
// lane takes as many pixels as its window holds, at least one (whose taps span at most 7
// bytes), so the lanes follow each other without gaps. The vector routines store each lane
// as 16 bytes at its first byte; vectorBlocksYuyv counts the leading blocks whose stores
// stay inside the row, the blocks after them go through a buffer. The plan's blocks are
// packedYuyvBlocks.
constexpr int32_t kPackedYuyvPlanWindowBytes = 16;  // the windowBytes such plans record
// With `paired`, the plan is of paired blocks where they fit.
bool BuildPackedYuyvPlan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                         int32_t parity, PackedYuyvBlock* blocks, ColumnPlan& plan,
                         bool paired = false);

// The table walk along a packed 4:2:2 row: the reference of the packed planned routines.
// `work` is the row's start (an even frame column); reads only the taps of nonzero weight
// besides the first taps.
void HorizontalYuyvPacked(const uint8_t* work, uint8_t* destination, int32_t count,
                          const ScaleStep* steps, int32_t parity);

// Does a row from a plan: the blocks, then the rest by the table walk. oddStart is the
// parity of the first destination column (4:2:2 only).
using PlannedRowKernel = void(const uint8_t* work, uint8_t* destination,
                              const ScaleStep* steps, const ColumnPlan& plan, bool oddStart);
using PlannedRowFn = PlannedRowKernel*;

// Two rows from one plan at once (row 0's work row and destination, then row 1's): both
// rows take each block's masks and weights from the same loads. Each row's bytes are those
// of the level's one-row routine.
using PlannedRowPairKernel = void(const uint8_t* work0, uint8_t* destination0,
                                  const uint8_t* work1, uint8_t* destination1,
                                  const ScaleStep* steps, const ColumnPlan& plan, bool oddStart);
using PlannedRowPairFn = PlannedRowPairKernel*;

// A table of row routines, so that a CPU-specific set can stand in for the portable one.
struct RowRoutines {
    VerticalRowFn verticalYuyv;
    VerticalRowFn verticalRgb24;
    HorizontalRowFn horizontalYuyvEven;  // first destination pixel at an even column
    HorizontalRowFn horizontalYuyvOdd;   // first destination pixel at an odd column
    HorizontalRowFn horizontalRgb24;
    // Plan-driven horizontal routines; null where the level has none.
    PlannedRowFn plannedYuyv;
    PlannedRowFn plannedRgb24;
    int32_t planWindowBytes;  // the window of the plans they take (0 without them)
    PlannedRowPairFn plannedRgb24Pair;  // plannedRgb24 for two rows at once, or null
    // Packed 24-bit work rows: pass 1 writes three bytes a pixel (groups pixels); the
    // planned routine takes plans of BuildPackedRgb24Plan and is null where the level has
    // none (the scaler then uses 4-byte work rows).
    VerticalRowFn verticalRgb24Packed;
    PlannedRowFn plannedRgb24Packed;
    // Packed 4:2:2 work rows: pass 1 writes the four bytes of each pair as they lie; the
    // planned routine takes plans of BuildPackedYuyvPlan (null where the level has none).
    VerticalRowFn verticalYuyvPacked;
    PlannedRowFn plannedYuyvPacked;
    // Both packed planned routines also take plans of paired blocks (PairedBlock).
    bool pairedPlans;
    // The packed planned routines for two rows at once; null where the level has none.
    PlannedRowPairFn plannedRgb24PackedPair;
    PlannedRowPairFn plannedYuyvPackedPair;
};

const RowRoutines& PortableRowRoutines();

}  // namespace kvx
