#include "video/column_plan.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "video/aligned_buffer.h"

namespace kvx {

namespace {

constexpr int32_t kNoTap = 0x80;  // a shuffle index that yields zero
constexpr int32_t kLaneBytes = 16;              // a lane's window and its store
constexpr int32_t kLaneReach = kLaneBytes + 3;  // the two windows of a 24-bit lane
constexpr int32_t kWindowPixels = 8;            // pixels of a WindowBlock
constexpr int32_t kPairedBlockBytes = 32;       // destination bytes of a paired block
constexpr int32_t kPairedHalfBytes = 8;         // destination bytes of a window

// The most blocks a plan of `kind` takes for `pixels` destination pixels: lanes hold a
// pixel at least, and paired blocks 32 bytes of 24-bit pixels, the larger layout.
int64_t MostBlocks(PlanKind kind, int64_t pixels) {
    switch (kind) {
    case PlanKind::Windows: return (pixels + kWindowPixels - 1) / kWindowPixels;
    case PlanKind::Rgb24Lanes:
    case PlanKind::YuyvLanes: return (pixels + 1) / 2;
    case PlanKind::Paired: return (3 * pixels + kPairedBlockBytes - 1) / kPairedBlockBytes;
    }
    return 0;
}

int64_t StorageBytes(int64_t pixels) {
    return std::max({MostBlocks(PlanKind::Windows, pixels) * int64_t{sizeof(WindowBlock)},
                     MostBlocks(PlanKind::Rgb24Lanes, pixels) * int64_t{sizeof(PackedRgb24Block)},
                     MostBlocks(PlanKind::YuyvLanes, pixels) * int64_t{sizeof(PackedYuyvBlock)},
                     MostBlocks(PlanKind::Paired, pixels) * int64_t{sizeof(PairedBlock)}});
}

// One weight below 4096 serves all four lanes of entry e, as the vector routines take it.
bool OneWeight(const ScaleStep& e) {
    return e.weight[1] == e.weight[0] && e.weight[2] == e.weight[0] &&
           e.weight[3] == e.weight[0] && e.weight[0] <= 4095;
}

}  // namespace

ColumnPlan::~ColumnPlan() { AlignedFree(storage); }

bool ColumnPlan::Reserve(int32_t pixels) {
    AlignedFree(storage);
    storage = nullptr;
    room = 0;
    const int64_t bytes = StorageBytes(std::max(pixels, 0));
    if (pixels <= 0 || static_cast<uint64_t>(bytes) > SIZE_MAX) return false;
    storage = AlignedAlloc(static_cast<size_t>(bytes));
    if (!storage) return false;
    room = pixels;
    return true;
}

bool BuildWindowPlan(const PlanSource& s, ColumnPlan& plan) {
    WindowBlock* const blocks = plan.Start<WindowBlock>(s.layout, s.count);
    const int64_t readable = (static_cast<int64_t>(s.sourcePixels) + 1) * 4;
    if (!blocks || s.count <= 0 || s.sourcePixels <= 0 || readable > INT32_MAX) return false;
    int64_t read = 0;
    int32_t blockCount = 0, yuyvBlocks = 0;
    bool yuyvInside = true;  // the 4:2:2 loads of every block so far stay inside the row
    for (int32_t x = 0; x < s.count; ++blockCount) {
        WindowBlock& block = blocks[blockCount];
        block = WindowBlock{};
        block.first = x;
        block.readBefore = static_cast<int32_t>(read);
        int32_t n = 0;
        for (; n < kWindowPixels && x < s.count; ++n, ++x) {
            const ScaleStep& e = s.steps[x];
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
            static_cast<int64_t>(block.first) * 2 + 16 <= static_cast<int64_t>(s.count) * 2)
            ++yuyvBlocks;
    }
    plan.blockCount = blockCount;
    // A 24-bit pixel's 4-byte store reaches one byte past it: past a block of eight.
    plan.vectorBlocks = s.layout == LayoutYuyv
                            ? yuyvBlocks
                            : std::max<int32_t>(0, std::min(blockCount, (s.count - 1) / 8));
    return true;
}

namespace {

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

// Every pixel's taps are whole work pixels inside a row of sourcePixels, one weight serves
// its lanes and its second tap is the pixel after its first, unless its weight is 0.
bool PackedTapsPlannable(const PlanSource& s) {
    const int64_t limit = static_cast<int64_t>(s.sourcePixels) * 4;  // in table bytes
    if (s.count <= 0 || limit > INT32_MAX) return false;
    int64_t read = 0;
    for (int32_t x = 0; x < s.count; ++x) {
        const ScaleStep& e = s.steps[x];
        const int64_t a = read + e.advance, b = a + e.neighbour;
        if (a < 0 || b < 0 || a + 4 > limit || b + 4 > limit || ((a | b) & 3) || !OneWeight(e) ||
            (e.weight[0] != 0 && b != a + 4))
            return false;
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
bool FillRgb24Lanes(const ScaleStep* steps, int32_t count, int32_t rowBytes, int32_t laneBytes,
                    PackedRgb24Block* blocks, ColumnPlan& plan) {
    const int32_t totalBytes = 3 * count;
    const int32_t blockCount = (totalBytes + 2 * laneBytes - 1) / (2 * laneBytes);
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
    plan.vectorBlocks = PackedVectorBlocks(blockCount, laneBytes, totalBytes);
    return true;
}

}  // namespace

bool BuildRgb24LanesPlan(const PlanSource& s, int32_t shortestLane, ColumnPlan& plan) {
    PackedRgb24Block* const blocks = plan.Start<PackedRgb24Block>(LayoutRgb24, s.count);
    const int64_t rowBytes = static_cast<int64_t>(s.sourcePixels) * 3;
    if (!blocks || s.count > INT32_MAX / 3 || rowBytes < kLaneReach || !PackedTapsPlannable(s))
        return false;
    // Lanes of 3 bytes are whole pixels, whose three taps always fit a window: the last one
    // that must hold its pixel's second taps too ends 3 bytes before the row's end.
    for (int32_t laneBytes = kLaneBytes; laneBytes >= std::max(shortestLane, 3); --laneBytes)
        if (FillRgb24Lanes(s.steps, s.count, static_cast<int32_t>(rowBytes), laneBytes, blocks, plan))
            return true;
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

// The bytes of a packed row of the source's layout and parities.
int64_t PackedRowBytes(const PlanSource& s) {
    return s.layout == LayoutYuyv ? PackedYuyvRowBytes(s.sourcePixels, s.parity & kPackedYuyvOddSource)
                                  : static_cast<int64_t>(s.sourcePixels) * 3;
}

// The row's bytes and a store past its last lane stay within int32.
bool PackedRowFits(const PlanSource& s, int64_t rowBytes) {
    const int32_t pixelBytes = BytesPerPixel(s.layout);
    return s.count <= (INT32_MAX - kPairedBlockBytes) / pixelBytes && rowBytes >= kLaneBytes &&
           PackedTapsPlannable(s);
}

// Fills one lane of a YuyvLanes block with the pixels from x on that its window holds;
// returns how many.
int32_t FillYuyvLane(PackedTapWalk& walk, int32_t x, int32_t count, int32_t parity,
                     int32_t lastWindow, int32_t lane, PackedYuyvBlock& block) {
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
    return n;
}

}  // namespace

bool BuildYuyvLanesPlan(const PlanSource& s, ColumnPlan& plan) {
    PackedYuyvBlock* const blocks = plan.Start<PackedYuyvBlock>(LayoutYuyv, s.count);
    const int64_t rowBytes = PackedRowBytes(s);
    if (!blocks || !PackedRowFits(s, rowBytes)) return false;
    plan.parity = s.parity;
    // A window ends inside the row: near its end it starts earlier.
    const int32_t lastWindow = static_cast<int32_t>(rowBytes) - kLaneBytes;
    PackedTapWalk walk{s.steps};
    int32_t lanes = 0;
    for (int32_t x = 0; x < s.count; ++lanes) {
        PackedYuyvBlock& block = blocks[lanes / 2];
        const int32_t lane = lanes % 2;
        if (lane == 0) {
            block = PackedYuyvBlock{};
            std::fill(block.pairs, block.pairs + sizeof block.pairs, static_cast<uint8_t>(kNoTap));
        }
        x += FillYuyvLane(walk, x, s.count, s.parity, lastWindow, lane, block);
    }
    // An odd number of lanes leaves the last block's high lane empty, at the row's end.
    if (lanes % 2) {
        PackedYuyvBlock& last = blocks[lanes / 2];
        last.window[1] = last.window[0];
        last.start[1] = 2 * s.count;
    }
    plan.blockCount = (lanes + 1) / 2;
    int32_t k = 0;
    while (k < plan.blockCount && blocks[k].start[1] + kLaneBytes <= 2 * s.count) ++k;
    plan.vectorBlocks = k;
    return true;
}

namespace {

// The row bytes a destination byte blends, and its weight.
struct ByteTaps {
    int32_t first, second;  // second is first when the weight is 0
    uint16_t weight;
};

// Fills the paired blocks of a row of totalBytes destination bytes over a packed row of
// rowBytes, taking the taps of byte j from tapsOf(j), j rising; false when a half's taps do
// not fit its window.
template <typename TapsOf>
bool FillPairedBlocks(int64_t totalBytes, int32_t rowBytes, TapsOf tapsOf, PairedBlock* blocks) {
    const int64_t blockCount = (totalBytes + kPairedBlockBytes - 1) / kPairedBlockBytes;
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
    return true;
}

}  // namespace

bool BuildPairedPlan(const PlanSource& s, ColumnPlan& plan) {
    PairedBlock* const blocks = plan.Start<PairedBlock>(s.layout, s.count);
    const int64_t rowBytes = PackedRowBytes(s);
    if (!blocks || !PackedRowFits(s, rowBytes)) return false;
    const int64_t totalBytes = static_cast<int64_t>(s.count) * BytesPerPixel(s.layout);
    PackedTapWalk walk{s.steps};
    bool filled;
    if (s.layout == LayoutYuyv) {
        const int32_t parity = s.parity;
        filled = FillPairedBlocks(totalBytes, static_cast<int32_t>(rowBytes), [&walk, parity](int64_t j) {
            const PackedYuyvTaps t = PackedYuyvPixel(walk, static_cast<int32_t>(j / 2), parity);
            return ByteTaps{t.first[j & 1], t.second[j & 1], t.weight};
        }, blocks);
        plan.parity = parity;
    } else {
        filled = FillPairedBlocks(totalBytes, static_cast<int32_t>(rowBytes), [&walk](int64_t j) {
            const int32_t pixel = static_cast<int32_t>(j / 3);
            if (walk.next <= pixel) walk.Next();
            const int32_t first = walk.tap + static_cast<int32_t>(j % 3);
            return ByteTaps{first, first + (walk.weight ? 3 : 0), walk.weight};
        }, blocks);
    }
    if (!filled) return false;
    plan.blockCount = static_cast<int32_t>((totalBytes + kPairedBlockBytes - 1) / kPairedBlockBytes);
    plan.laneBytes = kLaneBytes;
    plan.vectorBlocks = static_cast<int32_t>(totalBytes / kPairedBlockBytes);
    return true;
}

bool operator==(const PlanShapes& a, const PlanShapes& b) {
    if (a.count != b.count) return false;
    for (int32_t i = 0; i < a.count; ++i)
        if (a.shape[i].kind != b.shape[i].kind || a.shape[i].shortestLane != b.shape[i].shortestLane)
            return false;
    return true;
}

// Packed work rows, where there are kernels for them, take the place of 4-byte work pixels:
// pass 1 then only blends bytes as they lie, and pass 2 writes fewer bytes than it would
// gather. Among packed plans, paired blocks keep lanes of 16 bytes at shrinks where plans of
// lanes have shorter lanes, whose overlapping stores cost a 90 % shrink about half as much
// time again a byte. A 24-bit zoom keeps its lanes of 16 bytes, which are as fast and whose
// blocks are smaller; a 4:2:2 zoom has lanes of 12 to 16 bytes and takes paired blocks.
PlanShapes PreferredShapes(PixelLayout layout, uint32_t kindsWithKernels) {
    auto has = [kindsWithKernels](PlanKind kind) { return (kindsWithKernels >> PlanIndex(kind)) & 1; };
    const PlanKind lanes = layout == LayoutYuyv ? PlanKind::YuyvLanes : PlanKind::Rgb24Lanes;
    PlanShapes shapes{};
    auto add = [&shapes](PlanKind kind, int32_t shortestLane) {
        shapes.shape[shapes.count++] = PlanShape{kind, shortestLane};
    };
    if (has(lanes)) {
        if (layout == LayoutRgb24 && has(PlanKind::Paired)) add(lanes, kLaneBytes);
        if (has(PlanKind::Paired)) add(PlanKind::Paired, 0);
        add(lanes, 3);
    } else if (has(PlanKind::Windows)) {
        add(PlanKind::Windows, 0);
    }
    return shapes;
}

bool BuildPlan(const PlanShape& shape, const PlanSource& source, ColumnPlan& plan) {
    switch (shape.kind) {
    case PlanKind::Windows: return BuildWindowPlan(source, plan);
    case PlanKind::Rgb24Lanes: return BuildRgb24LanesPlan(source, shape.shortestLane, plan);
    case PlanKind::YuyvLanes: return BuildYuyvLanesPlan(source, plan);
    case PlanKind::Paired: return BuildPairedPlan(source, plan);
    }
    return false;
}

bool BuildFirstPlan(const PlanShapes& shapes, const PlanSource& source, ColumnPlan& plan) {
    for (int32_t i = 0; i < shapes.count; ++i)
        if (BuildPlan(shapes.shape[i], source, plan)) return true;
    return false;
}

}  // namespace kvx
