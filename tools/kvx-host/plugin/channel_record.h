// A ChannelInfo with its name stored inline, laid out as the host hands it to the plug-in.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/abi.h"

namespace kvx {

class ChannelRecord {
public:
    ChannelRecord() = default;
    ChannelRecord(uint32_t keyLow, uint32_t keyHigh, const std::string& name) {
        Set(keyLow, keyHigh, name);
    }
    void Set(uint32_t keyLow, uint32_t keyHigh, const std::string& name) {
        bytes_.assign(offsetof(ChannelInfo, name) + name.size() + 1, 0);
        info()->keyLow = keyLow;
        info()->keyHigh = keyHigh;
        std::memcpy(info()->name, name.data(), name.size());
    }
    bool Empty() const { return bytes_.empty(); }
    ChannelInfo* info() { return reinterpret_cast<ChannelInfo*>(bytes_.data()); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace kvx
