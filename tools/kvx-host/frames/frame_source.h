// Where kvx-host's frames come from: raw frames from a file or a pipe, the built-in test
// pattern, or (built on the raw reader) a video file decoded by ffmpeg. Each says how many
// frames it will give when it knows.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frames/frame_image.h"

namespace kvx {

class FrameSource {
public:
    enum class Result { Frame, End, Error };
    virtual ~FrameSource() = default;
    // Fills `frame` (FrameBytes() long) with the next frame in host memory order (bgr24
    // bottom-up); on Error `error` says what went wrong and what to do.
    virtual Result Next(std::vector<uint8_t>& frame, std::string& error) = 0;
    // Frames this source will give in all, or -1 when that is not known.
    virtual long long Length() const = 0;
    // True when frames come as 4:2:0 planes (PlanarFrameBytes long, as a decoder gives them)
    // instead of in host memory order.
    virtual bool Planar() const { return false; }
};

// The built-in test pattern, `count` frames; the static parts are drawn once.
std::unique_ptr<FrameSource> MakePatternSource(const FrameGeometry& g, long long count);

// Raw frames (bgr24 top-down as ffmpeg writes it) from `file`, at most `limit` (-1: all);
// `owned` files are closed with the source. `lengthHint` (-1: unknown) is the number of
// frames the producer announced, used when the file's size cannot be measured.
std::unique_ptr<FrameSource> MakeRawSource(FILE* file, bool owned, const FrameGeometry& g, long long limit,
                                           long long lengthHint = -1);

}  // namespace kvx
