#include "bench/bench_cases.h"

#include <random>

namespace kvx {
namespace bench {

Resample LibraryResample(const FrameSize& size, const ScaleCase& c) {
    const int32_t w = size.width, h = size.height;
    if (c.scale > 1000) {
        const int32_t sw = (w * 1000 / c.scale) & ~1, sh = h * 1000 / c.scale;
        return Resample{((w - sw) / 2) & ~1, (h - sh) / 2, sw, sh, w, h};
    }
    return Resample{0, 0, w, h, (w * c.scale / 1000) & ~1, h * c.scale / 1000};
}

std::vector<uint8_t> TestPicture(int32_t width, int32_t height, int32_t bytesPerPixel) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bytesPerPixel);
    std::mt19937 rng(1);
    const int32_t rowBytes = width * bytesPerPixel;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t i = 0; i < rowBytes; ++i)
            frame[static_cast<size_t>(y) * rowBytes + i] =
                static_cast<uint8_t>(i / 5 + y / 3 + (i % bytesPerPixel) * 60 + (rng() & 15));
    return frame;
}

std::string Name(std::initializer_list<std::string> parts) {
    std::string name;
    for (const std::string& p : parts) name += (name.empty() ? "" : "/") + p;
    return name;
}

std::string SettingsLines(const ScaleCase& c) {
    return "ProcEnable=1\r\nOffsetX=" + std::to_string(c.offsetX) + "\r\nOffsetY=" + std::to_string(c.offsetY) +
           "\r\nScaleX=" + std::to_string(c.scale) + "\r\nScaleY=" + std::to_string(c.scale) +
           "\r\nKeepAspect=1\r\nInterlace=" + std::to_string(c.interlaced) +
           "\r\nDeinterlace=" + std::to_string(c.interlaced) + "\r\n";
}

std::string SettingsText(const ScaleCase& c) { return "[SETTINGS]\r\nCommon=1\r\n[COMMON]\r\n" + SettingsLines(c); }

}  // namespace bench
}  // namespace kvx
