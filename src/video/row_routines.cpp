#include "video/row_routines.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kvx {

namespace {

// The two taps of one table entry along a work row, blended in all four lanes.
struct WorkWalker {
    const uint8_t* p;

    void Next(const ScaleStep& e, uint8_t q[4]) {
        p += e.advance;
        const uint8_t* b = p + e.neighbour;
        for (int lane = 0; lane < 4; ++lane) q[lane] = BlendLane(p[lane], b[lane], e.weight[lane]);
        p = b;
    }
};

void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                  int32_t groups) {
    for (int32_t g = 0; g < groups; ++g, a += 4, b += 4, work += 8) {
        uint8_t y0 = BlendLane(a[0], b[0], w);
        uint8_t u = BlendLane(a[1], b[1], w);
        uint8_t y1 = BlendLane(a[2], b[2], w);
        uint8_t v = BlendLane(a[3], b[3], w);
        // Each work pixel carries its luma twice so that either half is a whole pixel.
        work[0] = y0, work[1] = u, work[2] = y0, work[3] = v;
        work[4] = y1, work[5] = u, work[6] = y1, work[7] = v;
    }
}

void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                   int32_t groups) {
    for (int32_t g = 0; g < groups; ++g, a += 3, b += 3, work += 4) {
        work[0] = BlendLane(a[0], b[0], w);
        work[1] = BlendLane(a[1], b[1], w);
        work[2] = BlendLane(a[2], b[2], w);
        work[3] = 0;
    }
}

// Packed work rows: every byte as it lies, kGroupBytes a group (a 24-bit pixel, a 4:2:2
// pair).
template <int32_t kGroupBytes>
void VerticalPacked(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work,
                    int32_t groups) {
    for (int32_t i = 0; i < groups * kGroupBytes; ++i) work[i] = BlendLane(a[i], b[i], w);
}

// An even column takes Y U (lanes 0, 1), an odd column Y V (lanes 2, 3).
void HorizontalYuyv(const uint8_t* work, uint8_t* dst, int32_t count, const ScaleStep* steps,
                    bool oddStart) {
    WorkWalker walker{work};
    uint8_t q[4];
    if (oddStart && count > 0) {
        walker.Next(*steps++, q);
        dst[0] = q[2], dst[1] = q[3];
        dst += 2;
        --count;
    }
    for (; count >= 2; count -= 2, dst += 4) {
        walker.Next(*steps++, q);
        dst[0] = q[0], dst[1] = q[1];
        walker.Next(*steps++, q);
        dst[2] = q[2], dst[3] = q[3];
    }
    if (count == 1) {
        walker.Next(*steps, q);
        dst[0] = q[0], dst[1] = q[1];
    }
}

void HorizontalYuyvEven(const uint8_t* work, uint8_t* dst, int32_t count,
                        const ScaleStep* steps) {
    HorizontalYuyv(work, dst, count, steps, false);
}

void HorizontalYuyvOdd(const uint8_t* work, uint8_t* dst, int32_t count,
                       const ScaleStep* steps) {
    HorizontalYuyv(work, dst, count, steps, true);
}

void HorizontalRgb24(const uint8_t* work, uint8_t* dst, int32_t count, const ScaleStep* steps) {
    WorkWalker walker{work};
    uint8_t q[4];
    for (int32_t x = 0; x < count; ++x, dst += 3) {
        walker.Next(steps[x], q);
        dst[0] = q[0], dst[1] = q[1], dst[2] = q[2];
    }
}

}  // namespace

void HorizontalRgb24Packed(const uint8_t* work, uint8_t* dst, int32_t count,
                           const ScaleStep* steps) {
    const uint8_t* p = work;
    for (int32_t x = 0; x < count; ++x, dst += 3) {
        const ScaleStep& e = steps[x];
        p += e.advance / 4 * 3;
        const uint8_t* b = p + e.neighbour / 4 * 3;
        for (int lane = 0; lane < 3; ++lane) dst[lane] = BlendLane(p[lane], b[lane], e.weight[lane]);
        p = b;
    }
}

