// One frame read cheaply for the live fit: the luma of every row at a few dozen points across
// it and of every column at a few dozen rows down it (inside the overscan margins, as
// --detect reads), each line then judged by the border analysis's own rules. Sized once per
// frame format; reading a frame allocates nothing.
#pragma once
#include <cstdint>
#include <vector>

#include "borders/black_level.h"
#include "video/frame_geometry.h"

namespace kvx {

// What one frame says of each line. The first four are BorderDetector's LineFlags.
enum LineSample : uint8_t {
    kLineContent = 1,     // at least half of the line's samples are bright
    kLineEdgeBefore = 2,  // content stops sharply here toward the top / left
    kLineEdgeAfter = 4,   // content stops sharply here toward the bottom / right
    kLineDark = 8,        // at most an eighth of the samples are bright
    kLineLight = 16,      // a bright sample at least: picture, or text or a logo in a bar
};

class LineSampler {
public:
    // Samples read along every row and down every column.
    static constexpr int32_t kSamplesPerLine = 16;

    // Sizes the grid for frames of `g` (allocates). False, and nothing to read, when the
    // memory cannot be had or the frame is no drawable format.
    bool Configure(const FrameGeometry& g, int32_t black = kDefaultBlackLevel);
    const FrameGeometry& Geometry() const { return g_; }

    // Reads one frame in host memory order (bgr24 bottom-up) and judges every line.
    void Read(const uint8_t* frame);
    // The last frame's flags: height bytes for the rows from the top, then width bytes for
    // the columns from the left.
    const uint8_t* Flags() const { return flags_.data(); }
    // The last frame has a content row and a content column: it has a picture to judge.
    bool Votes() const { return votes_; }

private:
    template <HostFormat F>
    void ReadAs(const uint8_t* frame);
    const uint8_t* RowAt(const uint8_t* frame, int32_t y) const;

    FrameGeometry g_;
    int32_t black_ = kDefaultBlackLevel;
    std::vector<int32_t> rowOffsets_;  // byte offsets of the samples along a row
    std::vector<int32_t> sampledRows_;  // the rows whose every pixel feeds the columns
    std::vector<int32_t> bright_;       // bright samples: rows, then columns
    std::vector<uint8_t> flags_;
    bool votes_ = false;
};

}  // namespace kvx
