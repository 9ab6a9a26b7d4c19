// The AVX2 kernels, where the wider registers pay; each matches its reference version
// byte for byte.
#pragma once
#include "video/line_blend.h"
#include "video/row_routines.h"
#include "video/x86/simd_kernels.h"

namespace kvx {
namespace avx2 {

VerticalRowKernel VerticalYuyv, VerticalRgb24;
// Packed work rows, and the plans over them.
VerticalRowKernel VerticalRgb24Packed, VerticalYuyvPacked;
PlannedRowKernel PlannedRgb24Lanes, PlannedYuyvLanes, PlannedRgb24Paired, PlannedYuyvPaired;
#if KVX_HAS_ROW_PAIRS
// Two rows at once: paired plans of both layouts, 24-bit plans of lanes.
PlannedRowPairKernel PlannedRgb24PairedPair, PlannedYuyvPairedPair, PlannedRgb24LanesPair;
#endif
BlendLineBandKernel BlendLineBand;

}  // namespace avx2
}  // namespace kvx
