// The --compare picture of a frame before and after the plug-in.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "video/frame_geometry.h"

namespace kvx {

// The --compare picture: `before` and `after` side by side, written as an OutputFile.
void WriteComparisonPng(const std::string& png, bool overwrite, const std::vector<uint8_t>& before,
                        const std::vector<uint8_t>& after, const FrameGeometry& g);

}  // namespace kvx
