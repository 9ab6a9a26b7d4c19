#include "settings/ini_text.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "settings/decimal.h"

namespace kvx {
namespace {

constexpr size_t kGrowthStep = 100000;

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

void TrimSpan(const char* base, size_t* begin, size_t* end) {
    while (*begin < *end && IsIniSpace(base[*begin])) ++*begin;
    while (*end > *begin && IsIniSpace(base[*end - 1])) --*end;
}

std::string Trimmed(const char* text, size_t length) {
    size_t begin = 0, end = length;
    TrimSpan(text, &begin, &end);
    return std::string(text + begin, end - begin);
}

// Three-way byte comparison of two texts, shorter first on a common prefix.
int Compare(const char* a, size_t aLength, const char* b, size_t bLength) {
    int c = std::memcmp(a, b, std::min(aLength, bLength));
    if (c != 0) return c;
    return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

uint64_t Hash(const char* text, size_t length) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (size_t i = 0; i < length; ++i) h = (h ^ static_cast<unsigned char>(text[i])) * 1099511628211ull;
    return h;
}

uint64_t Default64(const SettingDescriptor& row) {
    return (static_cast<uint64_t>(row.defaultHigh) << 32) | row.defaultLow;
}

}  // namespace

IniText::~IniText() { std::free(output_); }

// ---- The image ---------------------------------------------------------------------

bool IniText::SetImage(std::vector<char> bytes) {
    image_.swap(bytes);
    cursor_ = 0;
    sectionPos_ = 0;
    bool kept = image_.size() <= static_cast<size_t>(INT_MAX) && IndexHeaders();
    if (!kept) {
        image_ = std::vector<char>();
        headers_ = std::vector<Header>();
        headerStarts_ = std::vector<uint32_t>();
    }
    return kept;
}

bool IniText::NextLine(size_t* begin, size_t* end) {
    const size_t size = image_.size();
    if (cursor_ == size) return false;
    const size_t start = cursor_;
    const char* data = image_.data();
    const char* hit = std::find_if(data + start, data + size, IsLineEnd);
    if (hit == data + size) {
        cursor_ = size;  // an unterminated last line is never delivered
        return false;
    }
    cursor_ = static_cast<size_t>(hit - data);
    *begin = start;
    *end = cursor_;
    ++cursor_;
    if (cursor_ < size && IsLineEnd(data[cursor_])) ++cursor_;
    return true;
}

bool IniText::ReadLine(std::string* line) {
    line->clear();
    size_t begin, end;
    if (!NextLine(&begin, &end)) return false;
    line->assign(image_.data() + begin, end - begin);
    return true;
}

bool IniText::IndexHeaders() {
    headers_.clear();
    headerStarts_.clear();
    const size_t savedCursor = cursor_;
    cursor_ = 0;
    size_t begin, end;
    try {
        for (size_t start = 0; NextLine(&begin, &end); start = cursor_) {
            TrimSpan(image_.data(), &begin, &end);
            if (end - begin >= 2 && image_[begin] == '[' && image_[end - 1] == ']') {
                headers_.push_back(Header{Hash(image_.data() + begin, end - begin),
                                          static_cast<uint32_t>(start), static_cast<uint32_t>(cursor_),
                                          static_cast<uint32_t>(begin),
                                          static_cast<uint32_t>(end - begin)});
                headerStarts_.push_back(static_cast<uint32_t>(start));
            }
        }
    } catch (const std::bad_alloc&) {
        return false;  // without the index the image cannot be searched
    }
    cursor_ = savedCursor;
    const char* data = image_.data();
    std::sort(headers_.begin(), headers_.end(), [data](const Header& a, const Header& b) {
        if (a.hash != b.hash) return a.hash < b.hash;
        int c = Compare(data + a.textBegin, a.textLength, data + b.textBegin, b.textLength);
        return c != 0 ? c < 0 : a.start < b.start;
    });
    return true;
}

// The first line a scan from the section position looks at: a run of lookups in one
// section ends here.
bool IniText::HeaderAtSectionIs(const std::string& target) {
    // Only a header line can match; any other line is not even read (it may be long).
    if (!std::binary_search(headerStarts_.begin(), headerStarts_.end(), sectionPos_)) return false;
    cursor_ = sectionPos_;
    size_t begin, end;
    if (!NextLine(&begin, &end)) return false;
    TrimSpan(image_.data(), &begin, &end);
    return Compare(image_.data() + begin, end - begin, target.data(), target.size()) == 0;
}

bool IniText::FindSection(const std::string& name) {
    if (image_.empty()) return false;
    const std::string target = "[" + Trimmed(name.data(), name.size()) + "]";
    if (HeaderAtSectionIs(target)) return true;  // the cursor stands after it
    const char* data = image_.data();
    const uint64_t hash = Hash(target.data(), target.size());
    // A line-by-line scan from the section position, wrapping at the end, meets the
    // matching headers in this order: first those at or after the section position, then
    // the first one of the text.
    auto before = [&](const Header& h, size_t position) {
        if (h.hash != hash) return h.hash < hash;
        int c = Compare(data + h.textBegin, h.textLength, target.data(), target.size());
        return c != 0 ? c < 0 : h.start < position;
    };
    auto matches = [&](std::vector<Header>::const_iterator it) {
        return it != headers_.end() && it->hash == hash &&
               Compare(data + it->textBegin, it->textLength, target.data(), target.size()) == 0;
    };
    auto it = std::lower_bound(headers_.cbegin(), headers_.cend(), sectionPos_, before);
    if (!matches(it)) it = std::lower_bound(headers_.cbegin(), headers_.cend(), size_t{0}, before);
    if (!matches(it)) {
        cursor_ = sectionPos_;  // where the full circle of the scan ends
        return false;
    }
    sectionPos_ = it->start;
    cursor_ = it->next;
    return true;
}

bool IniText::NextSection(std::string* name) {
    if (image_.empty()) return false;
    size_t begin, end;
    cursor_ = sectionPos_;
    NextLine(&begin, &end);  // the current section's own header, or the text's first line
    for (size_t p = cursor_; NextLine(&begin, &end); p = cursor_) {
        TrimSpan(image_.data(), &begin, &end);
        if (end - begin >= 2 && image_[begin] == '[' && image_[end - 1] == ']') {
            sectionPos_ = p;
            name->assign(image_.data() + begin + 1, end - begin - 2);
            return true;
        }
    }
    return false;
}

bool IniText::FindValue(const std::string& section, const char* key, std::string* value) {
    const std::string wanted = Trimmed(key, std::strlen(key));
    if (!FindSection(section)) return false;
    const char* data = image_.data();
    size_t begin, end;
    while (NextLine(&begin, &end)) {
        while (begin < end && IsIniSpace(data[begin])) ++begin;
        if (begin == end) continue;
        if (data[begin] == '[') return false;  // the next section begins
        const void* eq = std::memchr(data + begin, '=', end - begin);
        if (!eq) continue;
        const size_t equals = static_cast<size_t>(static_cast<const char*>(eq) - data);
        size_t nameEnd = equals;
        while (nameEnd > begin && IsIniSpace(data[nameEnd - 1])) --nameEnd;
        if (Compare(data + begin, nameEnd - begin, wanted.data(), wanted.size()) != 0) continue;
        // The first line with the key decides, even when its value is empty.
        if (equals + 1 == end) return false;
        value->assign(data + equals + 1, end - equals - 1);
        return true;
    }
    return false;
}

// ---- Typed lookups -------------------------------------------------------------------

#define KVX_GET(Name, Type, Convert)                                                         \
    void IniText::Name(const std::string& section, const char* key, Type* value, Type def) { \
        *value = FindValue(section, key, &scratch_)                                          \
                     ? static_cast<Type>(Convert(scratch_.data(), scratch_.data() + scratch_.size())) \
                     : def;                                                                  \
    }
KVX_GET(GetByte, uint8_t, DecimalToUInt32Bits)
KVX_GET(GetShort, int16_t, DecimalToInt32)
KVX_GET(GetWord, uint16_t, DecimalToUInt32Bits)
KVX_GET(GetInt, int32_t, DecimalToInt32)
KVX_GET(GetUInt, uint32_t, DecimalToUInt32Bits)
KVX_GET(GetLong, int32_t, DecimalToInt32)
KVX_GET(GetInt64, int64_t, DecimalToInt64)
KVX_GET(GetUInt64, uint64_t, DecimalToUInt64Bits)
#undef KVX_GET

void IniText::GetString(const std::string& section, const char* key, std::string* value,
                        const char* def) {
    if (FindValue(section, key, &scratch_))
        *value = scratch_;
    else
        *value = def ? def : "";
}

void IniText::ReadSettings(const std::string& section, const SettingDescriptor* rows,
                           size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const SettingDescriptor& r = rows[i];
        if (!r.key || !r.value) continue;
        switch (r.type) {
        case 0: GetByte(section, r.key, static_cast<uint8_t*>(r.value), static_cast<uint8_t>(r.defaultLow)); break;
        case 1: GetShort(section, r.key, static_cast<int16_t*>(r.value), static_cast<int16_t>(r.defaultLow)); break;
        case 2: case 3: GetWord(section, r.key, static_cast<uint16_t*>(r.value), static_cast<uint16_t>(r.defaultLow)); break;
        case 4: case 5: case 7: case 9: GetUInt(section, r.key, static_cast<uint32_t*>(r.value), r.defaultLow); break;
        case 6: case 8: GetInt(section, r.key, static_cast<int32_t*>(r.value), static_cast<int32_t>(r.defaultLow)); break;
        case 10: GetInt64(section, r.key, static_cast<int64_t*>(r.value), static_cast<int64_t>(Default64(r))); break;
        case 11: GetUInt64(section, r.key, static_cast<uint64_t*>(r.value), Default64(r)); break;
        case 12: GetString(section, r.key, static_cast<std::string*>(r.value), r.defaultText); break;
        default: break;  // an unknown type is skipped
        }
    }
}

