// A test frame of the host's formats whose picture lies between black bars.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvx {

// A width x height frame of host pixel format 0 (YUY2) or 1 (24-bit, bottom-up) with its
// picture (luma 60 and up, varying) in rows `top` to `bottom` and black above and below.
inline std::vector<uint8_t> LetterboxedFrame(int32_t width, int32_t height, int32_t pixelFormat, int32_t top,
                                             int32_t bottom) {
    const int32_t bpp = pixelFormat == 0 ? 2 : 3;
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bpp);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = &frame[static_cast<size_t>(pixelFormat == 0 ? y : height - 1 - y) * width * bpp];
        for (int32_t x = 0; x < width; ++x) {
            const bool picture = y >= top && y < bottom;
            const uint8_t luma = picture ? static_cast<uint8_t>(60 + (3 * x + 5 * y) % 160) : 16;
            if (bpp == 2) {
                row[2 * x] = luma;
                row[2 * x + 1] = 128;
            } else {
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = picture ? luma : 0;
            }
        }
    }
    return frame;
}

}  // namespace kvx
