// The pixel kernels of the scaler: a vertical routine blends two frame rows into a row of
// 4-byte work pixels, a horizontal routine resamples a work row into a row of the frame.
// The portable versions here are the reference every faster version must match bit for bit.
#pragma once
#include <cstdint>

#include "video/column_plan.h"
#include "video/pixel_format.h"
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

// The table walk along a packed 24-bit row: the reference of the planned routines over
// packed 24-bit rows. Reads exactly the three bytes of each tap.
void HorizontalRgb24Packed(const uint8_t* work, uint8_t* destination, int32_t count,
                           const ScaleStep* steps);

// The table walk along a packed 4:2:2 row from its start (an even frame column), for the
// column parities `parity` (see ColumnPlan): the reference of the planned routines over
// packed 4:2:2 rows. Reads only the taps of nonzero weight besides the first taps.
void HorizontalYuyvPacked(const uint8_t* work, uint8_t* destination, int32_t count,
                          const ScaleStep* steps, int32_t parity);

// Does a row from a plan of the kind the routine is for: its blocks, and the rest by the
// table walk or through a buffer. oddStart is the parity of the first destination column
// (4:2:2 plans of windows only: packed plans hold their parities).
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

// Index of a layout in the tables of planned routines.
constexpr int32_t kLayoutCount = 2;
inline int32_t LayoutIndex(PixelLayout layout) { return layout == LayoutYuyv ? 0 : 1; }

// A table of row routines, so that a CPU-specific set can stand in for the portable one.
// Kernels only: what a level can do follows from which of them it has.
struct RowRoutines {
    VerticalRowFn verticalYuyv;
    VerticalRowFn verticalRgb24;
    // Into packed work rows: the frame bytes blended as they lie.
    VerticalRowFn verticalYuyvPacked;
    VerticalRowFn verticalRgb24Packed;
    HorizontalRowFn horizontalYuyvEven;  // first destination pixel at an even column
    HorizontalRowFn horizontalYuyvOdd;   // first destination pixel at an odd column
    HorizontalRowFn horizontalRgb24;
    // Plan-driven horizontal routines by layout and kind of plan, one row and two rows at a
    // time; null where the level has none.
    PlannedRowFn planned[kLayoutCount][kPlanKindCount];
    PlannedRowPairFn plannedPair[kLayoutCount][kPlanKindCount];

    PlannedRowFn& Planned(PixelLayout layout, PlanKind kind) {
        return planned[LayoutIndex(layout)][PlanIndex(kind)];
    }
    PlannedRowFn Planned(PixelLayout layout, PlanKind kind) const {
        return planned[LayoutIndex(layout)][PlanIndex(kind)];
    }
    PlannedRowPairFn& PlannedPair(PixelLayout layout, PlanKind kind) {
        return plannedPair[LayoutIndex(layout)][PlanIndex(kind)];
    }
    PlannedRowPairFn PlannedPair(PixelLayout layout, PlanKind kind) const {
        return plannedPair[LayoutIndex(layout)][PlanIndex(kind)];
    }
    // The kinds of plan with a one-row routine for `layout`, as bits 1 << PlanIndex(kind).
    uint32_t KindsWithKernels(PixelLayout layout) const {
        uint32_t kinds = 0;
        for (int32_t k = 0; k < kPlanKindCount; ++k)
            if (planned[LayoutIndex(layout)][k]) kinds |= 1u << k;
        return kinds;
    }
};

const RowRoutines& PortableRowRoutines();

}  // namespace kvx
