// The per-line rules of the border analysis, shared by kvx-host --detect (over a whole
// recording) and the plug-in's live fit (over a sliding window of recent frames), so both
// judge a line and a side alike.
#pragma once
#include <cstdint>

#include "video/frame_geometry.h"

namespace kvx {

// Lines looked at beyond an edge: the sharp stop of content, and the gap of black lines.
constexpr int32_t kGapLines = 4;

// Noisy overscan lines at the very edge, and the margin of the crossing direction that a
// line's samples leave out for the same reason.
inline int32_t OverscanLines(int32_t length) { return length / 64; }

// Luma in the 16..235 scale of video black and white: a yuyv Y byte as it is, bgr24
// through the BT.601 weights, so both formats meet the same thresholds. Colour is left out:
// 4:2:0 sources bleed their picture's colour a line or two into a black bar.
inline int32_t Luma(const uint8_t* p, HostFormat format) {
    if (format == HostFormat::Yuyv) return p[0];
    return ((25 * p[0] + 129 * p[1] + 66 * p[2] + 128) >> 8) + 16;
}

// One frame's line of `samples` samples, `bright` of them bright: it has content (most of
// the line is picture), or it is nearly dark (a logo or noise at most).
inline bool HasContent(int32_t bright, int32_t samples) { return 2 * bright >= samples; }
inline bool NearlyDark(int32_t bright, int32_t samples) { return 8 * bright <= samples; }

// Over n frames: in most of them; in at most one of ten.
inline bool Majority(long long count, long long n) { return 2 * count > n; }
inline bool NearlyNever(long long count, long long n) { return 10 * count <= n; }

}  // namespace kvx
