#include "video/line_blend.h"

#include <cstring>

#include "video/dispatch.h"

namespace kvx {

namespace {
inline uint8_t Avg(uint32_t a, uint32_t b) { return static_cast<uint8_t>((a + b + 1) >> 1); }
}  // namespace

void BlendLineRow(uint8_t* line, const uint8_t* below, uint8_t* saved, int32_t bytes) {
    for (int32_t i = 0; i < bytes; ++i) {
        uint8_t u = saved[i], c = line[i];
        saved[i] = c;
        line[i] = Avg(Avg(u, below[i]), c);
    }
}

void BlendLines(uint8_t* pixels, uint8_t* lineBuffer, int32_t width, int32_t height,
                int32_t bytesPerPixel) {
    if (!pixels || !lineBuffer || width <= 0 || height < 3 || bytesPerPixel <= 0) return;
    int64_t lineBytes = static_cast<int64_t>(width) * bytesPerPixel;
    int32_t blended = static_cast<int32_t>(lineBytes / 8 * 8);
    if (blended == 0) return;
    std::memcpy(lineBuffer, pixels, blended);
    const BlendLineRowFn blendRow = Kernels().blendLineRow;
    uint8_t* line = pixels + lineBytes;
    for (int32_t y = 1; y <= height - 2; ++y, line += lineBytes)
        blendRow(line, line + lineBytes, lineBuffer, blended);
}

}  // namespace kvx
