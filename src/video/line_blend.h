// Pre-deinterlace: every inner line of the frame becomes avg(avg(above, below), itself),
// computed in place with one line of scratch memory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kvx {

// The band kernel: blends `rows` lines from `line` on, `stride` bytes apart, over their first
// `bytes` bytes. Each becomes avg(avg(above, below), itself) with avg rounding up, where the
// line above the first is the original kept in `saved` and the others are read from the
// frame (the line after the last is read, never written). `saved` is left holding the
// original of the last line, ready for the next band.
// This is the reference version; BlendLines runs the dispatched one.
using BlendLineBandKernel = void(uint8_t* line, ptrdiff_t stride, int32_t rows, uint8_t* saved,
                                 int32_t bytes);
using BlendLineBandFn = BlendLineBandKernel*;
BlendLineBandKernel BlendLineBand;

// `pixels` holds `height` lines of width * bytesPerPixel bytes each; `lineBuffer` holds at
// least one line. Only whole 8-byte groups of a line take part. Frames with fewer than three
// lines or lines shorter than 8 bytes are left unchanged.
void BlendLines(uint8_t* pixels, uint8_t* lineBuffer, int32_t width, int32_t height,
                int32_t bytesPerPixel);

// The same with a given band kernel (the benchmark times each level's).
void BlendLines(BlendLineBandFn band, uint8_t* pixels, uint8_t* lineBuffer, int32_t width,
                int32_t height, int32_t bytesPerPixel);

}  // namespace kvx
