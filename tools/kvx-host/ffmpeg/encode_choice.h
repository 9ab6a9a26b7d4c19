// How kvx-host encodes the video of OUT (libx264): the quality and the speed the user chose.
#pragma once
#include <string>

namespace kvx {

struct EncodeChoice {
    // Constant rate factor 18 is about where x264's losses stop being visible: the processed
    // picture keeps the source's look. x264's own default, 23, visibly softens a broadcast
    // recording (a 4 Mbit/s source came out at 1.45 Mbit/s).
    int crf = 18;
    // x264's own default balance of speed and size.
    std::string preset = "medium";
    bool given = false;  // --crf or --preset on the command line
};

// x264's preset names, fastest first, separated by '|'.
extern const char kX264Presets[];

// Whether `name` is one of x264's presets.
bool IsX264Preset(const std::string& name);

}  // namespace kvx
