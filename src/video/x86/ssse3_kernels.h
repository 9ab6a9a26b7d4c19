// The SSSE3 kernels, for CPUs before AVX2: byte shuffles stand in for the SSE2 versions'
// pixel-by-pixel gathers and shift-and-mask sequences. Each matches its reference version
// byte for byte.
#pragma once
#include <cstdint>

#include "video/row_routines.h"

namespace kvx {
namespace ssse3 {

void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work, int32_t groups);
void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work, int32_t groups);
// Over plans of 16-byte windows.
void PlannedYuyv(const uint8_t* work, uint8_t* dst, const ScaleStep* steps, const ColumnPlan& plan,
                 bool oddStart);
void PlannedRgb24(const uint8_t* work, uint8_t* dst, const ScaleStep* steps, const ColumnPlan& plan,
                  bool oddStart);

}  // namespace ssse3
}  // namespace kvx
