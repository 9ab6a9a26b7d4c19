// Integer geometry shared by the frame pipeline, the scaler and the border fill.
// Our own portable code so that the DLL and the native build compute identical rectangles.
#pragma once
#include <cstdint>

namespace kvx {

// Right and bottom are exclusive; empty when right <= left or bottom <= top.
struct Rect {
    int32_t left, top, right, bottom;
};

inline bool operator==(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline bool operator!=(const Rect& a, const Rect& b) { return !(a == b); }

inline bool IsRectEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

// a * b / c with a 64-bit intermediate, rounded to nearest with halves away from zero.
// Like the Windows call, c == 0 or a result outside int32 gives -1.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// The same rounding without the int32 limit on the result (c must not be 0).
int64_t MulDiv64(int64_t a, int64_t b, int64_t c);

// The common part of a and b, or {0, 0, 0, 0} when they do not overlap.
Rect IntersectRect(const Rect& a, const Rect& b);

void OffsetRect(Rect& r, int32_t dx, int32_t dy);

}  // namespace kvx
