#include "video/row_routines.h"

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

}  // namespace kvx
