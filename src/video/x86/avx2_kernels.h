// The AVX2 kernels, where the wider registers pay; each matches its reference version
// byte for byte.
#pragma once
#include "video/line_blend.h"
#include "video/row_routines.h"
#include "video/x86/simd_kernels.h"

namespace kvx {
namespace avx2 {

VerticalRowKernel VerticalYuyv, VerticalRgb24;
// Packed 24-bit work rows, and plans of BuildPackedRgb24Plan.
VerticalRowKernel VerticalRgb24Packed;
PlannedRowKernel PlannedRgb24Packed;
// Packed 4:2:2 work rows, and plans of BuildPackedYuyvPlan.
VerticalRowKernel VerticalYuyvPacked;
PlannedRowKernel PlannedYuyvPacked;
#if KVX_HAS_ROW_PAIRS
// Both packed layouts, two rows at once.
PlannedRowPairKernel PlannedRgb24PackedPair, PlannedYuyvPackedPair;
#endif
BlendLineBandKernel BlendLineBand;

}  // namespace avx2
}  // namespace kvx
