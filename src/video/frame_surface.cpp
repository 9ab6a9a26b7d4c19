#include "video/frame_surface.h"

#include <algorithm>

#include "video/dispatch.h"

namespace kvx {

void FrameSurface::Configure(int32_t width, int32_t height, int32_t pixelFormat) {
    width_ = width;
    height_ = height;
    pixelFormat_ = static_cast<HostPixelFormat>(pixelFormat);
    frameRect_ = Rect{0, 0, width, height};
    if (pixelFormat == PixelFormatYuy2) {
        bytesPerPixel_ = 2;
        stride_ = 2 * width;
    } else if (pixelFormat == PixelFormatBgr24) {
        bytesPerPixel_ = 3;
        stride_ = -3 * width;
    } else {
        return;
    }
    pairStep_ = 2 * bytesPerPixel_;
    quadStep_ = 4 * bytesPerPixel_;
}

uint8_t* FrameSurface::PixelAddress(uint8_t* base, int32_t x, int32_t y) const {
    if (pixelFormat_ == PixelFormatYuy2) return base + 2 * static_cast<intptr_t>(x) + static_cast<intptr_t>(y) * 2 * width_;
    return base + 3 * static_cast<intptr_t>(x) +
           static_cast<intptr_t>(height_ - 1 - y) * 3 * width_;
}

uint32_t FrameSurface::ConvertColour(Colour colour) const {
    int32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    if (pixelFormat_ == PixelFormatBgr24) return static_cast<uint32_t>(b | (g << 8) | (r << 16));
    if (pixelFormat_ != PixelFormatYuy2) return colour;
    auto clamp = [](int32_t v) { return static_cast<uint32_t>(std::min(255, std::max(0, v))); };
    // Arithmetic shifts are floor divisions by 32768.
    uint32_t y = clamp((9798 * r + 19235 * g + 3735 * b) >> 15);
    uint32_t u = clamp(((-5529 * r - 10855 * g + 16384 * b) >> 15) + 128);
    uint32_t v = clamp(((16384 * r - 13720 * g - 2664 * b) >> 15) + 128);
    return y | (u << 8) | (y << 16) | (v << 24);
}

void FrameSurface::FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, Colour colour,
                            int32_t opacity) {
    if (left >= width_ || top >= height_ || right <= 0 || bottom <= 0) return;
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width_);
    bottom = std::min(bottom, height_);
    if (left >= right || top >= bottom) return;
    if (!IsDrawable(pixelFormat_) || !pixels_) return;

    int32_t count = right - left;
    int32_t rows = bottom - top;
    uint8_t* p = PixelAddress(pixels_, left, top);
    uint32_t c = ConvertColour(colour);
    int32_t mix = MulDiv(100 - opacity, 256, 100);
    mix = std::min(256, std::max(0, mix));  // opacities outside 0..100 act as the nearest end
    if (pixelFormat_ == PixelFormatYuy2) {
        // In an odd-width row the last pixel's pair is cut short by the row's end.
        bool lastPairWhole = !(right == width_ && (width_ & 1));
        uint8_t* pair = p - (left & 1) * 2;
        const FillYuyvFn fill = Kernels().fills.Yuyv(left & 1, mix);
        for (int32_t i = 0; i < rows; ++i, pair += stride_)
            fill(pair, count, c, mix, lastPairWhole);
    } else {
        const FillRgb24Fn fill = Kernels().fills.Rgb24(mix);
        for (int32_t i = 0; i < rows; ++i, p += stride_) fill(p, count, c, mix);
    }
}

}  // namespace kvx
