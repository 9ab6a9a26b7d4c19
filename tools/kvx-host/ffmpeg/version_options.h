// What sets the ffmpeg versions kvx-host works with (4.1 on) apart on its command lines,
// found out once per run by asking the installed ffmpeg: its version number says little, as
// builds from ffmpeg's own tree call themselves "N-92722-g...".
#pragma once
#include <string>
#include <vector>

namespace kvx {

// Whether the installed ffmpeg is older than 5.1 (it knows no -fps_mode). Throws RunError
// when ffmpeg cannot be started.
bool FfmpegBefore51();

// Adds the options that hand on every frame at its own time, none dropped or repeated:
// "-fps_mode passthrough" from ffmpeg 5.1 on (9.0 knows no other), "-vsync passthrough"
// before.
void AddPassthroughTiming(std::vector<std::string>& args);

}  // namespace kvx
