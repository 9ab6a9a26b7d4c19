// How the host's current frame lies in memory, and painting rectangles into it (the
// black bands around the scaled picture).
#pragma once
#include <cstdint>

#include "platform/geometry.h"
#include "video/pixel_format.h"

namespace kvx {

// A Windows COLORREF: red in bits 0-7, green 8-15, blue 16-23.
using Colour = uint32_t;

class FrameSurface {
public:
    FrameSurface() = default;
    virtual ~FrameSurface() = default;

    // pixelFormat is the host's code as it came; a code other than the two drawable ones
    // sets only the size, and FillRect then paints nothing.
    void Configure(int32_t width, int32_t height, int32_t pixelFormat);
    void SetPixels(uint8_t* pixels) { pixels_ = pixels; }

    uint8_t* PixelAddress(uint8_t* base, int32_t x, int32_t y) const;
    uint32_t ConvertColour(Colour colour) const;
    // Paints [left, right) x [top, bottom), clipped to the frame. Opacity in percent:
    // 100 paints the colour, smaller values mix it with what is there.
    void FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, Colour colour,
                  int32_t opacity);

    const Rect& FrameRect() const { return frameRect_; }
    int32_t Stride() const { return stride_; }

private:
    HostPixelFormat pixelFormat_ = PixelFormatYuy2;
    uint8_t* pixels_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
    Rect frameRect_{0, 0, 0, 0};
    int32_t bytesPerPixel_ = 0;
    int32_t pairStep_ = 0;
    int32_t quadStep_ = 0;
    int32_t stride_ = 0;
};

}  // namespace kvx
