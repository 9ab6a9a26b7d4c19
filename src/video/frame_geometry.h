// A frame as the host hands it: its size and the arrangement of its pixels. The border
// analysis and kvx-host describe frames with it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kvx {

enum class HostFormat { Yuyv = 0, Bgr24 = 1 };

struct FrameGeometry {
    int32_t width = 0, height = 0;
    HostFormat format = HostFormat::Yuyv;
    int32_t BytesPerPixel() const { return format == HostFormat::Yuyv ? 2 : 3; }
    size_t FrameBytes() const { return static_cast<size_t>(width) * height * BytesPerPixel(); }
};

}  // namespace kvx
