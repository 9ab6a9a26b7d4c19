// The SSSE3 kernels, for CPUs before AVX2: byte shuffles stand in for the SSE2 versions'
// pixel-by-pixel gathers and shift-and-mask sequences. Each matches its reference version
// byte for byte.
#pragma once
#include "video/row_routines.h"

namespace kvx {
namespace ssse3 {

VerticalRowKernel VerticalYuyv, VerticalRgb24;
// Packed 24-bit work rows, and plans of BuildPackedRgb24Plan.
VerticalRowKernel VerticalRgb24Packed;
PlannedRowKernel PlannedRgb24Packed;
// Packed 4:2:2 work rows, and plans of BuildPackedYuyvPlan.
VerticalRowKernel VerticalYuyvPacked;
PlannedRowKernel PlannedYuyvPacked;
// Both rows' bytes blended as they lie (the packed rows' pass 1).
void BlendRowsPacked(const uint8_t* a, const uint8_t* b, uint16_t weight, uint8_t* work,
                     int32_t bytes);

}  // namespace ssse3
}  // namespace kvx
