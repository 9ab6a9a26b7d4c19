// One channel's nine settings plus its 64-bit channel key (44 bytes, copied as a whole).
#pragma once
#include <cstdint>

#include "settings/setting_list.h"

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
    uint32_t autoFit = 0;  // zoom black bars away by itself

    ChannelKey Key() const { return (static_cast<ChannelKey>(keyHigh) << 32) | keyLow; }
    void SetKey(uint32_t low, uint32_t high) {
        keyLow = low;
        keyHigh = high;
    }
};
static_assert(sizeof(ChannelProfile) == 44, "ChannelProfile is a 44-byte record");

// The built-in defaults of the nine settings (key 0).
constexpr ChannelProfile kBuiltInProfile{0,
                                         0,
                                         static_cast<uint32_t>(kSettingList[kProcEnable].builtIn),
                                         kSettingList[kOffsetX].builtIn,
                                         kSettingList[kOffsetY].builtIn,
                                         kSettingList[kScaleX].builtIn,
                                         kSettingList[kScaleY].builtIn,
                                         static_cast<uint32_t>(kSettingList[kKeepAspect].builtIn),
                                         static_cast<uint32_t>(kSettingList[kInterlace].builtIn),
                                         static_cast<uint32_t>(kSettingList[kDeinterlace].builtIn),
                                         static_cast<uint32_t>(kSettingList[kAutoFit].builtIn)};

// The field of `p` that holds setting `id` (every field is 32 bits: a switch is read as 0/1).
inline int32_t& SettingField(ChannelProfile& p, SettingId id) {
    int32_t* const fields[kSettingCount] = {reinterpret_cast<int32_t*>(&p.procEnable), &p.offsetX, &p.offsetY,
                                            &p.scaleX, &p.scaleY, reinterpret_cast<int32_t*>(&p.keepAspect),
                                            reinterpret_cast<int32_t*>(&p.interlace),
                                            reinterpret_cast<int32_t*>(&p.deinterlace),
                                            reinterpret_cast<int32_t*>(&p.autoFit)};
    return *fields[id];
}

}  // namespace kvx
