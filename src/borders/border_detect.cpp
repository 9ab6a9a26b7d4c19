#include "borders/border_detect.h"

#include <algorithm>
#include <cstddef>

#include "borders/border_rules.h"

namespace kvx {

namespace {

// Pixels read along a line: every second one; on lines of 810 pixels and more every
// length/270-th, about 270 samples, plenty to tell whether half of the line is bright.
int32_t SampleStep(int32_t length) { return std::max(2, length / 270); }

std::string LineName(bool rows, int32_t line) { return (rows ? "row " : "column ") + std::to_string(line); }

// One side of one axis, judged over the frames: its border (lines from that side) or why not.
struct Side {
    explicit Side(const char* n) : name(n) {}
    const char* name;
    int32_t border = 0;
    bool unsure = false;
    long long evidence = 0;
    std::string reason;
};

// The flags of one axis over `frames` of the frames that voted, from frame `first` on:
// frame f's line l is at flags[f * block + offset + l].
struct AxisFlags {
    const std::vector<uint8_t>& flags;
    size_t block, offset;
    int32_t length;
    long long first, frames;
    bool rows;

    uint8_t At(long long f, int32_t l) const { return flags[static_cast<size_t>(first + f) * block + offset + l]; }

    // Per line: the frames in which it has content.
    std::vector<long long> ContentCounts() const {
        std::vector<long long> content(length, 0);
        for (long long f = 0; f < frames; ++f)
            for (int32_t l = 0; l < length; ++l) content[l] += At(f, l) & BorderDetector::kContent;
        return content;
    }

