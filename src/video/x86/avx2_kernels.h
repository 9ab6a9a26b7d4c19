// The AVX2 kernels, where the wider registers pay; each matches its reference version
// byte for byte.
#pragma once
#include <cstdint>

#include "video/row_routines.h"

namespace kvx {
namespace avx2 {

void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work, int32_t groups);
void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work, int32_t groups);
void PlannedYuyv(const uint8_t* work, uint8_t* dst, const ScaleStep* steps, const ColumnPlan& plan,
                 bool oddStart);
void PlannedRgb24(const uint8_t* work, uint8_t* dst, const ScaleStep* steps, const ColumnPlan& plan,
                  bool oddStart);
void BlendLineRow(uint8_t* line, const uint8_t* below, uint8_t* saved, int32_t bytes);

}  // namespace avx2
}  // namespace kvx
