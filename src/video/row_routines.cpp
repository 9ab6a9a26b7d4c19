#include "video/row_routines.h"

#include <algorithm>
#include <climits>

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

const RowRoutines& PortableRowRoutines() {
    static const RowRoutines routines = [] {
        RowRoutines r{};  // no planned routines: the table walk is the reference
        r.verticalYuyv = VerticalYuyv;
        r.verticalRgb24 = VerticalRgb24;
        r.horizontalYuyvEven = HorizontalYuyvEven;
        r.horizontalYuyvOdd = HorizontalYuyvOdd;
        r.horizontalRgb24 = HorizontalRgb24;
        return r;
    }();
    return routines;
}

namespace {

constexpr int32_t kNoTap = 0x80;  // a shuffle index that yields zero

// The taps of a block so far, in bytes; a tap is taken when the whole span of them still
// fits one window.
struct Span {
    int32_t low, high;
    bool Takes(int32_t tap, int32_t windowBytes) const {
        return std::max(high, tap) - std::min(low, tap) <= windowBytes - 4;
    }
    void Add(int32_t tap) { low = std::min(low, tap), high = std::max(high, tap); }
};

// Pixel i's tap, (taps[i] - window) bytes into the window: the bytes of its four lanes for
// 16-byte windows, its work pixel as a little-endian 32-bit word for 32-byte windows.
void SetTaps(uint8_t out[32], const int32_t* taps, int32_t n, int32_t window, int32_t windowBytes) {
    std::fill(out, out + 32, static_cast<uint8_t>(kNoTap));
    for (int32_t i = 0; i < n; ++i) {
        const int32_t byte = taps[i] - window;
        for (int32_t j = 0; j < 4; ++j)
            out[4 * i + j] = static_cast<uint8_t>(windowBytes == 16 ? byte + j : j ? 0 : byte / 4);
    }
}

}  // namespace

bool BuildColumnPlan(const ScaleStep* steps, int32_t count, int32_t sourcePixels,
                     int32_t windowBytes, ColumnPlanBlock* blocks, ColumnPlan& plan) {
    plan = ColumnPlan{blocks, count, 0, 0, 0, windowBytes, 0};
    const int64_t limit = static_cast<int64_t>(sourcePixels) * 4;
    if ((windowBytes != 16 && windowBytes != 32) || count <= 0 || limit < windowBytes ||
        limit > INT32_MAX)
        return false;
    const int32_t blockPixels = windowBytes / 4;
    const int32_t capacity = ColumnPlanCapacity(count);
    int64_t read = 0;
    int32_t blockCount = 0;
    bool neighbourRun = true;  // every block so far has its window one pixel on in the row
    for (int32_t x = 0; x < count;) {
        if (blockCount == capacity) return false;
        ColumnPlanBlock& block = blocks[blockCount++];
        block = ColumnPlanBlock{};
        block.first = x;
        block.readBefore = static_cast<int32_t>(read);
        int32_t tapA[8], tapB[8];
        Span spanA{INT32_MAX, INT32_MIN}, spanB{INT32_MAX, INT32_MIN};
        int32_t n = 0;
        for (; n < blockPixels && x < count; ++n, ++x) {
            const ScaleStep& e = steps[x];
            const int64_t a = read + e.advance, b = a + e.neighbour;
            // Whole work pixels inside the readable row, one weight for all four lanes.
            if (a < 0 || b < 0 || a + 4 > limit || b + 4 > limit || (a | b) & 3 ||
                e.weight[1] != e.weight[0] || e.weight[2] != e.weight[0] ||
                e.weight[3] != e.weight[0] || e.weight[0] > 4095)
                return false;
            if (n > 0 && !(spanA.Takes(static_cast<int32_t>(a), windowBytes) &&
                           spanB.Takes(static_cast<int32_t>(b), windowBytes)))
                break;
            spanA.Add(static_cast<int32_t>(a));
            spanB.Add(static_cast<int32_t>(b));
            tapA[n] = static_cast<int32_t>(a);
            tapB[n] = static_cast<int32_t>(b);
            block.weight[n] = e.weight[0] * 0x10001u;
            read = b;
        }
        // A window that would run past the row ends at the row's end instead.
        const int32_t lastWindow = static_cast<int32_t>(limit) - windowBytes;
        block.windowA = std::min(spanA.low, lastWindow);
        block.windowB = std::min(spanB.low, lastWindow);
        block.count = n;
        neighbourRun = neighbourRun && block.windowA + 4 + windowBytes <= limit;
        plan.neighbourBlocks += neighbourRun;
        SetTaps(block.tapA, tapA, n, block.windowA, windowBytes);
        SetTaps(block.tapB, tapB, n, block.windowB, windowBytes);
    }
    plan.blockCount = blockCount;
    // How far past a block's first pixel its stores reach (see the header).
    const int32_t storeEndYuyv = windowBytes == 32 ? 16 : 8;
    const int32_t storeEndRgb24 = windowBytes == 32 ? 28 : 16;
    auto vectorBlocks = [&](int32_t pixelBytes, int32_t storeEnd) {
        int32_t k = 0;
        while (k < blockCount && static_cast<int64_t>(blocks[k].first) * pixelBytes + storeEnd <=
                                     static_cast<int64_t>(count) * pixelBytes)
            ++k;
        return k;
    };
    plan.vectorBlocksYuyv = vectorBlocks(2, storeEndYuyv);
    plan.vectorBlocksRgb24 = vectorBlocks(3, storeEndRgb24);
    return true;
}

}  // namespace kvx
