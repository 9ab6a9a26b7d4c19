#include "host/target_rect.h"

#include <algorithm>

#include "platform/geometry.h"

namespace kvx {
namespace {

// Target coordinates are kept inside +-2^30, so every later difference fits in int32.
// Settings anywhere in the int32 range thus give a defined (if absurd) picture.
constexpr int64_t kTargetCoordinateLimit = int64_t{1} << 30;

int32_t ClampToPlusMinus2Pow30(int64_t v) {
    return static_cast<int32_t>(std::min(kTargetCoordinateLimit, std::max(-kTargetCoordinateLimit, v)));
}

}  // namespace

Rect TargetRect(int32_t width, int32_t height, const ChannelProfile& s) {
    // The rounding and halving of the 32-bit rule, carried out in 64 bits.
    int64_t sh = MulDiv64(height, s.scaleY, 1000);
    int64_t sw = MulDiv64(width, s.scaleX, 1000);
    int64_t left = width / 2 - sw / 2, top = height / 2 - sh / 2;
    left += MulDiv64(width, s.offsetX, 1000);
    top += MulDiv64(height, -static_cast<int64_t>(s.offsetY), 1000);
    return Rect{ClampToPlusMinus2Pow30(left), ClampToPlusMinus2Pow30(top),
                ClampToPlusMinus2Pow30(left + sw), ClampToPlusMinus2Pow30(top + sh)};
}

}  // namespace kvx
