// The live fit of each channel shown in this session, brought back at once when the channel
// is shown again. A fixed table built with the plug-in: when it is full, the channel shown
// least recently gives way.
#pragma once
#include <array>
#include <cstdint>

#include "platform/geometry.h"
#include "settings/channel_profile.h"

namespace kvx {

// The geometry the live fit applies over a profile's own zoom and offsets.
struct FitInForce {
    bool active = false;
    Rect shown{0, 0, 0, 0};  // the picture, with any bar that shows text or a logo
    uint8_t kept = 0;        // SideBits kept for text or a logo while this fit lasts
    int32_t scaleX = 1000, scaleY = 1000, offsetX = 0, offsetY = 0;
    bool keepAspect = false, interlaced = false;  // what the settings were worked out for
};

class ChannelFits {
public:
    static constexpr size_t kChannels = 32;

    void Clear() { entries_ = {}; }

    void Store(ChannelKey key, const FitInForce& fit) {
        Entry* slot = &entries_[0];
        for (Entry& e : entries_) {
            if (e.used && e.key == key) {
                slot = &e;
                break;
            }
            if (!e.used || (slot->used && e.shown < slot->shown)) slot = &e;  // free, or the oldest
        }
        *slot = Entry{true, key, ++clock_, fit};
    }

    // The channel's last fit, or null when it has none stored.
    const FitInForce* Find(ChannelKey key) const {
        for (const Entry& e : entries_)
            if (e.used && e.key == key) return &e.fit;
        return nullptr;
    }

private:
    struct Entry {
        bool used = false;
        ChannelKey key = 0;
        unsigned long long shown = 0;  // when it was stored: the clock below
        FitInForce fit;
    };
    std::array<Entry, kChannels> entries_{};
    unsigned long long clock_ = 0;
};

}  // namespace kvx
