// Column plans: a row's column table recast once per geometry as blocks that a vector
// kernel takes at ready offsets instead of walking the table pixel by pixel. There are four
// kinds, each with a block type of its own; docs/column-plans.md draws their byte layouts.
#pragma once
#include <cassert>
#include <cstdint>

#include "video/pixel_format.h"
#include "video/scale_steps.h"

namespace kvx {

enum class PlanKind : int32_t {
    Windows,     // 4-byte work pixels: an 8-byte window a pixel, eight pixels a block
    Rgb24Lanes,  // packed 24-bit work rows: two lanes of up to 16 bytes a block
    YuyvLanes,   // packed 4:2:2 work rows: two lanes of whole pixels a block
    Paired,      // packed work rows of either layout: 32 destination bytes a block
};
constexpr int32_t kPlanKindCount = 4;
constexpr int32_t PlanIndex(PlanKind kind) { return static_cast<int32_t>(kind); }

// Pixel i of a block has the 8-byte window of the work row at its first tap, which also
// holds its second tap (the next work pixel, or any pixel when the weight is 0). Offsets
// are bytes from the source origin. Kept at two cache lines.
struct alignas(16) WindowBlock {
    static constexpr PlanKind kKind = PlanKind::Windows;
    int32_t reserved0[2];
    int32_t first, count;  // destination pixels first .. first + count - 1
    int32_t readBefore;    // the walk's read position before pixel `first`
    int32_t reserved1[3];
    uint8_t tapA[32];  // pixel i's window, bytes 4i .. 4i + 3: a 32-bit byte offset
    uint8_t reserved2[32];
    uint32_t weight[8];  // weight of each pixel, in both halves
};
static_assert(sizeof(WindowBlock) == 128, "WindowBlock is a 128-byte record");

// A packed 24-bit row: byte c (0..2) of pixel p is BlendLane(row[a + c], row[a + 3 + c], w)
// for p's first tap a (in bytes) and weight w, so the destination row is cut into lanes of
// laneBytes consecutive bytes, which may start and end inside a pixel. A lane's window is
// 16 bytes of the row that hold the first taps of all its bytes; the 16 bytes three on hold
// their second taps at the same places, so one byte shuffle mask serves both.
struct alignas(16) PackedRgb24Block {
    static constexpr PlanKind kKind = PlanKind::Rgb24Lanes;
    int32_t window[2];  // the low and the high lane's window: bytes from the row's start
    int32_t reserved[6];
    // Byte i of a lane: where its taps lie in the lane's two windows; low lane in 0-15,
    // high lane in 16-31.
    uint8_t tap[32];
    // Byte i of lane `lane` at PackedWeightSlot(lane, i), the order a 32-byte unpack of the
    // taps meets them. A weight of 4096 takes the second window's byte as it is: a pixel of
    // weight 0 whose only tap lies past the first window (at the row's end).
    int16_t weight[32];
};
static_assert(sizeof(PackedRgb24Block) == 128, "PackedRgb24Block is a 128-byte record");

// The weight slot of byte i (0..15) of lane `lane` (0 low, 1 high) of a packed block:
// low lane bytes 0-7, high lane bytes 0-7, low lane 8-15, high lane 8-15.
inline int32_t PackedWeightSlot(int32_t lane, int32_t i) {
    return (i & 8) * 2 + lane * 8 + (i & 7);
}

// A packed 4:2:2 row: the frame bytes blended as they lie (Y0 U Y1 V a pair) from an even
// frame column. A pixel whose first tap is column c of the row blends, for Y, row bytes 2c
// and 2c + 2, for chroma (U at an even destination column, V at an odd one) the U or V of
// pairs c >> 1 and (c + 1) >> 1. Each lane is as many whole pixels as one 16-byte window
// of the row holds both taps of.
struct alignas(16) PackedYuyvBlock {
    static constexpr PlanKind kKind = PlanKind::YuyvLanes;
    int32_t window[2];  // the low and the high lane's window: bytes from the row's start
    int32_t start[2];   // the destination bytes the low and the high lane start at
    int32_t reserved[4];
    // The taps of each destination byte as a pair of window bytes (first, second), a byte
    // shuffle mask that gathers them as words: bytes 0-7 of the low lane in 0-15, of the
    // high lane in 16-31; bytes 8-15 of the low lane in 32-47, of the high lane in 48-63.
    uint8_t pairs[64];
    int16_t weight[16];  // the weight of each pixel: low lane in 0-7, high lane in 8-15
};
static_assert(sizeof(PackedYuyvBlock) == 128, "PackedYuyvBlock is a 128-byte record");

// A packed row of either layout in blocks of 32 destination bytes: two lanes of 16, each of
// two halves of 8 bytes with a 16-byte window of their own that holds both taps of every
// byte of the half. One 32-byte store puts a block in place.
struct alignas(16) PairedBlock {
    static constexpr PlanKind kKind = PlanKind::Paired;
    // The windows, bytes from the row's start, in the order the weights are: low lane
    // bytes 0-7, high lane bytes 0-7, low lane bytes 8-15, high lane bytes 8-15.
    int32_t window[4];
    int32_t reserved[4];  // keeps the record a multiple of 32 bytes: see AlignedAlloc
    // The taps of each byte as a pair of window bytes (first, second), laid out as in
    // PackedYuyvBlock. A byte of weight 0 takes its first tap twice.
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

// The row bytes of the Y and of the chroma byte of column c of a packed 4:2:2 row (U at an
// even destination column, V at an odd one).
inline int32_t PackedYuyvLuma(int32_t c) { return 2 * c; }
inline int32_t PackedYuyvChroma(int32_t c, bool v) { return 4 * (c >> 1) + (v ? 3 : 1); }

// A plan of one kind for one layout, in storage of its own: aligned as AlignedAlloc aligns,
// with room for a plan of any kind of up to Room() destination pixels, and reused by every
// plan built into it. The builders set the fields; kernels read them and the blocks.
class ColumnPlan {
public:
    ColumnPlan() = default;
    ~ColumnPlan();
    ColumnPlan(const ColumnPlan&) = delete;
    ColumnPlan& operator=(const ColumnPlan&) = delete;

