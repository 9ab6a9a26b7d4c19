#include "frames/comparison_png.h"

#include "errors.h"
#include "frames/frame_image.h"

namespace kvx {

void WriteComparisonPng(OutputFile& file, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                        const FrameGeometry& g) {
    // stb writes it by its name.
    if (!WriteSideBySidePng(file.TempName(), {ToRgb(before, g), ToRgb(after, g)}, g.width, g.height))
        throw RunError("cannot write " + file.Target());
}

}  // namespace kvx