// ---- The output buffer ---------------------------------------------------------------

bool IniText::ResetOutput(size_t capacity) {
    std::free(output_);
    output_ = nullptr;
    outputLength_ = outputCapacity_ = 0;
    outputComplete_ = true;
    Reallocate grow = reallocate_ ? reallocate_ : std::realloc;
    output_ = static_cast<char*>(grow(nullptr, capacity));
    if (!output_) return false;
    outputCapacity_ = capacity;
    return true;
}

void IniText::Append(const char* text, size_t length) {
    if (length == 0) return;
    if (length > static_cast<size_t>(INT_MAX) - outputLength_) {  // lengths stay 32-bit
        outputComplete_ = false;
        return;
    }
    const size_t needed = outputLength_ + length;
    if (needed > outputCapacity_) {
        size_t steps = (needed - outputCapacity_ + kGrowthStep - 1) / kGrowthStep;
        size_t capacity = outputCapacity_ + steps * kGrowthStep;
        Reallocate grow = reallocate_ ? reallocate_ : std::realloc;
        char* grown = static_cast<char*>(grow(output_, capacity));
        if (!grown) {  // this text is lost; the buffer held so far stays usable
            outputComplete_ = false;
            return;
        }
        output_ = grown;
        outputCapacity_ = capacity;
    }
    std::memcpy(output_ + outputLength_, text, length);
    outputLength_ += length;
}

