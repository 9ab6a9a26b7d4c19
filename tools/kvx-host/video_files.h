// Video files as IN and OUT: ffprobe reads the frame size, rate and field order, ffmpeg
// decodes IN to raw frames for the plug-in and encodes the processed frames, with IN's audio,
// into a file that plays everywhere (H.264 yuv420p at the source's frame rate).
#pragma once
#include <memory>
#include <string>

#include "child_process.h"
#include "frame_source.h"

namespace kvx {

// Names kvx-host takes as raw frames rather than video files.
bool IsRawFileName(const std::string& name);

// Whether kvx-host's encode (H.264 video, the source's audio) can be written into a file of
// this name's container; false with `why` (what to do instead) otherwise.
bool IsWritableContainer(const std::string& name, std::string& why);

struct VideoInfo {
    int32_t width = 0, height = 0;
    std::string rate;        // frames per second as ffprobe gives it, e.g. "25/1", "30000/1001"
    std::string fieldOrder;  // "progressive", "tt", "bb", ... or "" when not known
    long long frames = -1;   // -1: not known
};

// Asks ffprobe about IN's first video stream; throws RunError.
VideoInfo ProbeVideo(const std::string& path);

// Which of IN's frames the decoder hands on.
enum class DecodedFrames {
    All,
    // Only frames other frames are predicted from (I and P): B-frames are not decoded at
    // all, which reads a recording faster than a full decode. The count is then not known.
    WithoutBidirectional,
};

// IN decoded by ffmpeg to raw frames of `g` (at most `limit`, -1: all); throws RunError.
std::unique_ptr<FrameSource> MakeDecodedSource(const std::string& path, const FrameGeometry& g,
                                               const VideoInfo& info, long long limit,
                                               DecodedFrames which = DecodedFrames::All);

// ffmpeg encoding raw frames of `g` into OUT, with IN's audio; throws RunError.
std::unique_ptr<ChildProcess> StartEncoder(const std::string& in, const std::string& out, const FrameGeometry& g,
                                           const VideoInfo& info);

}  // namespace kvx
