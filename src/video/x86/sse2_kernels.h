// The SSE2 kernels; each matches its reference version byte for byte.
#pragma once
#include "video/fill_kernels.h"
#include "video/line_blend.h"
#include "video/row_routines.h"
#include "video/x86/simd_kernels.h"

namespace kvx {
namespace sse2 {

VerticalRowKernel VerticalYuyv, VerticalRgb24;
HorizontalRowKernel HorizontalYuyvEven, HorizontalYuyvOdd, HorizontalRgb24;
// Over plans of 8-byte windows.
PlannedRowKernel PlannedYuyvWindows, PlannedRgb24Windows;
#if KVX_HAS_ROW_PAIRS
PlannedRowPairKernel PlannedRgb24WindowsPair;
#endif

FillYuyvKernel FillYuyvSolidEven, FillYuyvSolidOdd, FillYuyvMixEven, FillYuyvMixOdd;
FillRgb24Kernel FillRgb24Solid, FillRgb24Mix;

BlendLineBandKernel BlendLineBand;

}  // namespace sse2
}  // namespace kvx
