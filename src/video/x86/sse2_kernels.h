// The SSE2 kernels; each matches its reference version byte for byte.
#pragma once
#include <cstdint>

#include "video/scale_steps.h"

namespace kvx {
namespace sse2 {

void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work, int32_t groups);
void VerticalRgb24(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work, int32_t groups);
void HorizontalYuyvEven(const uint8_t* work, uint8_t* dst, int32_t count, const ScaleStep* steps);
void HorizontalYuyvOdd(const uint8_t* work, uint8_t* dst, int32_t count, const ScaleStep* steps);
void HorizontalRgb24(const uint8_t* work, uint8_t* dst, int32_t count, const ScaleStep* steps);

void FillYuyvSolidEven(uint8_t* pair, int32_t count, uint32_t colour, int32_t mix, bool lastPairWhole);
void FillYuyvSolidOdd(uint8_t* pair, int32_t count, uint32_t colour, int32_t mix, bool lastPairWhole);
void FillYuyvMixEven(uint8_t* pair, int32_t count, uint32_t colour, int32_t mix, bool lastPairWhole);
void FillYuyvMixOdd(uint8_t* pair, int32_t count, uint32_t colour, int32_t mix, bool lastPairWhole);
void FillRgb24Solid(uint8_t* row, int32_t count, uint32_t colour, int32_t mix);
void FillRgb24Mix(uint8_t* row, int32_t count, uint32_t colour, int32_t mix);

void BlendLineRow(uint8_t* line, const uint8_t* below, uint8_t* saved, int32_t bytes);

}  // namespace sse2
}  // namespace kvx
