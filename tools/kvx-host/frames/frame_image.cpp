#include "frames/frame_image.h"

#include <algorithm>
#include <cstring>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_FILE_OPEN_ERRORS
#include <stb_image_write.h>

namespace kvx {

namespace {

struct Rgb {
    uint8_t r, g, b;
};

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }

// Where the moving marker starts (frame index -1: no marker).
int MarkerX(int width, int frameIndex) {
    return frameIndex < 0 ? -100 : static_cast<int>((frameIndex * 8LL) % std::max(1, width));
}

// The pattern in top-down RGB: eight colour bars, a white grid every 64 pixels, a block of
// alternating one-pixel lines (shows resampling), and a marker that moves with the frame.
Rgb PatternPixel(int x, int y, int width, int height, int frameIndex) {
    static const Rgb kBars[8] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                 {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
    if (x % 64 == 0 || y % 64 == 0 || x == width - 1 || y == height - 1) return {255, 255, 255};
    if (y > height * 3 / 4) {
        if (x < width / 3) return (y & 1) ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
        if (x < width * 2 / 3) return (x & 1) ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
        uint8_t ramp = static_cast<uint8_t>(255 * (x - width * 2 / 3) / std::max(1, width / 3));
        return {ramp, ramp, ramp};
    }
    int marker = MarkerX(width, frameIndex);
    if (y > height * 5 / 8 && x >= marker && x < marker + 16) return {255, 128, 0};
    return kBars[std::min(7, x * 8 / std::max(1, width))];
}

void RgbToYuv(Rgb p, int& y, int& u, int& v) {
    y = (66 * p.r + 129 * p.g + 25 * p.b + 128) / 256 + 16;
    u = (-38 * p.r - 74 * p.g + 112 * p.b + 128) / 256 + 128;
    v = (112 * p.r - 94 * p.g - 18 * p.b + 128) / 256 + 128;
}

Rgb YuvToRgb(int y, int u, int v) {
    int c = 298 * (y - 16), d = u - 128, e = v - 128;
    return {Clamp((c + 409 * e + 128) >> 8), Clamp((c - 100 * d - 208 * e + 128) >> 8),
            Clamp((c + 516 * d + 128) >> 8)};
}

}  // namespace

void DrawTestPattern(std::vector<uint8_t>& frame, const FrameGeometry& g, int frameIndex, int left, int right,
                     int top, int bottom) {
    frame.resize(g.FrameBytes());
    if (g.format == HostFormat::Yuyv) left &= ~1;  // whole pixel pairs: they share their chroma
    left = std::max(0, left);
    right = std::min(g.width, right);
    top = std::max(0, top);
    bottom = std::min(g.height, bottom);
    for (int y = top; y < bottom; ++y) {
        if (g.format == HostFormat::Yuyv) {
            uint8_t* row = frame.data() + static_cast<size_t>(y) * g.width * 2;
            for (int x = left; x + 1 < std::min(g.width, right + 1); x += 2) {
                int y0, u0, v0, y1, u1, v1;
                RgbToYuv(PatternPixel(x, y, g.width, g.height, frameIndex), y0, u0, v0);
                RgbToYuv(PatternPixel(x + 1, y, g.width, g.height, frameIndex), y1, u1, v1);
                row[2 * x] = Clamp(y0);
                row[2 * x + 1] = Clamp((u0 + u1 + 1) / 2);
                row[2 * x + 2] = Clamp(y1);
                row[2 * x + 3] = Clamp((v0 + v1 + 1) / 2);
            }
        } else {
            uint8_t* row = frame.data() + static_cast<size_t>(g.height - 1 - y) * g.width * 3;
            for (int x = left; x < right; ++x) {
                Rgb p = PatternPixel(x, y, g.width, g.height, frameIndex);
                row[3 * x] = p.b;
                row[3 * x + 1] = p.g;
                row[3 * x + 2] = p.r;
            }
        }
    }
}

void PatternMarkerArea(const FrameGeometry& g, int frameIndex, int& x0, int& x1, int& y0, int& y1) {
    x0 = MarkerX(g.width, frameIndex) - 1;
    x1 = x0 + 18;
    y0 = g.height * 5 / 8;
    y1 = g.height * 3 / 4 + 1;
}

std::vector<uint8_t> MakeTestPattern(const FrameGeometry& g, int frameIndex) {
    std::vector<uint8_t> frame(g.FrameBytes());
    DrawTestPattern(frame, g, frameIndex, 0, g.width, 0, g.height);
    return frame;
}

void FlipRows(std::vector<uint8_t>& frame, const FrameGeometry& g) {
    size_t rowBytes = static_cast<size_t>(g.width) * g.BytesPerPixel();
    for (int top = 0, bottom = g.height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(frame.begin() + top * rowBytes, frame.begin() + (top + 1) * rowBytes,
                         frame.begin() + bottom * rowBytes);
}

size_t PlanarFrameBytes(const FrameGeometry& g) {
    const size_t w = g.width, h = g.height;
    return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

std::vector<uint8_t> FromPlanar(const std::vector<uint8_t>& planes, const FrameGeometry& g) {
    const size_t cw = (g.width + 1) / 2, ch = (g.height + 1) / 2;
    const uint8_t* luma = planes.data();
    const uint8_t* u = luma + static_cast<size_t>(g.width) * g.height;
    const uint8_t* v = u + cw * ch;
    std::vector<uint8_t> frame(g.FrameBytes());
    for (int y = 0; y < g.height; ++y) {
        const uint8_t* yRow = luma + static_cast<size_t>(y) * g.width;
        const uint8_t* uRow = u + (y / 2) * cw;
        const uint8_t* vRow = v + (y / 2) * cw;
        if (g.format == HostFormat::Yuyv) {
            uint8_t* out = frame.data() + static_cast<size_t>(y) * g.width * 2;
            for (int x = 0; x < g.width; ++x) {
                out[2 * x] = yRow[x];
                out[2 * x + 1] = x % 2 == 0 ? uRow[x / 2] : vRow[x / 2];
            }
        } else {
            uint8_t* out = frame.data() + static_cast<size_t>(g.height - 1 - y) * g.width * 3;
            for (int x = 0; x < g.width; ++x) {
                const Rgb p = YuvToRgb(yRow[x], uRow[x / 2], vRow[x / 2]);
                out[3 * x] = p.b;
                out[3 * x + 1] = p.g;
                out[3 * x + 2] = p.r;
            }
        }
    }
    return frame;
}

std::vector<uint8_t> ToRgb(const std::vector<uint8_t>& frame, const FrameGeometry& g) {
    std::vector<uint8_t> rgb(static_cast<size_t>(g.width) * g.height * 3);
    for (int y = 0; y < g.height; ++y) {
        uint8_t* out = rgb.data() + static_cast<size_t>(y) * g.width * 3;
        if (g.format == HostFormat::Yuyv) {
            const uint8_t* row = frame.data() + static_cast<size_t>(y) * g.width * 2;
            for (int x = 0; x < g.width; ++x) {
                const uint8_t* pair = row + (x & ~1) * 2;
                Rgb p = YuvToRgb(row[2 * x], pair[1], pair[3]);
                out[3 * x] = p.r;
                out[3 * x + 1] = p.g;
                out[3 * x + 2] = p.b;
            }
        } else {
            const uint8_t* row = frame.data() + static_cast<size_t>(g.height - 1 - y) * g.width * 3;
            for (int x = 0; x < g.width; ++x) {
                out[3 * x] = row[3 * x + 2];
                out[3 * x + 1] = row[3 * x + 1];
                out[3 * x + 2] = row[3 * x];
            }
        }
    }
    return rgb;
}

bool WriteSideBySidePng(const std::string& path, const std::vector<std::vector<uint8_t>>& images,
                        int32_t width, int32_t height) {
    const int gap = images.size() > 1 ? 8 : 0;
    const int n = static_cast<int>(images.size());
    const int total = n * width + (n - 1) * gap;
    std::vector<uint8_t> canvas(static_cast<size_t>(total) * height * 3, 64);
    for (int i = 0; i < n; ++i)
        for (int y = 0; y < height; ++y)
            std::memcpy(canvas.data() + (static_cast<size_t>(y) * total + i * (width + gap)) * 3,
                        images[i].data() + static_cast<size_t>(y) * width * 3,
                        static_cast<size_t>(width) * 3);
    return stbi_write_png(path.c_str(), total, height, 3, canvas.data(), total * 3) != 0;
}

}  // namespace kvx