void IniText::PutSection(const char* name) {
    line_ = "[" + Trimmed(name, std::strlen(name)) + "]\r\n";
    Append(line_.data(), line_.size());
}

void IniText::PutKeySection(int64_t key) {
    char name[24];
    std::snprintf(name, sizeof name, "%" PRId64, key);
    PutSection(name);
}

void IniText::PutString(const char* key, const char* value) {
    // One append per line: a line that does not fit is lost whole, never half.
    line_ = Trimmed(key, std::strlen(key));
    line_ += '=';
    line_ += value;
    line_ += "\r\n";
    Append(line_.data(), line_.size());
}

#define KVX_PUT(Name, Type, Format, Cast)                    \
    void IniText::Name(const char* key, Type value) {        \
        char text[24];                                       \
        std::snprintf(text, sizeof text, Format, Cast(value)); \
        PutString(key, text);                                \
    }
KVX_PUT(PutByte, uint8_t, "%u", static_cast<unsigned>)
KVX_PUT(PutShort, int16_t, "%d", static_cast<int>)
KVX_PUT(PutWord, uint16_t, "%u", static_cast<unsigned>)
KVX_PUT(PutInt, int32_t, "%" PRId32, )
KVX_PUT(PutUInt, uint32_t, "%" PRIu32, )
KVX_PUT(PutInt64, int64_t, "%" PRId64, )
KVX_PUT(PutUInt64, uint64_t, "%" PRIu64, )
#undef KVX_PUT

void IniText::WriteSettings(const SettingDescriptor* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const SettingDescriptor& r = rows[i];
        if (!r.key || !r.value) continue;
        switch (r.type) {
        case 0: PutByte(r.key, *static_cast<const uint8_t*>(r.value)); break;
        case 1: PutShort(r.key, *static_cast<const int16_t*>(r.value)); break;
        case 2: case 3: PutWord(r.key, *static_cast<const uint16_t*>(r.value)); break;
        case 4: case 5: case 7: case 9: PutUInt(r.key, *static_cast<const uint32_t*>(r.value)); break;
        case 6: case 8: PutInt(r.key, *static_cast<const int32_t*>(r.value)); break;
        case 10: PutInt64(r.key, *static_cast<const int64_t*>(r.value)); break;
        case 11: PutUInt64(r.key, *static_cast<const uint64_t*>(r.value)); break;
        case 12: PutString(r.key, static_cast<const std::string*>(r.value)->c_str()); break;
        default: break;
        }
    }
}

}  // namespace kvx
