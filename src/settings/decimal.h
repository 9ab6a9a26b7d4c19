// Decimal text to integers, as settings values and section names are read: leading
// whitespace skipped, an optional sign, then digits up to the first other character;
// no digits give 0.
//
// Out of range: the unsigned forms accept everything from the most negative value of
// the signed type of their width up to the largest unsigned value and keep the bit
// pattern (so "-1" and "4294967295" both give 0xFFFFFFFF, and every value written reads
// back to itself); beyond that, and beyond the range of a signed form, the result
// saturates at the nearest end of the accepted range.
#pragma once
#include <cstdint>

namespace kvx {

int32_t DecimalToInt32(const char* text, const char* end);
uint32_t DecimalToUInt32Bits(const char* text, const char* end);  // -2^31 .. 2^32-1
int64_t DecimalToInt64(const char* text, const char* end);
uint64_t DecimalToUInt64Bits(const char* text, const char* end);  // -2^63 .. 2^64-1

// Whitespace of settings text: blank, tab, CR, LF, vertical tab and form feed.
inline bool IsIniSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace kvx
