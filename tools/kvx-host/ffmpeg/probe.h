// What ffprobe says of a video IN: the frame size, rate, field order, length and streams.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kvx {

struct VideoInfo {
    int32_t width = 0, height = 0;
    std::string rate;        // frames per second as ffprobe gives it, e.g. "25/1", "30000/1001"
    std::string fieldOrder;  // "progressive", "tt", "bb", ... or "" when not known
    std::string codec;       // ffmpeg's name of the video's codec, e.g. "h264"
    long long frames = -1;   // -1: not known
    // Seconds from IN's start (where ffmpeg puts time 0 of what it reads from IN) to the end
    // of the video stream; -1: not known.
    double videoEnd = -1;
    std::vector<std::string> subtitleCodecs;  // codec names of IN's subtitle streams, in order
};

// Asks ffprobe about IN's first video stream; throws RunError.
VideoInfo ProbeVideo(const std::string& path);

// When IN's first decodable frame is shown, in seconds from IN's start; throws RunError.
double FirstFrameTime(const std::string& path);

}  // namespace kvx
