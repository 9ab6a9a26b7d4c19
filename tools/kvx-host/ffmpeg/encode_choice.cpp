#include "ffmpeg/encode_choice.h"

namespace kvx {

const char kX264Presets[] = "ultrafast|superfast|veryfast|faster|fast|medium|slow|slower|veryslow|placebo";

bool IsX264Preset(const std::string& name) {
    const std::string list = std::string("|") + kX264Presets + "|";
    return !name.empty() && name.find('|') == std::string::npos && list.find("|" + name + "|") != std::string::npos;
}

}  // namespace kvx