namespace {

// The row bytes of the Y and the chroma byte of a pixel whose tap is column c of a packed
// 4:2:2 row (U at an even destination column, V at an odd one).
int32_t PackedYuyvLuma(int32_t c) { return 2 * c; }
int32_t PackedYuyvChroma(int32_t c, bool v) { return 4 * (c >> 1) + (v ? 3 : 1); }

}  // namespace

void HorizontalYuyvPacked(const uint8_t* work, uint8_t* dst, int32_t count,
                          const ScaleStep* steps, int32_t parity) {
    int64_t read = 0;
    const int32_t column0 = (parity & kPackedYuyvOddSource) ? 1 : 0;
    for (int32_t x = 0; x < count; ++x, dst += 2) {
        const ScaleStep& e = steps[x];
        read += e.advance;
        const int32_t a = static_cast<int32_t>(read / 4) + column0;
        read += e.neighbour;
        const int32_t b = static_cast<int32_t>(read / 4) + column0;
        // An even column takes the weights of lanes 0-1 (Y U), an odd one those of 2-3 (Y V).
        const bool v = ((x + (parity & kPackedYuyvOddStart)) & 1) != 0;
        const uint16_t wy = e.weight[v ? 2 : 0], wc = e.weight[v ? 3 : 1];
        dst[0] = BlendLane(work[PackedYuyvLuma(a)], wy ? work[PackedYuyvLuma(b)] : 0, wy);
        dst[1] = BlendLane(work[PackedYuyvChroma(a, v)], wc ? work[PackedYuyvChroma(b, v)] : 0, wc);
    }
}

const RowRoutines& PortableRowRoutines() {
    static const RowRoutines routines = [] {
        RowRoutines r{};  // no planned routines: the table walk is the reference
        r.verticalYuyv = VerticalYuyv;
        r.verticalRgb24 = VerticalRgb24;
        r.horizontalYuyvEven = HorizontalYuyvEven;
        r.horizontalYuyvOdd = HorizontalYuyvOdd;
        r.horizontalRgb24 = HorizontalRgb24;
        r.verticalRgb24Packed = VerticalPacked<3>;
        r.verticalYuyvPacked = VerticalPacked<4>;
        return r;
    }();
    return routines;
}

namespace {

constexpr int32_t kNoTap = 0x80;  // a shuffle index that yields zero

// One weight below 4096 serves all four lanes of entry e, as the vector routines take it.
bool OneWeight(const ScaleStep& e) {
    return e.weight[1] == e.weight[0] && e.weight[2] == e.weight[0] &&
           e.weight[3] == e.weight[0] && e.weight[0] <= 4095;
}

// Taps a and b (table bytes) of entry e are whole work pixels inside a row of `limit`
// table bytes, and one weight serves all four lanes.
bool Plannable(const ScaleStep& e, int64_t a, int64_t b, int64_t limit) {
    return a >= 0 && b >= 0 && a + 4 <= limit && b + 4 <= limit && !((a | b) & 3) &&
           OneWeight(e);
}

// A plan of 8-byte windows: one window a pixel, at its first tap, which also holds its
// second (the next work pixel, or any pixel when the weight is 0); tapA holds the windows
// as 32-bit byte offsets, blocks are of eight pixels. A work row is readable one pixel past
// its last source pixel, so every 8-byte load stays inside; 4:2:2 loads at odd columns
// start two bytes later, and blocks whose loads could then leave the row are not vector
// blocks. Vector blocks store, 4:2:2 16 bytes at the block's first pixel, 24-bit a 4-byte
// store at each of its pixels.
bool BuildTapPairPlan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                      ColumnPlanBlock* blocks, ColumnPlan& plan) {
    plan = ColumnPlan{blocks, count, 0, 0, 0, 8, 4, nullptr, 0, nullptr, 0, nullptr};
    const int64_t readable = (static_cast<int64_t>(sourcePixels) + 1) * 4;
    if (count <= 0 || sourcePixels <= 0 || readable > INT32_MAX) return false;
    int64_t read = 0;
    int32_t blockCount = 0, yuyvBlocks = 0;
    bool yuyvInside = true;  // the 4:2:2 loads of every block so far stay inside the row
    for (int32_t x = 0; x < count; ++blockCount) {
        if (blockCount == ColumnPlanCapacity(count)) return false;
        ColumnPlanBlock& block = blocks[blockCount];
        block = ColumnPlanBlock{};
        block.first = x;
        block.readBefore = static_cast<int32_t>(read);
        int32_t n = 0;
        for (; n < 8 && x < count; ++n, ++x) {
            const ScaleStep& e = steps[x];
            const int64_t a = read + e.advance, b = a + e.neighbour;
            if (a < 0 || a + 8 > readable || (a & 3) || (b != a + 4 && e.weight[0] != 0) ||
                !OneWeight(e))
                return false;
            const int32_t offset = static_cast<int32_t>(a);
            std::memcpy(block.tapA + 4 * n, &offset, 4);
            block.weight[n] = e.weight[0] * 0x10001u;
            yuyvInside = yuyvInside && a + 10 <= readable;
            read = b;
        }
        block.count = n;
        if (yuyvInside && yuyvBlocks == blockCount &&
            static_cast<int64_t>(block.first) * 2 + 16 <= static_cast<int64_t>(count) * 2)
            ++yuyvBlocks;
    }
    plan.blockCount = blockCount;
    plan.vectorBlocksYuyv = yuyvBlocks;
    // The last pixel's store reaches one byte past a block of eight.
    plan.vectorBlocksRgb24 = std::max<int32_t>(0, std::min(blockCount, (count - 1) / 8));
    return true;
}

}  // namespace

