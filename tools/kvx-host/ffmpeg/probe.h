// What ffprobe says of a video IN: the frame size, shape, turn, rate, field order, length and
// streams.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kvx {

struct VideoInfo {
    // The frames as they are shown, which the decoder hands over: a picture stored on its
    // side (a phone's) is turned upright, as ffmpeg shows it, so that OUT shows it so too.
    int32_t width = 0, height = 0;
    std::string aspect;      // their sample aspect ratio, e.g. "64:45"; "" when not known
    int turn = 0;            // degrees the stored picture is turned (counterclockwise) to be shown
    std::string rate;        // frames per second as ffprobe gives it, e.g. "25/1", "30000/1001"
    std::string fieldOrder;  // "progressive", "tt", "bb", ... or "" when not known
    std::string codec;       // ffmpeg's name of the video's codec, e.g. "h264"
    long long frames = -1;   // -1: not known
    // Seconds from IN's start (where ffmpeg puts time 0 of what it reads from IN) to the end
    // of the video stream; -1: not known.
    double videoEnd = -1;
    std::vector<std::string> audioCodecs;     // codec names of IN's audio streams, in order
    std::vector<std::string> subtitleCodecs;  // and of its subtitle streams
};

// Asks ffprobe about IN's first video stream; throws RunError.
VideoInfo ProbeVideo(const std::string& path);

// When IN's first decodable frame is shown, in seconds from IN's start; throws RunError.
double FirstFrameTime(const std::string& path);

}  // namespace kvx
