#include "borders/line_sampler.h"

#include <algorithm>
#include <new>

#include "borders/border_detect.h"
#include "borders/border_rules.h"

namespace kvx {

static_assert(+kLineContent == +BorderDetector::kContent && +kLineEdgeBefore == +BorderDetector::kEdgeBefore &&
                  +kLineEdgeAfter == +BorderDetector::kEdgeAfter,
              "the line flags that BorderDetector::Classify sets");

namespace {

// `count` points spread evenly over [margin, length - margin), each in the middle of its share.
void Spread(int32_t length, int32_t count, std::vector<int32_t>& at) {
    const int32_t margin = OverscanLines(length), span = std::max(length - 2 * margin, 1);
    for (int32_t i = 0; i < count; ++i)
        at[i] = std::min(margin + static_cast<int32_t>((2LL * i + 1) * span / (2LL * count)), length - 1);
}

// The lines read of one axis: every line of the outer quarters, where a border the fit takes
// can end (it cuts at most a quarter of the frame on a side), with the lines judged beyond
// them; every eighth of the middle, which only has to show that the picture goes on.
struct LineSpan {
    int32_t length, outer;
    static constexpr int32_t kMiddleStep = 8;

    template <class Visit>
    void ForEachRead(Visit visit) const {
        for (int32_t l = 0; l < outer; ++l) visit(l);
        for (int32_t l = outer; l < length - outer; l += kMiddleStep) visit(l);
        for (int32_t l = std::max(outer, length - outer); l < length; ++l) visit(l);
    }
    // A line not read takes the count of the last line read before it.
    void FillSkipped(int32_t* count) const {
        for (int32_t l = outer; l < length - outer; ++l)
            if ((l - outer) % kMiddleStep) count[l] = count[l - 1];
    }
};

LineSpan Span(int32_t length) { return LineSpan{length, std::min(length, length / 4 + 2 * kGapLines)}; }

}  // namespace

bool LineSampler::Configure(const FrameGeometry& g, int32_t black) {
    g_ = FrameGeometry{};
    votes_ = false;
    if (g.width <= 0 || g.height <= 0) return false;
    try {
        const size_t lines = static_cast<size_t>(g.width) + g.height;
        rowOffsets_.resize(kSamplesPerLine);
        sampledRows_.resize(kSamplesPerLine);
        bright_.assign(lines, 0);
        flags_.assign(lines, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Spread(g.width, kSamplesPerLine, rowOffsets_);
    for (int32_t& x : rowOffsets_) x *= g.BytesPerPixel();
    Spread(g.height, kSamplesPerLine, sampledRows_);
    g_ = g;
    black_ = black;
    return true;
}

const uint8_t* LineSampler::RowAt(const uint8_t* frame, int32_t y) const {
    const int32_t fromStart = g_.format == HostFormat::Yuyv ? y : g_.height - 1 - y;
    return frame + static_cast<size_t>(fromStart) * g_.width * g_.BytesPerPixel();
}

template <HostFormat F>
void LineSampler::ReadAs(const uint8_t* frame) {
    const int32_t w = g_.width, h = g_.height, black = black_;
    constexpr int32_t bpp = F == HostFormat::Yuyv ? 2 : 3;
    const int32_t* offsets = rowOffsets_.data();
    int32_t* rows = bright_.data();
    int32_t* columns = rows + h;
    const LineSpan rowSpan = Span(h), columnSpan = Span(w);
    rowSpan.ForEachRead([&](int32_t y) {
        const uint8_t* row = RowAt(frame, y);
        int32_t bright = 0;
        for (int32_t i = 0; i < kSamplesPerLine; ++i) bright += Luma(row + offsets[i], F) >= black;
        rows[y] = bright;
    });
    std::fill(columns, columns + w, 0);
    for (int32_t y : sampledRows_) {
        const uint8_t* row = RowAt(frame, y);
        columnSpan.ForEachRead([&](int32_t x) { columns[x] += Luma(row + x * bpp, F) >= black; });
    }
    rowSpan.FillSkipped(rows);
    columnSpan.FillSkipped(columns);
}

void LineSampler::Read(const uint8_t* frame) {
    const int32_t w = g_.width, h = g_.height;
    votes_ = false;
    if (w <= 0) return;
    if (g_.format == HostFormat::Yuyv)
        ReadAs<HostFormat::Yuyv>(frame);
    else
        ReadAs<HostFormat::Bgr24>(frame);
    BorderDetector::Classify(bright_.data(), h, kSamplesPerLine, flags_.data());
    BorderDetector::Classify(bright_.data() + h, w, kSamplesPerLine, flags_.data() + h);
    bool contentRow = false, contentColumn = false;
    for (int32_t l = 0; l < h + w; ++l) {
        if (bright_[l] > 0) flags_[l] |= kLineLight;
        (l < h ? contentRow : contentColumn) |= (flags_[l] & kLineContent) != 0;
    }
    votes_ = contentRow && contentColumn;
}

}  // namespace kvx
