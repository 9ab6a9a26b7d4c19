// The AVX2 kernels, where the wider registers pay; each matches its reference version
// byte for byte.
#pragma once
#include "video/line_blend.h"
#include "video/row_routines.h"

namespace kvx {
namespace avx2 {

VerticalRowKernel VerticalYuyv, VerticalRgb24;
// Packed 24-bit work rows, and plans of BuildPackedRgb24Plan.
VerticalRowKernel VerticalRgb24Packed;
PlannedRowKernel PlannedRgb24Packed;
// Packed 4:2:2 work rows, and plans of BuildPackedYuyvPlan.
VerticalRowKernel VerticalYuyvPacked;
PlannedRowKernel PlannedYuyvPacked;
BlendLineBandKernel BlendLineBand;

}  // namespace avx2
}  // namespace kvx
