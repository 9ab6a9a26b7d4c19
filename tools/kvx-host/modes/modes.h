// The three kinds of run, each in a file of its own; main only chooses. Each runs inside
// the private folder and returns the exit code; failures are thrown as UsageError or
// RunError.
#pragma once
#include <memory>
#include <string>

#include "ffmpeg/probe.h"
#include "run/run_plan.h"

namespace kvx {

// --show-settings / --save without frames (settings_mode.cpp).
int RunSettingsOnly(const RunPlan& plan, const std::string& privateFolder);
// Frames through the plug-in, from the pattern, raw frames or a video file (process_mode.cpp).
int RunFrames(const RunPlan& plan, const std::string& privateFolder);
// --detect (detect_mode.cpp).
int RunDetect(const RunPlan& plan, const std::string& privateFolder);

// The frame size of the run: from --size, or read from the video IN by ffprobe (then
// `video` holds the rest of what ffprobe said); throws UsageError for a size kvx-host refuses.
FrameGeometry RunGeometry(const RunPlan& plan, VideoInfo& video);

}  // namespace kvx
