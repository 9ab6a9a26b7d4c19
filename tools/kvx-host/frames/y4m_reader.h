// Frames of the YUV4MPEG2 stream ffmpeg writes (-f yuv4mpegpipe -pix_fmt yuv420p): a header
// line naming the size, then each frame as a "FRAME" line and its 4:2:0 planes. ffmpeg
// writes the planes straight from its decoded frames, without the copy of a raw packet.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "frames/frame_image.h"

namespace kvx {

class Y4mReader {
public:
    enum class Result { Frame, End, Error };
    // Reads from `stream` frames that must be of `g`'s size.
    Y4mReader(FILE* stream, const FrameGeometry& g) : stream_(stream), g_(g) {}
    // The next frame's planes (PlanarFrameBytes long). End: the stream ended before a frame.
    // Error: `error` says what is wrong (a header of another size, a cut frame).
    Result Next(std::vector<uint8_t>& planes, std::string& error);

private:
    bool CheckHeader(const std::string& line, std::string& error) const;

    FILE* stream_;
    FrameGeometry g_;
    bool headerRead_ = false;
};

}  // namespace kvx