    // Frames in which content stops sharply (`edgeFlag`) at `line`, or one line either way
    // for compression ringing.
    long long EdgeFrames(int32_t line, uint8_t edgeFlag) const {
        long long count = 0;
        for (long long f = 0; f < frames; ++f) {
            bool edge = false;
            for (int32_t l = std::max(line - 1, 0); l <= std::min(line + 1, length - 1); ++l)
                edge = edge || (At(f, l) & edgeFlag);
            count += edge;
        }
        return count;
    }
};

// The longest run [begin, end) of lines with content in most frames; empty when there is none.
void LongestBand(const std::vector<long long>& content, long long n, int32_t& begin, int32_t& end) {
    const int32_t length = static_cast<int32_t>(content.size());
    begin = end = 0;
    for (int32_t l = 0; l < length;) {
        int32_t e = l;
        while (e < length && Majority(content[e], n)) ++e;
        if (e - l > end - begin) begin = l, end = e;
        l = e > l ? e : l + 1;
    }
}

// The side of the band whose edge line is `edgeLine`, `border` lines from the frame's edge in
// direction `dir` (-1: top/left, +1: bottom/right): a border only with evidence of the edge.
void JudgeSide(const AxisFlags& axis, const std::vector<long long>& content, int32_t edgeLine, int32_t dir,
               int32_t border, Side& s) {
    s.border = border;
    if (border == 0) return;
    const long long n = axis.frames;
    const int32_t overscan = OverscanLines(axis.length);
    // No line with content in most frames beyond the edge, but for noisy overscan lines.
    for (int32_t i = 1; i <= border - overscan; ++i) {
        const int32_t l = edgeLine + dir * i;
        if (Majority(content[l], n)) {
            s.unsure = true;
            s.reason = LineName(axis.rows, l) + ", beyond the picture's " + s.name + " edge, has content in most frames";
            return;
        }
    }
    // The gap: the lines just beyond the edge are black in nine frames of ten.
    for (int32_t i = 1; i <= std::min(border, kGapLines); ++i) {
        const int32_t l = edgeLine + dir * i;
        if (!NearlyNever(content[l], n)) {
            s.unsure = true;
            s.reason = LineName(axis.rows, l) + ", just beyond the picture's " + s.name + " edge (" +
                       LineName(axis.rows, edgeLine) + "), has content in " + std::to_string(content[l] * 100 / n) +
                       " % of the frames: dark picture, not a bar?";
            return;
        }
    }
    // Evidence: content that stops sharply at the edge line in a tenth of the frames.
    s.evidence = axis.EdgeFrames(edgeLine, dir < 0 ? BorderDetector::kEdgeBefore : BorderDetector::kEdgeAfter);
    if (10 * s.evidence < n || s.evidence == 0) {
        s.unsure = true;
        s.reason = "the picture's " + std::string(s.name) + " edge (" + LineName(axis.rows, edgeLine) +
                   ") is sharp in only " + std::to_string(s.evidence) + " of " + std::to_string(n) +
                   " frames: dark picture, not a bar?";
    }
}

// One axis: the picture's band [begin, end) and its two sides.
void JudgeAxis(const AxisFlags& axis, Side& before, Side& after, int32_t& begin, int32_t& end) {
    const std::vector<long long> content = axis.ContentCounts();
    LongestBand(content, axis.frames, begin, end);
    if (end == begin) {
        before.unsure = true;
        before.reason = std::string("no ") + (axis.rows ? "row" : "column") + " has picture content in most frames";
        begin = 0, end = axis.length;
        return;
    }
    JudgeSide(axis, content, begin, -1, begin, before);
    JudgeSide(axis, content, end - 1, +1, axis.length - end, after);
}

}  // namespace

BorderDetector::BorderDetector(const FrameGeometry& g, int32_t black) : g_(g), black_(black) {
    const int32_t w = std::max(g.width, 0), h = std::max(g.height, 0);
    const int32_t rowSamples = (w - 2 * OverscanLines(w) + SampleStep(w) - 1) / SampleStep(w);
    const int32_t columnSamples = (h - 2 * OverscanLines(h) + SampleStep(h) - 1) / SampleStep(h);
    rowSamples_ = std::max(rowSamples, 0);
    columnSamples_ = std::max(columnSamples, 0);
    brightInRow_.resize(h);
    brightInColumn_.resize(w);
    lumaSum_.assign(static_cast<size_t>(h) + w, 0);
    lumaCount_.assign(static_cast<size_t>(h) + w, 0);
}

// count: the bright samples of each of `lines` lines, of `samples` each. Sets each line's flags.
void BorderDetector::Classify(const int32_t* count, int32_t lines, int32_t samples, uint8_t* flags) {
    for (int32_t l = 0; l < lines; ++l) flags[l] = HasContent(count[l], samples) ? kContent : 0;
    // Content that stops at line l: the two lines beyond it nearly all dark (at most an
    // eighth bright: a logo, noise). Half of l bright and at most a quarter beyond: the
    // content stops there over at least a quarter of the width.
    auto nearlyDark = [&](int32_t l) { return NearlyDark(count[l], samples); };
    for (int32_t l = 0; l < lines; ++l) {
        if (!(flags[l] & kContent)) continue;
        if (l >= 2 && nearlyDark(l - 1) && nearlyDark(l - 2)) flags[l] |= kEdgeBefore;
        if (l + 2 < lines && nearlyDark(l + 1) && nearlyDark(l + 2)) flags[l] |= kEdgeAfter;
    }
}

void BorderDetector::AddFrame(const uint8_t* frame) {
    const int32_t w = g_.width, h = g_.height, bpp = g_.BytesPerPixel();
    const HostFormat format = g_.format;
    // Row y counted from the top: bgr24 frames lie bottom-up in memory.
    auto rowAt = [=](int32_t y) {
        return frame + static_cast<size_t>(format == HostFormat::Yuyv ? y : h - 1 - y) * w * bpp;
    };
    AddSamples(rowAt, [=](const uint8_t* row, int32_t x) { return Luma(row + static_cast<size_t>(x) * bpp, format); });
}

void BorderDetector::AddLuma(const uint8_t* plane) {
    const int32_t w = g_.width;
    AddSamples([=](int32_t y) { return plane + static_cast<size_t>(y) * w; },
               [](const uint8_t* row, int32_t x) { return static_cast<int32_t>(row[x]); });
}

template <class RowAt, class LumaAt>
void BorderDetector::AddSamples(RowAt rowAt, LumaAt lumaAt) {
    ++sampled_;
    const int32_t w = g_.width, h = g_.height;
    if (w <= 0 || h <= 0) return;
    const int32_t mx = OverscanLines(w), my = OverscanLines(h);
    const int32_t rowSamples = rowSamples_, columnSamples = columnSamples_;
    const int32_t black = black_, stepX = SampleStep(w), stepY = SampleStep(h);
    // Rows: every stepX-th pixel inside the side margins.
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = rowAt(y);
        int32_t bright = 0;
        int64_t sum = 0, dark = 0;
        for (int32_t i = 0; i < rowSamples; ++i) {
            const int32_t v = lumaAt(p, mx + i * stepX);
            if (v >= black) {
                ++bright;
            } else {
                sum += v;
                ++dark;
            }
        }
        brightInRow_[y] = bright;
        lumaSum_[y] += sum;
        lumaCount_[y] += dark;
    }
    // Columns: every pixel of every stepY-th row inside the top and bottom margins.
    std::fill(brightInColumn_.begin(), brightInColumn_.end(), 0);
    for (int32_t k = 0; k < columnSamples; ++k) {
        const uint8_t* p = rowAt(my + k * stepY);
        for (int32_t x = 0; x < w; ++x) {
            const int32_t v = lumaAt(p, x);
            if (v >= black) {
                ++brightInColumn_[x];
            } else {
                lumaSum_[h + x] += v;
                ++lumaCount_[h + x];
            }
        }
    }
    const size_t at = flags_.size();
    flags_.resize(at + h + w);
    Classify(brightInRow_.data(), h, rowSamples, &flags_[at]);
    Classify(brightInColumn_.data(), w, columnSamples, &flags_[at + h]);
    bool contentRow = false, contentColumn = false;
    for (int32_t l = 0; l < h; ++l) contentRow = contentRow || (flags_[at + l] & kContent);
    for (int32_t l = 0; l < w; ++l) contentColumn = contentColumn || (flags_[at + h + l] & kContent);
    if (!contentRow || !contentColumn) flags_.resize(at);  // no picture content: no vote
}

