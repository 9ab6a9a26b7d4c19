// From a picture rectangle to the plug-in settings that make exactly that picture fill the
// frame. The settings are searched in the dialog's 0.1 % steps and judged with the
// plug-in's own arithmetic: its target rectangle and its resampling tables tell which
// source lines land on the frame's first and last rows and columns.
#pragma once
#include <cstdint>
#include <string>

#include "platform/geometry.h"

namespace kvx {

enum class FitMode {
    Fill,    // ScaleX and ScaleY found separately: the picture covers the frame exactly
    Aspect,  // one scale for both (KeepAspect on); the excess is cut evenly
};

struct FitRequest {
    FitMode mode = FitMode::Fill;
    int32_t trim = 0;             // thousandths of the picture's size cut more on every side
    bool interlaced = false;      // the plug-in scales the two fields separately
    int32_t maxCut = 250;         // thousandths of the frame a side may lose at most
};

struct FitResult {
    bool ok = false;
    std::string refusal;          // why no settings are suggested, when !ok
    int32_t scaleX = 1000, scaleY = 1000, offsetX = 0, offsetY = 0;  // thousandths
    bool keepAspect = false;
    // Frame lines the suggestion cuts away on each side: the source lines before the first
    // and after the last line that the plug-in shows.
    Rect cut{0, 0, 0, 0};
};

// The settings that show `picture` (rows from the top) over the whole width x height frame.
FitResult FitSettings(int32_t width, int32_t height, const Rect& picture, const FitRequest& request);

}  // namespace kvx
