// Row kernels of the border fill. `colour` holds the bytes to write in memory order
// (Y U Y V for 4:2:2, B G R for 24-bit); `mix` is the weight of the frame's own byte in
// 1/256 (0 = solid colour).
#pragma once
#include <cstdint>

namespace kvx {

// 4:2:2 row of `count` pixels starting at pixel `left` (`row` points at its pair's first byte).
// `lastPairWhole` false means the row has an odd width and the final pair has no V byte.
void FillRowYuyv(uint8_t* row, int32_t left, int32_t count, uint32_t colour, int32_t mix,
                 bool lastPairWhole);
// 24-bit row of `count` pixels starting at `row`.
void FillRowRgb24(uint8_t* row, int32_t count, uint32_t colour, int32_t mix);

// c + floor((f - c) * w / 256) in the packed 16-bit form: ((f - c) * 16) * (w * 16) >> 16.
inline uint8_t MixByte(uint8_t frame, uint8_t colour, int32_t mix) {
    int32_t d = (static_cast<int32_t>(frame) - colour) * 16;
    int32_t p = d * (mix * 16);
    return static_cast<uint8_t>(colour + (p >> 16));
}

}  // namespace kvx