    // Room for `pixels` destination pixels in place of what the plan holds. False, with no
    // room left, when the storage cannot be allocated.
    bool Reserve(int32_t pixels);
    int32_t Room() const { return room; }

    PlanKind Kind() const { return kind; }
    PixelLayout Layout() const { return layout; }
    // The bytes of a work pixel the plan reads: 4, or a packed row's 3 (24-bit) or 2 (4:2:2).
    int32_t WorkPixelBytes() const {
        return kind == PlanKind::Windows ? 4 : BytesPerPixel(layout);
    }

    // The blocks; Block is the block type of the plan's kind.
    template <typename Block>
    const Block* Blocks() const {
        assert(kind == Block::kKind);
        return static_cast<const Block*>(storage);
    }

    // For the builders: makes this a plan of Block's kind for `count` pixels of `layout`,
    // the fields cleared. Its blocks, or null when the room is too small.
    template <typename Block>
    Block* Start(PixelLayout planLayout, int32_t pixels) {
        kind = Block::kKind;
        layout = planLayout;
        count = pixels;
        blockCount = vectorBlocks = laneBytes = parity = 0;
        return pixels <= room ? static_cast<Block*>(storage) : nullptr;
    }

    int32_t count = 0;       // destination pixels of the row
    int32_t blockCount = 0;  // blocks built, up to the whole row
    // The leading blocks whose stores stay inside the row: the kernels store them whole.
    // The rest go through a buffer, or (Windows) are done by walking the table.
    int32_t vectorBlocks = 0;
    int32_t laneBytes = 0;  // Rgb24Lanes: the bytes of each lane; Paired: 16
    int32_t parity = 0;     // 4:2:2 packed plans: the column parities built for

private:
    void* storage = nullptr;
    int32_t room = 0;
    PlanKind kind = PlanKind::Windows;
    PixelLayout layout = LayoutYuyv;
};

// The column table a plan is made of: `count` entries (step 4 a work pixel) over a work row
// of sourcePixels readable pixels, for a destination row of `layout`; for packed 4:2:2 rows
// also the parities of its first source and destination columns.
struct PlanSource {
    const ScaleStep* steps;
    int32_t count;
    int32_t sourcePixels;
    PixelLayout layout;
    int32_t parity;
};

// Each builder returns false, and the table walk does the row, unless every tap is a whole
// work pixel inside the row, one weight serves a pixel's lanes, each second tap is the pixel
// after its first or has weight 0, the row is long enough for the kind's windows, and the
// plan's room holds `count` pixels.

// Windows. The work row is readable one pixel past its last source pixel, so every 8-byte
// load stays inside; 4:2:2 loads at odd columns start two bytes later, and blocks whose
// loads could then leave the row are not vector blocks. Vector blocks store, 4:2:2 16 bytes
// at the block's first pixel, 24-bit a 4-byte store at each of its pixels; bytes past the
// block's pixels are rewritten by the blocks or the walk that follow.
bool BuildWindowPlan(const PlanSource& source, ColumnPlan& plan);

// Rgb24Lanes, with lanes as long as every lane of the row allows, from 16 bytes down to
// shortestLane (3, a pixel a lane, fits any shrink). Block k does destination bytes
// 2k * laneBytes on. Each lane is stored as 16 bytes at its first byte, the high lane's
// store rewriting the low lane's spare bytes. The row needs 19 bytes (a lane's two windows).
bool BuildRgb24LanesPlan(const PlanSource& source, int32_t shortestLane, ColumnPlan& plan);

// YuyvLanes for source.parity. Each lane takes as many pixels as its window holds, at least
// one (whose taps span at most 7 bytes), so the lanes follow each other without gaps; each
// is stored as 16 bytes at its first byte. The row needs 16 bytes.
bool BuildYuyvLanesPlan(const PlanSource& source, ColumnPlan& plan);

// Paired, for either layout (4:2:2 for source.parity): fits wherever each half's taps fit
// its window, 24-bit rows down to about a 75 % shrink, 4:2:2 rows to about 50 %. The row
// needs 16 bytes.
bool BuildPairedPlan(const PlanSource& source, ColumnPlan& plan);

// A kind of plan to try; for Rgb24Lanes also the shortest lanes it may take.
struct PlanShape {
    PlanKind kind;
    int32_t shortestLane;
};

// The shapes of plan to try for a layout, best first, given the kinds there are kernels for
// (bits 1 << PlanIndex(kind)).
struct PlanShapes {
    PlanShape shape[3];
    int32_t count;
};
bool operator==(const PlanShapes& a, const PlanShapes& b);
PlanShapes PreferredShapes(PixelLayout layout, uint32_t kindsWithKernels);

// Builds the first shape of `shapes` that fits the table; false when none does.
bool BuildPlan(const PlanShape& shape, const PlanSource& source, ColumnPlan& plan);
bool BuildFirstPlan(const PlanShapes& shapes, const PlanSource& source, ColumnPlan& plan);

}  // namespace kvx