void BorderDetector::KeepEveryOther() {
    const size_t block = static_cast<size_t>(g_.width) + g_.height;
    if (block == 0) return;
    const size_t frames = flags_.size() / block;
    size_t kept = 0;
    for (size_t f = 0; f < frames; f += 2, ++kept)
        std::copy(flags_.begin() + f * block, flags_.begin() + (f + 1) * block, flags_.begin() + kept * block);
    flags_.resize(kept * block);
    sampled_ = (sampled_ + 1) / 2;
}

BorderResult BorderDetector::Decide() const {
    const size_t block = static_cast<size_t>(g_.width) + g_.height;
    const long long n = block ? static_cast<long long>(flags_.size() / block) : 0;
    BorderResult r = DecideFrames(0, n);
    r.framesSampled = sampled_;
    // A second format in a minority of the frames can leave the whole sure: always looked for.
    if (r.verdict != BorderVerdict::NoContent) FindFormatChange(r);
    if (r.verdict != BorderVerdict::NoContent) r.barLevel = BarLevel(r.picture);
    return r;
}

// The frames [first, first + n) that voted, judged together.
BorderResult BorderDetector::DecideFrames(long long first, long long n) const {
    BorderResult r;
    const int32_t w = g_.width, h = g_.height;
    const size_t block = static_cast<size_t>(w) + h;
    r.framesWithContent = n;
    if (n == 0) return r;

    Side left("left"), top("top"), right("right"), bottom("bottom");
    const AxisFlags rows{flags_, block, 0, h, first, n, true};
    const AxisFlags columns{flags_, block, static_cast<size_t>(h), w, first, n, false};
    JudgeAxis(rows, top, bottom, r.picture.top, r.picture.bottom);
    JudgeAxis(columns, left, right, r.picture.left, r.picture.right);
    const Side* sides[] = {&left, &top, &right, &bottom};
    bool unsure = false, border = false;
    for (int i = 0; i < 4; ++i) {
        r.evidence[i] = sides[i]->evidence;
        if (sides[i]->unsure) {
            unsure = true;
            if (!sides[i]->reason.empty()) r.reasons.push_back(sides[i]->reason);
        }
        border = border || sides[i]->border > 0;
    }
    r.verdict = unsure ? BorderVerdict::NotSure : border ? BorderVerdict::Found : BorderVerdict::NoBorder;
    return r;
}

