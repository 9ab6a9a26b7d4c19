// The SSE2 kernels; each matches its reference version byte for byte.
#pragma once
#include "video/fill_kernels.h"
#include "video/line_blend.h"
#include "video/row_routines.h"

namespace kvx {
namespace sse2 {

VerticalRowKernel VerticalYuyv, VerticalRgb24;
HorizontalRowKernel HorizontalYuyvEven, HorizontalYuyvOdd, HorizontalRgb24;
// Over plans of 8-byte windows.
PlannedRowKernel PlannedYuyv, PlannedRgb24;

FillYuyvKernel FillYuyvSolidEven, FillYuyvSolidOdd, FillYuyvMixEven, FillYuyvMixOdd;
FillRgb24Kernel FillRgb24Solid, FillRgb24Mix;

BlendLineBandKernel BlendLineBand;

// The pixels of a 4:2:2 row after its plan's vector blocks, by the table walk.
inline void WalkYuyvAfterPlan(const uint8_t* work, uint8_t* dst, const ScaleStep* steps,
                              const ColumnPlan& plan, bool oddStart) {
    if (plan.vectorBlocksYuyv == plan.blockCount) return;
    const ColumnPlanBlock& block = plan.blocks[plan.vectorBlocksYuyv];
    const int32_t x = block.first;
    const HorizontalRowFn walk = (x + oddStart) & 1 ? HorizontalYuyvOdd : HorizontalYuyvEven;
    walk(work + block.readBefore, dst + 2 * x, plan.count - x, steps + x);
}

}  // namespace sse2
}  // namespace kvx