bool BuildColumnPlan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                     int32_t windowBytes, ColumnPlanBlock* blocks, ColumnPlan& plan) {
    if (windowBytes == 8) return BuildTapPairPlan(steps, count, sourcePixels, blocks, plan);
    plan = ColumnPlan{blocks, count, 0, 0, 0, windowBytes, 4, nullptr, 0, nullptr, 0, nullptr};
    return false;  // no routine takes plans of other windows
}

namespace {

constexpr int32_t kLaneBytes = 16;              // a lane's window and its store
constexpr int32_t kLaneReach = kLaneBytes + 3;  // the two windows of a lane

// The first taps of a packed row's pixels, in order: byte offset and weight of each.
struct PackedTapWalk {
    const ScaleStep* steps;
    int64_t read = 0;
    int32_t next = 0;  // the pixel whose taps Next gives
    int32_t tap = 0;
    int32_t column = 0;  // the work pixel of the first tap
    uint16_t weight = 0;

    void Next() {
        const ScaleStep& e = steps[next++];
        const int64_t a = read + e.advance;
        tap = static_cast<int32_t>(a / 4 * 3);
        column = static_cast<int32_t>(a / 4);
        weight = e.weight[0];
        read = a + e.neighbour;
    }
};

// Every pixel's taps are whole work pixels inside the row, one weight serves its lanes and
// its second tap is the pixel after its first, unless its weight is 0.
bool PackedTapsPlannable(const ScaleStep* steps, int32_t count, int64_t limit) {
    int64_t read = 0;
    for (int32_t x = 0; x < count; ++x) {
        const ScaleStep& e = steps[x];
        const int64_t a = read + e.advance, b = a + e.neighbour;
        if (!Plannable(e, a, b, limit) || (e.weight[0] != 0 && b != a + 4)) return false;
        read = b;
    }
    return true;
}

// The leading blocks of a packed plan whose stores stay inside a row of totalBytes: a
// block's stores end 16 bytes past its high lane's first byte.
int32_t PackedVectorBlocks(int32_t blockCount, int32_t laneBytes, int32_t totalBytes) {
    int32_t k = 0;
    while (k < blockCount && (2 * k + 1) * laneBytes + kLaneBytes <= totalBytes) ++k;
    return k;
}

// Fills the blocks for lanes of laneBytes; false when a lane's first taps do not fit its
// window.
bool FillPackedBlocks(const ScaleStep* steps, int32_t count, int32_t rowBytes, int32_t laneBytes,
                      PackedRgb24Block* blocks, ColumnPlan& plan) {
    const int32_t totalBytes = 3 * count;
    const int32_t blockCount = (totalBytes + 2 * laneBytes - 1) / (2 * laneBytes);
    if (blockCount > ColumnPlanCapacity(count)) return false;
    PackedTapWalk walk{steps};
    for (int32_t k = 0; k < blockCount; ++k) {
        PackedRgb24Block& block = blocks[k];
        block = PackedRgb24Block{};
        for (int32_t lane = 0; lane < 2; ++lane) {
            const int32_t first = (2 * k + lane) * laneBytes;
            const int32_t n = std::max(0, std::min(laneBytes, totalBytes - first));
            int32_t taps[kLaneBytes];
            uint16_t weights[kLaneBytes];
            int32_t low = INT32_MAX;
            for (int32_t i = 0; i < n; ++i) {
                const int32_t pixel = (first + i) / 3;
                if (walk.next <= pixel) walk.Next();
                taps[i] = walk.tap + (first + i) % 3;
                weights[i] = walk.weight;
                low = std::min(low, taps[i]);
            }
            // Both windows stay inside the row: near its end they start earlier.
            const int32_t window = std::min(low, rowBytes - kLaneReach);
            block.window[lane] = n ? window : block.window[0];
            for (int32_t i = 0; i < n; ++i) {
                int32_t at = taps[i] - window;
                int32_t weight = weights[i];
                if (at >= kLaneBytes && weight == 0 && at - 3 < kLaneBytes)
                    at -= 3, weight = 4096;  // the second window's byte as it is
                if (at >= kLaneBytes) return false;
                block.tap[kLaneBytes * lane + i] = static_cast<uint8_t>(at);
                block.weight[PackedWeightSlot(lane, i)] = static_cast<int16_t>(weight);
            }
        }
    }
    plan.blockCount = blockCount;
    plan.laneBytes = laneBytes;
    plan.vectorBlocksRgb24 = PackedVectorBlocks(blockCount, laneBytes, totalBytes);
    return true;
}

constexpr int32_t kPairedBlockBytes = 32;  // destination bytes of a paired block
constexpr int32_t kPairedHalfBytes = 8;    // destination bytes of a window

// The row bytes a destination byte blends, and its weight.
struct ByteTaps {
    int32_t first, second;  // second is first when the weight is 0
    uint16_t weight;
};

// Fills a plan of paired blocks for `count` destination pixels of pixelBytes over a packed
// row of rowBytes, taking the taps of byte j from tapsOf(j), j rising; false when the blocks
// do not fit the room of ColumnPlanCapacity(count) blocks of the plans of lanes (all of one
// size) or a half's taps do not fit its window.
template <typename TapsOf>
bool FillPairedBlocks(int32_t count, int32_t pixelBytes, int32_t rowBytes, TapsOf tapsOf,
                      PairedBlock* blocks, ColumnPlan& plan) {
    const int64_t totalBytes = static_cast<int64_t>(count) * pixelBytes;
    const int64_t blockCount = (totalBytes + kPairedBlockBytes - 1) / kPairedBlockBytes;
    const int64_t room = static_cast<int64_t>(ColumnPlanCapacity(count)) * sizeof(ColumnPlanBlock);
    if (rowBytes < kLaneBytes || blockCount * static_cast<int64_t>(sizeof(PairedBlock)) > room)
        return false;
    for (int32_t k = 0; k < blockCount; ++k) {
        PairedBlock& block = blocks[k];
        block = PairedBlock{};
        std::memset(block.pairs, kNoTap, sizeof block.pairs);  // bytes past the row: zero
        // The halves in the order of their bytes: low lane 0-7, 8-15, then the high lane.
        for (int32_t lane = 0; lane < 2; ++lane) {
            for (int32_t half = 0; half < 2; ++half) {
                const int64_t first = int64_t{kPairedBlockBytes} * k + 16 * lane + kPairedHalfBytes * half;
                const int32_t n = static_cast<int32_t>(
                    std::max<int64_t>(0, std::min<int64_t>(kPairedHalfBytes, totalBytes - first)));
                ByteTaps taps[kPairedHalfBytes];
                int32_t low = rowBytes - kLaneBytes;  // the window stays inside the row
                for (int32_t i = 0; i < n; ++i) {
                    taps[i] = tapsOf(first + i);
                    low = std::min(low, taps[i].first);
                }
                const int32_t slot = 2 * half + lane;
                block.window[slot] = low;
                for (int32_t i = 0; i < n; ++i) {
                    if (taps[i].second - low >= kLaneBytes) return false;
                    block.pairs[16 * slot + 2 * i] = static_cast<uint8_t>(taps[i].first - low);
                    block.pairs[16 * slot + 2 * i + 1] = static_cast<uint8_t>(taps[i].second - low);
                    block.weight[PackedWeightSlot(lane, kPairedHalfBytes * half + i)] =
                        static_cast<int16_t>(taps[i].weight);
                }
            }
        }
    }
    plan.blockCount = static_cast<int32_t>(blockCount);
    plan.laneBytes = kLaneBytes;
    // The routine of either layout reads its own count of blocks stored whole.
    plan.vectorBlocksRgb24 = plan.vectorBlocksYuyv = static_cast<int32_t>(totalBytes / kPairedBlockBytes);
    plan.pairedBlocks = blocks;
    plan.packedBlocks = nullptr;
    plan.packedYuyvBlocks = nullptr;
    return true;
}

}  // namespace

