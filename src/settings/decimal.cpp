#include "settings/decimal.h"

#include <limits>

namespace kvx {
namespace {

struct Decimal {
    bool negative = false;
    bool overflow = false;  // the magnitude did not fit in 64 bits
    uint64_t magnitude = 0;
};

Decimal Parse(const char* p, const char* end) {
    Decimal d;
    while (p < end && IsIniSpace(*p)) ++p;
    if (p < end && (*p == '+' || *p == '-')) d.negative = *p++ == '-';
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (d.magnitude > (UINT64_MAX - digit) / 10)
            d.overflow = true;  // keep reading: the digits are consumed either way
        else
            d.magnitude = d.magnitude * 10 + digit;
    }
    if (d.overflow) d.magnitude = UINT64_MAX;
    return d;
}

// The value clamped to [-negativeLimit, positiveLimit], as two's complement bits.
uint64_t Clamp(const Decimal& d, uint64_t negativeLimit, uint64_t positiveLimit) {
    if (d.negative) {
        uint64_t m = d.magnitude < negativeLimit ? d.magnitude : negativeLimit;
        return 0 - m;
    }
    return d.magnitude < positiveLimit ? d.magnitude : positiveLimit;
}

}  // namespace

int32_t DecimalToInt32(const char* text, const char* end) {
    return static_cast<int32_t>(static_cast<uint32_t>(Clamp(Parse(text, end), 0x80000000u, 0x7FFFFFFFu)));
}

uint32_t DecimalToUInt32Bits(const char* text, const char* end) {
    return static_cast<uint32_t>(Clamp(Parse(text, end), 0x80000000u, 0xFFFFFFFFu));
}

int64_t DecimalToInt64(const char* text, const char* end) {
    return static_cast<int64_t>(Clamp(Parse(text, end), 1ull << 63, (1ull << 63) - 1));
}

uint64_t DecimalToUInt64Bits(const char* text, const char* end) {
    return Clamp(Parse(text, end), 1ull << 63, UINT64_MAX);
}

}  // namespace kvx
