#include "frames/comparison_png.h"

#include "errors.h"
#include "files/output_file.h"
#include "frames/frame_image.h"

namespace kvx {

void WriteComparisonPng(const std::string& png, bool overwrite, const std::vector<uint8_t>& before,
                        const std::vector<uint8_t>& after, const FrameGeometry& g) {
    OutputFile file(png, ".png", overwrite);
    file.Close();  // stb writes it by its name
    if (!WriteSideBySidePng(file.TempName(), {ToRgb(before, g), ToRgb(after, g)}, g.width, g.height))
        throw RunError("cannot write " + png);
    file.Commit();
}

}  // namespace kvx