bool BuildPackedRgb24Plan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                          PackedRgb24Block* blocks, ColumnPlan& plan, bool paired) {
    plan = ColumnPlan{};
    plan.count = count;
    plan.windowBytes = kPackedRgb24PlanWindowBytes;
    plan.workPixelBytes = 3;
    plan.packedBlocks = blocks;
    const int64_t limit = static_cast<int64_t>(sourcePixels) * 4;  // in table bytes
    const int64_t rowBytes = static_cast<int64_t>(sourcePixels) * 3;
    if (count <= 0 || count > INT32_MAX / 3 || rowBytes < kLaneReach || limit > INT32_MAX ||
        !PackedTapsPlannable(steps, count, limit))
        return false;
    PackedTapWalk walk{steps};
    const auto tapsOf = [&walk](int64_t j) {
        const int32_t pixel = static_cast<int32_t>(j / 3);
        if (walk.next <= pixel) walk.Next();
        const int32_t first = walk.tap + static_cast<int32_t>(j % 3);
        return ByteTaps{first, first + (walk.weight ? 3 : 0), walk.weight};
    };
    // The longest lanes every lane of the row allows; where lanes of 16 bytes do not fit,
    // paired blocks, which take 16 bytes a lane in one store, before shorter lanes. Lanes of
    // 3 bytes are whole pixels, whose three taps always fit a window: the last one that must
    // hold its pixel's second taps too ends 3 bytes before the row's end.
    for (int32_t laneBytes = kLaneBytes; laneBytes >= 3; --laneBytes) {
        if (FillPackedBlocks(steps, count, static_cast<int32_t>(rowBytes), laneBytes, blocks, plan))
            return true;
        if (paired && laneBytes == kLaneBytes &&
            FillPairedBlocks(count, 3, static_cast<int32_t>(rowBytes), tapsOf,
                             reinterpret_cast<PairedBlock*>(blocks), plan))
            return true;
    }
    return false;
}

