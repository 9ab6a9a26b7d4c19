// Pre-deinterlace: every inner line of the frame becomes avg(avg(above, below), itself),
// computed in place with one line of scratch memory.
#pragma once
#include <cstdint>

namespace kvx {

// `pixels` holds `height` lines of width * bytesPerPixel bytes each; `lineBuffer` holds at
// least one line. Only whole 8-byte groups of a line take part. Frames with fewer than three
// lines or lines shorter than 8 bytes are left unchanged.
void BlendLines(uint8_t* pixels, uint8_t* lineBuffer, int32_t width, int32_t height,
                int32_t bytesPerPixel);

// The row kernel: for i < bytes, u = saved[i]; saved[i] = line[i];
// line[i] = avg(avg(u, below[i]), line[i]) with avg rounding up.
// This is the reference version; BlendLines runs the dispatched one.
using BlendLineRowKernel = void(uint8_t* line, const uint8_t* below, uint8_t* saved,
                                int32_t bytes);
using BlendLineRowFn = BlendLineRowKernel*;
BlendLineRowKernel BlendLineRow;

}  // namespace kvx
