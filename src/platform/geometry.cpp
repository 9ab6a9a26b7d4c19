#include "platform/geometry.h"

#include <algorithm>

namespace kvx {

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
    // Callers keep |a * b| well inside 63 bits (int32 operands, or clamped geometry).
    int64_t num = a * b;
    bool negative = (num < 0) != (c < 0);
    uint64_t n = num < 0 ? 0 - static_cast<uint64_t>(num) : static_cast<uint64_t>(num);
    uint64_t d = c < 0 ? 0 - static_cast<uint64_t>(c) : static_cast<uint64_t>(c);
    uint64_t q = (n + d / 2) / d;  // halves away from zero
    return negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
}

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    int64_t r = MulDiv64(a, b, c);
    if (r > INT32_MAX || r < INT32_MIN) return -1;
    return static_cast<int32_t>(r);
}

Rect IntersectRect(const Rect& a, const Rect& b) {
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (IsRectEmpty(r)) return Rect{0, 0, 0, 0};
    return r;
}

void OffsetRect(Rect& r, int32_t dx, int32_t dy) {
    r.left += dx;
    r.right += dx;
    r.top += dy;
    r.bottom += dy;
}

}  // namespace kvx