namespace {

// The taps of one pixel of a packed 4:2:2 row: the row bytes of its Y and chroma byte's
// first and second taps (a second tap of weight 0 is not read: the first stands in).
struct PackedYuyvTaps {
    int32_t first[2], second[2];
    int32_t low, high;  // the bytes they span
    uint16_t weight;
};

// The taps of pixel x: the walk moves on to x when it is not there yet.
PackedYuyvTaps PackedYuyvPixel(PackedTapWalk& walk, int32_t x, int32_t parity) {
    if (walk.next <= x) walk.Next();
    const int32_t c = walk.column + ((parity & kPackedYuyvOddSource) ? 1 : 0);
    const bool v = ((x + (parity & kPackedYuyvOddStart)) & 1) != 0;
    PackedYuyvTaps t;
    t.weight = walk.weight;
    t.first[0] = PackedYuyvLuma(c);
    t.first[1] = PackedYuyvChroma(c, v);
    t.second[0] = t.weight ? PackedYuyvLuma(c + 1) : t.first[0];
    t.second[1] = t.weight ? PackedYuyvChroma(c + 1, v) : t.first[1];
    t.low = std::min(t.first[0], t.first[1]);
    t.high = std::max(t.second[0], t.second[1]);
    return t;
}

}  // namespace