// A format that changes once within the recording (a 4:3 advert, then a letterboxed film):
// the frames before and after some point, each judged alone, are both sure and differ. The
// point is then placed where the fewest frames look like the other format.
void BorderDetector::FindFormatChange(BorderResult& r) const {
    const long long n = r.framesWithContent, fewest = std::max<long long>(2, n / 20);
    const long long step = std::max<long long>(1, n / 60);
    auto sure = [](const BorderResult& b) { return b.verdict == BorderVerdict::Found || b.verdict == BorderVerdict::NoBorder; };
    bool seen = false;
    Rect first{}, second{};
    for (long long k = fewest; k <= n - fewest; k += step) {
        const BorderResult a = DecideFrames(0, k), b = DecideFrames(k, n - k);
        if (!sure(a) || !sure(b) || a.picture == b.picture) continue;
        if (seen && !(a.picture == first && b.picture == second)) return;  // more than one change
        seen = true;
        first = a.picture, second = b.picture;
    }
    if (!seen) return;
    // Errors of the point k: frames before it that look like the second format, and after.
    long long best = 0, bestErrors = -1, errors = 0;
    std::vector<bool> looksSecond(n);
    for (long long f = 0; f < n; ++f) {
        looksSecond[f] = LooksLike(f, second, first) > LooksLike(f, first, second);
        errors += !looksSecond[f];  // k = 0: every frame taken for the second format
    }
    for (long long k = 0; k <= n; ++k) {
        if (k >= fewest && k <= n - fewest && (bestErrors < 0 || errors < bestErrors)) best = k, bestErrors = errors;
        if (k < n) errors += looksSecond[k] ? 1 : -1;
    }
    const BorderResult a = DecideFrames(0, best), b = DecideFrames(best, n - best);
    if (!sure(a) || !sure(b) || !(a.picture == first && b.picture == second)) return;
    r.verdict = BorderVerdict::FormatChange;
    r.formats = {{a, 0}, {b, best}};
    r.reasons = {"the picture changes after " + std::to_string(best) + " of " + std::to_string(n) + " frames"};
}

// How much frame f looks like it has picture `p` rather than `other`: the share of the lines
// inside p but outside other that have content (one half when there are none).
double BorderDetector::LooksLike(long long f, const Rect& p, const Rect& other) const {
    const int32_t w = g_.width, h = g_.height;
    const uint8_t* flags = &flags_[static_cast<size_t>(f) * (static_cast<size_t>(w) + h)];
    long long lines = 0, content = 0;
    auto count = [&](const uint8_t* axis, int32_t from, int32_t to, int32_t otherFrom, int32_t otherTo) {
        for (int32_t l = from; l < to; ++l) {
            if (l >= otherFrom && l < otherTo) continue;
            ++lines;
            content += axis[l] & kContent;
        }
    };
    count(flags, p.top, p.bottom, other.top, other.bottom);
    count(flags + h, p.left, p.right, other.left, other.right);
    return lines ? static_cast<double>(content) / lines : 0.5;
}

// The dark samples of the lines outside `picture` that are black in nine frames of ten.
int32_t BorderDetector::BarLevel(const Rect& picture) const {
    const int32_t w = g_.width, h = g_.height;
    const size_t block = static_cast<size_t>(w) + h;
    const long long n = block ? static_cast<long long>(flags_.size() / block) : 0;
    int64_t sum = 0, count = 0;
    auto addLines = [&](size_t offset, int32_t from, int32_t to) {
        for (int32_t l = from; l < to; ++l) {
            long long c = 0;
            for (long long f = 0; f < n; ++f) c += flags_[f * block + offset + l] & kContent;
            if (!NearlyNever(c, n)) continue;
            sum += lumaSum_[offset + l];
            count += lumaCount_[offset + l];
        }
    };
    addLines(0, 0, picture.top);
    addLines(0, picture.bottom, h);
    addLines(h, 0, picture.left);
    addLines(h, picture.right, w);
    return count > 0 ? static_cast<int32_t>((sum + count / 2) / count) : -1;
}

}  // namespace kvx
