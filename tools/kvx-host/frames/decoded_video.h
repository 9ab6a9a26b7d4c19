// A video IN decoded by ffmpeg to raw frames for the plug-in.
#pragma once
#include <memory>
#include <string>

#include "ffmpeg/probe.h"
#include "frames/frame_source.h"

namespace kvx {

// IN decoded by ffmpeg to raw frames of `g` (at most `limit`, -1: all); throws RunError.
std::unique_ptr<FrameSource> MakeDecodedSource(const std::string& path, const FrameGeometry& g,
                                               const VideoInfo& info, long long limit);

}  // namespace kvx