bool BuildPackedYuyvPlan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                         int32_t parity, PackedYuyvBlock* blocks, ColumnPlan& plan, bool paired) {
    plan = ColumnPlan{};
    plan.count = count;
    plan.windowBytes = kPackedYuyvPlanWindowBytes;
    plan.workPixelBytes = 2;
    plan.packedYuyvBlocks = blocks;
    plan.parity = parity;
    const int64_t limit = static_cast<int64_t>(sourcePixels) * 4;  // in table bytes
    const int64_t rowBytes = PackedYuyvRowBytes(sourcePixels, parity & kPackedYuyvOddSource);
    // The row's bytes and a store past its last lane stay within int32.
    if (count <= 0 || count > INT32_MAX / 2 - kLaneBytes || rowBytes < kLaneBytes ||
        limit > INT32_MAX ||
        !PackedTapsPlannable(steps, count, limit))
        return false;
    if (paired) {
        PackedTapWalk walk{steps};
        const auto tapsOf = [&walk, parity](int64_t j) {
            const PackedYuyvTaps t = PackedYuyvPixel(walk, static_cast<int32_t>(j / 2), parity);
            return ByteTaps{t.first[j & 1], t.second[j & 1], t.weight};
        };
        if (FillPairedBlocks(count, 2, static_cast<int32_t>(rowBytes), tapsOf,
                             reinterpret_cast<PairedBlock*>(blocks), plan))
            return true;
    }
    // A window ends inside the row: near its end it starts earlier.
    const int32_t lastWindow = static_cast<int32_t>(rowBytes) - kLaneBytes;
    PackedTapWalk walk{steps};
    int32_t lanes = 0;
    for (int32_t x = 0; x < count; ++lanes) {
        PackedYuyvBlock& block = blocks[lanes / 2];
        const int32_t lane = lanes % 2;
        if (lane == 0) {
            block = PackedYuyvBlock{};
            std::fill(block.pairs, block.pairs + sizeof block.pairs, static_cast<uint8_t>(kNoTap));
        }
        PackedYuyvTaps taps[kLaneBytes / 2];
        int32_t n = 0, low = INT32_MAX, high = INT32_MIN;
        for (; n < kLaneBytes / 2 && x + n < count; ++n) {
            const PackedYuyvTaps t = PackedYuyvPixel(walk, x + n, parity);
            const int32_t spanLow = std::min(low, t.low), spanHigh = std::max(high, t.high);
            if (n > 0 && spanHigh - std::min(spanLow, lastWindow) >= kLaneBytes) break;
            low = spanLow, high = spanHigh;
            taps[n] = t;
        }
        const int32_t window = std::min(low, lastWindow);
        block.window[lane] = window;
        block.start[lane] = 2 * x;
        for (int32_t i = 0; i < 2 * n; ++i) {
            const int32_t slot = (i & 8) * 4 + lane * 16 + (i & 7) * 2;
            block.pairs[slot] = static_cast<uint8_t>(taps[i / 2].first[i & 1] - window);
            block.pairs[slot + 1] = static_cast<uint8_t>(taps[i / 2].second[i & 1] - window);
        }
        for (int32_t i = 0; i < n; ++i) block.weight[8 * lane + i] = static_cast<int16_t>(taps[i].weight);
        x += n;
    }
    // An odd number of lanes leaves the last block's high lane empty, at the row's end.
    if (lanes % 2) {
        PackedYuyvBlock& last = blocks[lanes / 2];
        last.window[1] = last.window[0];
        last.start[1] = 2 * count;
    }
    plan.blockCount = (lanes + 1) / 2;
    int32_t k = 0;
    while (k < plan.blockCount && blocks[k].start[1] + kLaneBytes <= 2 * count) ++k;
    plan.vectorBlocksYuyv = k;
    return true;
}

}  // namespace kvx
