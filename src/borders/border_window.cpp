#include "borders/border_window.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "borders/border_rules.h"
#include "borders/line_sampler.h"

namespace kvx {

namespace {

// Lines beyond `edge` (the outermost line shown) toward `dir`, `border` of them, on one axis
// of one frame's flags: whether picture or text shows there.
bool Intrudes(const uint8_t* axis, int32_t length, int32_t edge, int32_t dir, int32_t border, bool& content) {
    const int32_t overscan = OverscanLines(length);
    int32_t lights = 0;
    for (int32_t i = 1; i <= border; ++i) {
        const int32_t l = edge + dir * i;
        if (l < overscan || l >= length - overscan) break;
        if (i >= 2 && (axis[l] & kLineContent)) {
            content = true;
            return true;
        }
        if (i >= 3 && (axis[l] & kLineLight) && ++lights >= 2) return true;
    }
    return false;
}

}  // namespace

struct BorderWindow::Side {
    int32_t border = 0;
    bool unsure = false;
};

bool BorderWindow::Configure(int32_t width, int32_t height, int32_t capacity) {
    width_ = height_ = 0;
    lines_ = capacity_ = 0;
    if (width <= 0 || height <= 0 || capacity <= 0 || capacity > 0xFFFF) return false;
    const size_t lines = static_cast<size_t>(width) + height;
    try {
        kept_.assign(lines * capacity, 0);
        voters_.assign(lines * capacity, 0);
        frames_.assign(capacity, 0);
        votes_.assign(capacity, 0);
        content_.assign(lines, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    width_ = width, height_ = height;
    lines_ = lines, capacity_ = static_cast<size_t>(capacity);
    Clear();
    return true;
}

void BorderWindow::Clear() {
    size_ = next_ = 0;
    voting_ = 0;
    std::fill(content_.begin(), content_.end(), 0);
}

void BorderWindow::Add(const uint8_t* flags, bool votes, long long frame) {
    if (!capacity_) return;
    // The slot written next holds the oldest frame once the ring is full: it leaves the
    // counts as the new one enters them.
    const size_t slot = next_;
    const int32_t leaves = size_ == capacity_ && votes_[slot] ? 1 : 0, enters = votes ? 1 : 0;
    voting_ += enters - leaves;
    uint8_t* kept = &kept_[slot * lines_];
    for (size_t l = 0; l < lines_; ++l)
        content_[l] = static_cast<uint16_t>(content_[l] + enters * (flags[l] & kLineContent) - leaves * (kept[l] & kLineContent));
    std::memcpy(kept, flags, lines_);
    frames_[slot] = frame;
    votes_[slot] = votes;
    next_ = (next_ + 1) % capacity_;
    size_ = std::min(size_ + 1, capacity_);
}

// Voting frames in which content stops sharply (`edge`) at `line` of an axis, or one line
// either way for compression ringing.
long long BorderWindow::EdgeFrames(size_t offset, int32_t length, int32_t line, uint8_t edge) const {
    long long count = 0;
    for (size_t slot = 0; slot < size_; ++slot) {
        if (!votes_[slot]) continue;
        const uint8_t* f = Slot(slot) + offset;
        bool seen = false;
        for (int32_t l = std::max(line - 1, 0); l <= std::min(line + 1, length - 1); ++l) seen = seen || (f[l] & edge);
        count += seen;
    }
    return count;
}

void BorderWindow::JudgeSide(size_t offset, int32_t length, int32_t edge, int32_t dir, Side& side) const {
    if (side.border == 0) return;
    const long long n = voting_;
    const int32_t overscan = OverscanLines(length);
    // No line with content in most frames beyond the edge, but for noisy overscan lines;
    // the lines just beyond it black in nine frames of ten.
    for (int32_t i = 1; i <= side.border - overscan && !side.unsure; ++i)
        side.unsure = Majority(content_[offset + edge + dir * i], n);
    for (int32_t i = 1; i <= std::min(side.border, kGapLines) && !side.unsure; ++i)
        side.unsure = !NearlyNever(content_[offset + edge + dir * i], n);
    // Evidence: content that stops sharply at the edge in a tenth of the frames.
    const long long evidence = EdgeFrames(offset, length, edge, dir < 0 ? kLineEdgeBefore : kLineEdgeAfter);
    side.unsure = side.unsure || evidence == 0 || 10 * evidence < n;
}

void BorderWindow::JudgeAxis(size_t offset, int32_t length, Side& before, Side& after, int32_t& begin,
                             int32_t& end) const {
    // The longest run of lines with content in most frames.
    begin = end = 0;
    for (int32_t l = 0; l < length;) {
        int32_t e = l;
        while (e < length && Majority(content_[offset + e], voting_)) ++e;
        if (e - l > end - begin) begin = l, end = e;
        l = e > l ? e : l + 1;
    }
    if (end == begin) {
        before.unsure = true;
        begin = 0, end = length;
        return;
    }
    before.border = begin;
    after.border = length - end;
    JudgeSide(offset, length, begin, -1, before);
    JudgeSide(offset, length, end - 1, +1, after);
}

// Whether the bar beyond `edge` shows light (text, a logo) in some voting frame in which the
// two lines next to the edge are not picture: the bar is there and something is over it.
bool BorderWindow::HasOverlay(size_t offset, int32_t length, int32_t edge, int32_t dir, int32_t border) const {
    if (border <= 2) return false;
    const int32_t overscan = OverscanLines(length);
    for (size_t slot = 0; slot < size_; ++slot) {
        if (!votes_[slot]) continue;
        const uint8_t* f = Slot(slot) + offset;
        if ((f[edge + dir] | f[edge + 2 * dir]) & kLineContent) continue;
        int32_t lights = 0;
        for (int32_t i = 3; i <= border; ++i) {
            const int32_t l = edge + dir * i;
            if (l < overscan || l >= length - overscan) break;
            if ((f[l] & kLineLight) && ++lights >= 2) return true;
        }
    }
    return false;
}

WindowDecision BorderWindow::Decide() const {
    WindowDecision d;
    if (voting_ == 0) return d;
    Side left, top, right, bottom;
    Rect& p = d.picture;
    JudgeAxis(0, height_, top, bottom, p.top, p.bottom);
    JudgeAxis(height_, width_, left, right, p.left, p.right);
    const Side* sides[] = {&left, &top, &right, &bottom};
    bool unsure = false, border = false;
    for (const Side* s : sides) {
        unsure = unsure || s->unsure;
        border = border || s->border > 0;
    }
    d.verdict = unsure ? BorderVerdict::NotSure : border ? BorderVerdict::Found : BorderVerdict::NoBorder;
    if (d.verdict != BorderVerdict::Found) return d;
    const size_t h = static_cast<size_t>(height_);
    d.overlays = (HasOverlay(h, width_, p.left, -1, left.border) ? kLeftSide : 0) |
                 (HasOverlay(0, height_, p.top, -1, top.border) ? kTopSide : 0) |
                 (HasOverlay(h, width_, p.right - 1, +1, right.border) ? kRightSide : 0) |
                 (HasOverlay(0, height_, p.bottom - 1, +1, bottom.border) ? kBottomSide : 0);
    return d;
}

BorderResult BorderWindow::DecideAsDetect() {
    long long n = 0;
    for (size_t k = size_; k >= 1; --k) {  // oldest first
        const size_t slot = (next_ + capacity_ - k) % capacity_;
        if (votes_[slot]) std::memcpy(&voters_[static_cast<size_t>(n++) * lines_], Slot(slot), lines_);
    }
    return DecideBorders(FlagWindow{voters_.data(), width_, height_, 0, n, static_cast<long long>(capacity_)});
}

Intrusion BorderWindow::Beyond(const uint8_t* flags, const Rect& shown) const {
    Intrusion in;
    const uint8_t* rows = flags;
    const uint8_t* columns = flags + height_;
    if (Intrudes(columns, width_, shown.left, -1, shown.left, in.content)) in.sides |= kLeftSide;
    if (Intrudes(rows, height_, shown.top, -1, shown.top, in.content)) in.sides |= kTopSide;
    if (Intrudes(columns, width_, shown.right - 1, +1, width_ - shown.right, in.content)) in.sides |= kRightSide;
    if (Intrudes(rows, height_, shown.bottom - 1, +1, height_ - shown.bottom, in.content)) in.sides |= kBottomSide;
    return in;
}

long long BorderWindow::HeldSince(const Rect& shown) const {
    long long since = -1;
    for (size_t k = 1; k <= size_; ++k) {
        const size_t slot = (next_ + capacity_ - k) % capacity_;
        if (!votes_[slot]) continue;
        if (Beyond(Slot(slot), shown).sides) break;
        since = frames_[slot];
    }
    return since;
}

}  // namespace kvx
