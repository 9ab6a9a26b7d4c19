#include "borders/line_sampler.h"

#include <algorithm>
#include <new>

#include "borders/border_detect.h"
#include "borders/border_rules.h"

namespace kvx {

static_assert(+kLineContent == +BorderDetector::kContent && +kLineEdgeBefore == +BorderDetector::kEdgeBefore &&
                  +kLineEdgeAfter == +BorderDetector::kEdgeAfter && +kLineDark == +BorderDetector::kDark,
              "the line flags that BorderDetector::Classify sets");

namespace {

// `count` points spread evenly over [margin, length - margin), each in the middle of its share.
void Spread(int32_t length, int32_t count, std::vector<int32_t>& at) {
    const int32_t margin = OverscanLines(length), span = std::max(length - 2 * margin, 1);
    for (int32_t i = 0; i < count; ++i)
        at[i] = std::min(margin + static_cast<int32_t>((2LL * i + 1) * span / (2LL * count)), length - 1);
}

// How the rules judge a line of `bright` samples of kSamplesPerLine: no light at all, some
// but nearly dark, neither, content. Lines judged alike need no line between them read.
int32_t Judged(int32_t bright) {
    const int32_t n = LineSampler::kSamplesPerLine;
    return bright == 0 ? 0 : NearlyDark(bright, n) ? 1 : HasContent(bright, n) ? 3 : 2;
}

// The lines of one axis, read coarse to fine. In the outer quarters, where a border the fit
// takes can end (it cuts at most a quarter of the frame on a side) with the lines judged
// beyond it, every fourth line is read first, then every line between two that the rules
// judge apart, so each line where picture, a bar or text begins or ends is read. In the
// middle, which only has to show that the picture goes on, every eighth line. A line not
// read takes the count of the line before it.
struct LineSpan {
    int32_t length, outer;  // the outer parts: [0, outer) and [length - outer, length)
    static constexpr int32_t kOuterStep = 4, kMiddleStep = 8;

    // The lines read first.
    template <class Visit>
    void ForEachFirst(Visit visit) const {
        Outer([&](int32_t begin, int32_t end) {
            for (int32_t l = begin; l < end; l += kOuterStep) visit(l);
            if ((end - 1 - begin) % kOuterStep) visit(end - 1);
        });
        for (int32_t l = outer; l < length - outer; l += kMiddleStep) visit(l);
    }
    // Then the lines between two first ones judged apart: `read` sets their counts.
    template <class Read>
    void Refine(int32_t* count, Read read) const {
        Outer([&](int32_t begin, int32_t end) {
            for (int32_t l = begin; l + 1 < end; l += kOuterStep) {
                const int32_t next = std::min(l + kOuterStep, end - 1);
                const bool apart = Judged(count[l]) != Judged(count[next]);
                for (int32_t m = l + 1; m < next; ++m) apart ? read(m) : void(count[m] = count[l]);
            }
        });
        for (int32_t l = outer; l < length - outer; ++l)
            if ((l - outer) % kMiddleStep) count[l] = count[l - 1];
    }

private:
    template <class Part>
    void Outer(Part part) const {
        part(0, std::min(outer, length));
        part(std::max(outer, length - outer), length);
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
    auto rowCount = [&](int32_t y) {
        const uint8_t* row = RowAt(frame, y);
        int32_t bright = 0;
        for (int32_t i = 0; i < kSamplesPerLine; ++i) bright += Luma(row + offsets[i], F) >= black;
        rows[y] = bright;
    };
    rowSpan.ForEachFirst(rowCount);
    rowSpan.Refine(rows, rowCount);
    std::fill(columns, columns + w, 0);
    for (int32_t y : sampledRows_) {
        const uint8_t* row = RowAt(frame, y);
        columnSpan.ForEachFirst([&](int32_t x) { columns[x] += Luma(row + x * bpp, F) >= black; });
    }
    columnSpan.Refine(columns, [&](int32_t x) {
        int32_t bright = 0;
        for (int32_t y : sampledRows_) bright += Luma(RowAt(frame, y) + x * bpp, F) >= black;
        columns[x] = bright;
    });
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
