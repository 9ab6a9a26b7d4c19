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
using VerticalRowFn = void (*)(const uint8_t* rowA, const uint8_t* rowB, uint16_t weight,
                               uint8_t* work, int32_t groups);

// work points at the work pixel of the source origin, destination at the first pixel to
// write; the column table is walked from steps[0], one entry per pixel of `count`.
// Writes exactly the bytes of those `count` pixels.
using HorizontalRowFn = void (*)(const uint8_t* work, uint8_t* destination, int32_t count,
                                 const ScaleStep* steps);

// A table of row routines, so that a CPU-specific set can stand in for the portable one.
struct RowRoutines {
    VerticalRowFn verticalYuyv;
    VerticalRowFn verticalRgb24;
    HorizontalRowFn horizontalYuyvEven;  // first destination pixel at an even column
    HorizontalRowFn horizontalYuyvOdd;   // first destination pixel at an odd column
    HorizontalRowFn horizontalRgb24;
};

const RowRoutines& PortableRowRoutines();

}  // namespace kvx
