// Finds the real picture inside a frame from the black borders around it (letterbox,
// pillarbox, a border on any side), over a series of sampled frames.
//
// A line (row or column) is black when its sampled luma is dark and flat: low mean and low
// spread, which tolerates noise and compression ringing but not a dark picture with texture.
// For every frame with picture content each edge gets a depth: the black lines counted
// from that edge inward, after at most a few noisy overscan lines at the very edge. An
// edge's border is the depth reached in nearly every such frame, so a dark scene or a fade
// cannot invent a border, and the four edges are found independently.
#pragma once
#include <cstdint>
#include <vector>

#include "frame_image.h"
#include "platform/geometry.h"

namespace kvx {

enum class BorderVerdict {
    NoContent,  // no sampled frame had picture content (black input)
    NoBorder,   // picture content, but no edge has a border in nearly every frame
    Found,      // at least one edge has a border
};

struct BorderResult {
    BorderVerdict verdict = BorderVerdict::NoContent;
    Rect picture{0, 0, 0, 0};  // rows counted from the top in both pixel formats
    long long framesSampled = 0, framesWithContent = 0;
};

class BorderDetector {
public:
    // Lines looked at from each edge: a quarter of the frame and one more, so a border
    // wider than a quarter shows as reaching that far.
    static int32_t EdgeZone(int32_t length) { return length / 4 + 1; }

    explicit BorderDetector(const FrameGeometry& g);

    // One frame in host memory order (bgr24 bottom-up); only sampled lines are read.
    void AddFrame(const uint8_t* frame);

    // For inputs of unknown length: forgets every other frame added so far, so a caller
    // that then samples every second frame keeps an even spread in bounded memory.
    void KeepEveryOther();

    long long FramesSampled() const { return sampled_; }
    BorderResult Decide() const;

private:
    struct EdgeDepths {
        int32_t top, bottom, left, right;
    };
    bool RowIsBlack(const uint8_t* frame, int32_t row) const;
    bool ColumnIsBlack(const uint8_t* frame, int32_t column) const;
    template <typename IsBlack>
    int32_t EdgeDepth(int32_t length, IsBlack isBlack) const;

    FrameGeometry g_;
    std::vector<EdgeDepths> depths_;  // one entry per sampled frame with picture content
    long long sampled_ = 0;
};

}  // namespace kvx
