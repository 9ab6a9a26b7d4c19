// Resamples a rectangle of a frame into another rectangle of the same frame, in place,
// by separable integer bilinear interpolation through a private work image.
#pragma once
#include <cstdint>

#include "platform/geometry.h"
#include "video/scale_steps.h"

namespace kvx {

enum PixelLayout : int32_t {
    LayoutYuyv = 0,   // packed 4:2:2, Y0 U Y1 V, top row first
    LayoutRgb24 = 4,  // three bytes per pixel, bottom row first
};

class Scaler {
public:
    Scaler();
    virtual ~Scaler();
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;

    void SetHysteresis(int32_t growPercent, int32_t shrinkPercent);

    // Resamples `source` into `destination` (which may reach beyond the frame; its full
    // size sets the scale factors). rowSteps / columnSteps are optional caller-owned tables.
    // Returns false only when a buffer could not be allocated; the frame is then untouched.
    bool Scale(uint8_t* pixels, int32_t width, int32_t height, Rect source, Rect destination,
               int32_t layout, bool interlaced, const ScaleStep* rowSteps = nullptr,
               const ScaleStep* columnSteps = nullptr);
};

}  // namespace kvx
