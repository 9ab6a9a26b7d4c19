// The darkest luma that still counts as picture, by default. Bars at video black (16) and
// up to about 24 with noise and compression ringing stay below it.
#pragma once
#include <cstdint>

namespace kvx {

constexpr int32_t kDefaultBlackLevel = 36;

}  // namespace kvx
