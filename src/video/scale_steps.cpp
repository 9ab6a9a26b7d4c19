#include "video/scale_steps.h"

namespace kvx {

namespace {

// floor(a * b * 65536 / c) for 0 <= a, b < 2^31 and 0 < c < 2^31, exact in 64 bits:
// a * b fits, and the remainder times 65536 fits, so no 128-bit product is needed.
int64_t MulShift16Div(int64_t a, int64_t b, int64_t c) {
    uint64_t product = static_cast<uint64_t>(a) * static_cast<uint64_t>(b);
    uint64_t d = static_cast<uint64_t>(c);
    return static_cast<int64_t>((product / d) * 65536 + (product % d) * 65536 / d);
}

}  // namespace

// For lengths below 65536 this is the plain 32-bit fixed-point formula; the exact 64-bit
// form extends the same mapping, unchanged, to any int32 length, so absurd zoom factors
// produce a defined picture instead of an overflowed one.
void BuildScaleSteps(int32_t sourceLength, int32_t destinationLength, int32_t first,
                     int32_t count, int32_t step, ScaleStep* table) {
    if (sourceLength < 1 || destinationLength < 1 || first < 0 || count < 0 ||
        count > destinationLength - first)
        return;
    int64_t s = sourceLength;
    int64_t d = destinationLength;
    int64_t ratio = MulShift16Div(s, 1, d);
    int64_t phase = ratio / 2 - 32768;
    if (s < d) {
        // Enlarging is end-aligned: element 0 on source 0, element D-1 on source S-1.
        s -= 1;
        d -= 1;
        phase = 0;
    }
    int64_t prev = 0;
    for (int32_t k = 0; k < count; ++k) {
        int64_t j = static_cast<int64_t>(first) + k;
        int64_t pos = MulShift16Div(j, s, d) + phase;
        int64_t i = pos >> 16;
        uint16_t f = static_cast<uint16_t>((pos & 0xFFFF) >> 4);
        ScaleStep& e = table[k];
        e.advance = static_cast<int32_t>((i - prev) * step);
        e.neighbour = f != 0 ? step : 0;
        for (uint16_t& w : e.weight) w = f;
        prev = f != 0 ? i + 1 : i;
    }
}

}  // namespace kvx
