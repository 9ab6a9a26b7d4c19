// The SSSE3 kernels, for CPUs before AVX2: byte shuffles stand in for the SSE2 versions'
// pixel-by-pixel gathers and shift-and-mask sequences. Each matches its reference version
// byte for byte.
#pragma once
#include "video/row_routines.h"

namespace kvx {
namespace ssse3 {

VerticalRowKernel VerticalYuyv, VerticalRgb24;
// Packed work rows, and the plans over them.
VerticalRowKernel VerticalRgb24Packed, VerticalYuyvPacked;
PlannedRowKernel PlannedRgb24Lanes, PlannedYuyvLanes, PlannedRgb24Paired, PlannedYuyvPaired;
// Both rows' bytes blended as they lie (the packed rows' pass 1).
void BlendRowsPacked(const uint8_t* a, const uint8_t* b, uint16_t weight, uint8_t* work,
                     int32_t bytes);

}  // namespace ssse3
}  // namespace kvx
