// The two arrangements of pixels the plug-in works on, in the two code spaces that name
// them: the host's pixel format codes and the scaler's layout codes.
#pragma once
#include <cstdint>

namespace kvx {

// The host's VideoFormat pixelFormat. The record carries any int32; codes other than these
// two are kept but never drawn on.
enum HostPixelFormat : int32_t {
    PixelFormatYuy2 = 0,   // packed 4:2:2, Y0 U Y1 V, top row first
    PixelFormatBgr24 = 1,  // three bytes B G R per pixel, bottom row first
};

// The scaler's layout codes for the same two arrangements.
enum PixelLayout : int32_t {
    LayoutYuyv = 0,   // packed 4:2:2, Y0 U Y1 V, top row first
    LayoutRgb24 = 4,  // three bytes per pixel, bottom row first
};

inline bool IsDrawable(int32_t pixelFormat) {
    return pixelFormat == PixelFormatYuy2 || pixelFormat == PixelFormatBgr24;
}

// Bytes of one pixel of a drawable format.
inline int32_t BytesPerPixel(HostPixelFormat format) { return format == PixelFormatYuy2 ? 2 : 3; }
inline int32_t BytesPerPixel(PixelLayout layout) { return layout == LayoutYuyv ? 2 : 3; }

// The layout the scaler takes a drawable format in.
inline PixelLayout LayoutOf(HostPixelFormat format) {
    return format == PixelFormatYuy2 ? LayoutYuyv : LayoutRgb24;
}

}  // namespace kvx
