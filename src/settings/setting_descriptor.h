// One row of a table-driven group of settings: how a key's text maps onto a variable.
#pragma once
#include <cstdint>

namespace kvx {

// Type codes of a row; the variable's width follows the code. Codes above 12 are skipped.
enum SettingType : uint32_t {
    kSettingByte = 0,     // uint8_t, written "%u"
    kSettingShort = 1,    // int16_t, written "%d"
    kSettingWord = 2,     // uint16_t, written "%u" (3 is the same)
    kSettingUInt = 4,     // uint32_t, written "%u" (5, 7 and 9 are the same)
    kSettingInt = 6,      // int32_t, written "%d" (8 is the same)
    kSettingInt64 = 10,   // int64_t, signed decimal
    kSettingUInt64 = 11,  // uint64_t, unsigned decimal
    kSettingString = 12,  // std::string, the raw value text
    kSettingLastType = 12,
};

struct SettingDescriptor {
    uint32_t type;
    const char* key;
    void* value;  // receives the value on reading, supplies it on writing
    // The default: codes 10 and 11 use both halves, narrower codes the low half truncated
    // to their width.
    uint32_t defaultLow;
    uint32_t defaultHigh;
    // Code 12's default text (a pointer-sized slot of its own on every target; null is "").
    const char* defaultText;
};

}  // namespace kvx
