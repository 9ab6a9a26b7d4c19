// The --compare picture of a frame before and after the plug-in.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "files/output_file.h"
#include "video/frame_geometry.h"

namespace kvx {

// The --compare picture: `before` and `after` side by side, written into `file` (which takes
// its name with the run's other outputs).
void WriteComparisonPng(OutputFile& file, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                        const FrameGeometry& g);

}  // namespace kvx
