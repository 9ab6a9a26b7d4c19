#include "border_detect.h"

#include <algorithm>
#include <cstddef>

namespace kvx {

namespace {

// Luma in the 16..235 scale of video black and white: a yuyv Y byte as it is, bgr24
// through the BT.601 weights, so both formats meet the same thresholds. Colour is left out:
// 4:2:0 sources bleed their picture's colour a line or two into a black bar.
constexpr int32_t kBlackLuma = 16;
// A black line: mean at most this far above black, spread (standard deviation) at most
// this much. Compression ringing and analogue noise stay inside; a dark picture's texture
// (a night sky's stars, a dimly lit set) does not.
constexpr int32_t kMeanAboveBlack = 8;
constexpr int32_t kMaxSpread = 6;
// Every second pixel of a line is read: enough to see a two-pixel detail, half the work.
constexpr int32_t kSampleStep = 2;
// "Nearly every frame": the depth an edge keeps in at least 9 of 10 frames with content.
constexpr int kNearlyEveryTenths = 9;
// Rows across the middle of the frame that tell whether a frame has picture content.
constexpr int kContentRows = 8;

// Noisy overscan lines at the very edge, and the margin of the crossing direction that a
// line's test leaves out for the same reason.
int32_t OverscanLines(int32_t length) { return length / 64; }

class LineStats {
public:
    void Add(int32_t luma) {
        ++n_;
        sum_ += luma;
        sumSquares_ += luma * luma;
    }
    // mean <= black + kMeanAboveBlack and variance <= kMaxSpread^2, in integers.
    bool IsBlack() const {
        if (n_ == 0) return true;
        if (sum_ > n_ * (kBlackLuma + kMeanAboveBlack)) return false;
        return n_ * sumSquares_ - sum_ * sum_ <= n_ * n_ * kMaxSpread * kMaxSpread;
    }

private:
    int64_t n_ = 0, sum_ = 0, sumSquares_ = 0;
};

inline int32_t Luma(const uint8_t* p, HostFormat format) {
    if (format == HostFormat::Yuyv) return p[0];
    return ((25 * p[0] + 129 * p[1] + 66 * p[2] + 128) >> 8) + 16;
}

bool LineIsBlack(const uint8_t* first, ptrdiff_t stride, int32_t count, HostFormat format) {
    LineStats stats;
    for (int32_t i = 0; i < count; ++i) stats.Add(Luma(first + i * stride, format));
    return stats.IsBlack();
}

}  // namespace

BorderDetector::BorderDetector(const FrameGeometry& g) : g_(g) { depths_.reserve(1024); }

// Image row `row` (0 at the top) over the columns inside the overscan margin.
bool BorderDetector::RowIsBlack(const uint8_t* frame, int32_t row) const {
    const int32_t bpp = g_.BytesPerPixel(), margin = OverscanLines(g_.width);
    const int32_t memoryRow = g_.format == HostFormat::Yuyv ? row : g_.height - 1 - row;
    const uint8_t* p = frame + (static_cast<size_t>(memoryRow) * g_.width + margin) * bpp;
    const int32_t count = (g_.width - 2 * margin + kSampleStep - 1) / kSampleStep;
    return LineIsBlack(p, static_cast<ptrdiff_t>(kSampleStep) * bpp, count, g_.format);
}

// Column `column` over the rows inside the overscan margin; the row order does not matter.
bool BorderDetector::ColumnIsBlack(const uint8_t* frame, int32_t column) const {
    const int32_t bpp = g_.BytesPerPixel(), margin = OverscanLines(g_.height);
    const uint8_t* p = frame + (static_cast<size_t>(margin) * g_.width + column) * bpp;
    const int32_t count = (g_.height - 2 * margin + kSampleStep - 1) / kSampleStep;
    return LineIsBlack(p, static_cast<ptrdiff_t>(kSampleStep) * g_.width * bpp, count, g_.format);
}

// Black lines from an edge inward (line 0 is at the edge). Up to OverscanLines non-black
// lines at the very edge are passed over when at least two black lines follow them: a
// broadcast's noisy lines in front of its letterbox bar.
template <typename IsBlack>
int32_t BorderDetector::EdgeDepth(int32_t length, IsBlack isBlack) const {
    const int32_t zone = EdgeZone(length), overscan = OverscanLines(length);
    int32_t first = 0;
    while (first < zone && first <= overscan && !isBlack(first)) ++first;
    if (first >= zone || first > overscan) return 0;
    int32_t end = first;
    while (end < zone && isBlack(end)) ++end;
    if (first > 0 && end - first < 2) return 0;
    return end;
}

void BorderDetector::AddFrame(const uint8_t* frame) {
    ++sampled_;
    const int32_t w = g_.width, h = g_.height;
    if (w <= 0 || h <= 0) return;
    bool content = false;
    for (int k = 0; k < kContentRows && !content; ++k)
        content = !RowIsBlack(frame, h * 5 / 16 + h * 6 / 16 * k / kContentRows);
    if (!content) return;
    EdgeDepths d;
    d.top = EdgeDepth(h, [&](int32_t i) { return RowIsBlack(frame, i); });
    d.bottom = EdgeDepth(h, [&](int32_t i) { return RowIsBlack(frame, h - 1 - i); });
    d.left = EdgeDepth(w, [&](int32_t i) { return ColumnIsBlack(frame, i); });
    d.right = EdgeDepth(w, [&](int32_t i) { return ColumnIsBlack(frame, w - 1 - i); });
    depths_.push_back(d);
}

void BorderDetector::KeepEveryOther() {
    size_t kept = 0;
    for (size_t i = 0; i < depths_.size(); i += 2) depths_[kept++] = depths_[i];
    depths_.resize(kept);
    sampled_ = (sampled_ + 1) / 2;
}

BorderResult BorderDetector::Decide() const {
    BorderResult r;
    r.framesSampled = sampled_;
    r.framesWithContent = static_cast<long long>(depths_.size());
    if (depths_.empty()) return r;
    const size_t n = depths_.size();
    const size_t nearlyAll = (n * kNearlyEveryTenths + 9) / 10;  // at least this many frames
    // The depth reached by at least `nearlyAll` frames: the nearlyAll-th largest.
    auto border = [&](int32_t EdgeDepths::*edge) {
        std::vector<int32_t> v;
        v.reserve(n);
        for (const EdgeDepths& d : depths_) v.push_back(d.*edge);
        std::nth_element(v.begin(), v.begin() + (n - nearlyAll), v.end());
        return v[n - nearlyAll];
    };
    const int32_t top = border(&EdgeDepths::top), bottom = border(&EdgeDepths::bottom);
    const int32_t left = border(&EdgeDepths::left), right = border(&EdgeDepths::right);
    r.picture = Rect{left, top, g_.width - right, g_.height - bottom};
    r.verdict = top || bottom || left || right ? BorderVerdict::Found : BorderVerdict::NoBorder;
    return r;
}

}  // namespace kvx
