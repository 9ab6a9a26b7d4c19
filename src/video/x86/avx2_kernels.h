// The AVX2 kernels, where the wider registers pay; each matches its reference version
// byte for byte.
#pragma once
#include <cstdint>

namespace kvx {
namespace avx2 {

void VerticalYuyv(const uint8_t* a, const uint8_t* b, uint16_t w, uint8_t* work, int32_t groups);
void BlendLineRow(uint8_t* line, const uint8_t* below, uint8_t* saved, int32_t bytes);

}  // namespace avx2
}  // namespace kvx
