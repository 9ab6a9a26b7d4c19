// One channel's eight settings plus its 64-bit channel key (40 bytes, copied as a whole).
#pragma once
#include <cstdint>

namespace kvx {

using ChannelKey = uint64_t;

struct ChannelProfile {
    uint32_t keyLow;
    uint32_t keyHigh;
    uint32_t procEnable;   // frame processing on
    int32_t offsetX;       // thousandths of the frame width, positive moves right
    int32_t offsetY;       // thousandths of the frame height, positive moves up
    int32_t scaleX;        // thousandths of the frame width, 1000 = unchanged
    int32_t scaleY;        // thousandths of the frame height
    uint32_t keepAspect;   // the dialog keeps scaleX and scaleY equal
    uint32_t interlace;    // scale the two fields separately
    uint32_t deinterlace;  // blend lines before scaling

    ChannelKey Key() const { return (static_cast<ChannelKey>(keyHigh) << 32) | keyLow; }
    void SetKey(uint32_t low, uint32_t high) {
        keyLow = low;
        keyHigh = high;
    }
};
static_assert(sizeof(ChannelProfile) == 40, "ChannelProfile is a 40-byte record");

// The built-in defaults of the eight settings (key 0).
constexpr ChannelProfile kBuiltInProfile{0, 0, 0, 0, 0, 1000, 1000, 1, 1, 0};

}  // namespace kvx
