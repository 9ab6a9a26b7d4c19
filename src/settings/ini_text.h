// The settings file's text: the loaded image, scanned as raw bytes for sections and keys,
// and the output buffer a new text is built in. The image is never edited.
//
// Lines end at CR or LF; a CR or LF right after the terminator belongs to it (so CR LF,
// LF CR, CR CR and LF LF each end one line), and a last line without a terminator is
// never delivered. Section names and keys compare byte for byte, case included.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/setting_descriptor.h"

namespace kvx {

class IniText {
public:
    using Reallocate = void* (*)(void*, size_t);

    IniText() = default;
    ~IniText();
    IniText(const IniText&) = delete;
    IniText& operator=(const IniText&) = delete;

    // ---- The image -------------------------------------------------------------------
    // Takes `bytes` as the image; cursor and section position go to 0. False when it could
    // not be kept (2 GiB or more, or no memory for its index): the image is then empty.
    bool SetImage(std::vector<char> bytes);
    void ClearImage() { SetImage({}); }
    size_t ImageSize() const { return image_.size(); }
    const char* ImageData() const { return image_.data(); }

    // The next line from the read cursor; false at the end and for an unterminated last line.
    bool ReadLine(std::string* line);
    // Finds the header "[name]" (name trimmed; the header line may have whitespace around
    // it), searching circularly from the section found last. On success the read cursor
    // stands on the line after the header.
    bool FindSection(const std::string& name);
    // The name between the brackets of the next header after the section position; no
    // wrap-around. The line at the section position itself is always skipped.
    bool NextSection(std::string* name);
    // The raw, untrimmed text after the first "=" of the first line of `section` whose
    // name is `key`; false when there is none or that value is empty.
    bool FindValue(const std::string& section, const char* key, std::string* value);

    // Where the section found last starts. Only a value taken from here may be put back.
    size_t SectionPosition() const { return sectionPos_; }
    void SetSectionPosition(size_t position) { sectionPos_ = position; }

    // Typed lookups: the converted value, or the default when FindValue fails.
    void GetByte(const std::string& section, const char* key, uint8_t* value, uint8_t def);
    void GetShort(const std::string& section, const char* key, int16_t* value, int16_t def);
    void GetWord(const std::string& section, const char* key, uint16_t* value, uint16_t def);
    void GetInt(const std::string& section, const char* key, int32_t* value, int32_t def);
    void GetUInt(const std::string& section, const char* key, uint32_t* value, uint32_t def);
    void GetLong(const std::string& section, const char* key, int32_t* value, int32_t def);
    void GetInt64(const std::string& section, const char* key, int64_t* value, int64_t def);
    void GetUInt64(const std::string& section, const char* key, uint64_t* value, uint64_t def);
    void GetString(const std::string& section, const char* key, std::string* value,
                   const char* def);
    // The Get operation of every row, in row order.
    void ReadSettings(const std::string& section, const SettingDescriptor* rows, size_t count);

    // ---- The output buffer -----------------------------------------------------------
    // Drops the old buffer and allocates `capacity` bytes; false when that fails.
    bool ResetOutput(size_t capacity);
    // Appends the text, growing the buffer in steps of 100000 bytes. When the buffer cannot
    // grow, this text is dropped whole and the buffer stays as it was.
    void AppendText(const char* text) { Append(text, std::char_traits<char>::length(text)); }
    void PutSection(const char* name);   // "[name]" CR LF, name trimmed
    void PutKeySection(int64_t key);     // a header named by the signed decimal key
    void PutString(const char* key, const char* value);  // key (trimmed) "=" value CR LF
    void PutByte(const char* key, uint8_t value);
    void PutShort(const char* key, int16_t value);
    void PutWord(const char* key, uint16_t value);
    void PutInt(const char* key, int32_t value);
    void PutUInt(const char* key, uint32_t value);
    void PutInt64(const char* key, int64_t value);
    void PutUInt64(const char* key, uint64_t value);
    // The Put operation of every row with its variable's value, in row order.
    void WriteSettings(const SettingDescriptor* rows, size_t count);

    const char* Output() const { return output_; }
    size_t OutputLength() const { return outputLength_; }
    size_t OutputCapacity() const { return outputCapacity_; }
    // False when some text was dropped since the last ResetOutput: the output is then not
    // the whole text and must not replace a file.
    bool OutputComplete() const { return outputComplete_; }

    // Replaces the allocator of the output buffer (tests inject failures with it).
    void SetReallocate(Reallocate reallocate) { reallocate_ = reallocate; }

private:
    // A header candidate (a trimmed line that starts with "[" and ends with "]").
    struct Header {
        uint64_t hash;       // of the trimmed line: most comparisons end here
        uint32_t start;      // where the line starts
        uint32_t next;       // where the line after it starts
        uint32_t textBegin;  // the trimmed line
        uint32_t textLength;
    };

    bool NextLine(size_t* begin, size_t* end);  // ReadLine without copying
    bool HeaderAtSectionIs(const std::string& target);
    bool IndexHeaders();
    void Append(const char* text, size_t length);

    std::vector<char> image_;
    size_t cursor_ = 0;
    size_t sectionPos_ = 0;
    // Every header line of the image, ordered by text (hash first) and then by position, so a circular
    // search from the section position becomes one binary search: the answers are those of
    // a line-by-line scan, without its cost on a file of many unmatched headers.
    std::vector<Header> headers_;
    std::vector<uint32_t> headerStarts_;  // the same lines in text order

    char* output_ = nullptr;
    size_t outputLength_ = 0;
    size_t outputCapacity_ = 0;
    Reallocate reallocate_ = nullptr;  // null: std::realloc
    bool outputComplete_ = true;
    std::string scratch_;  // the value text found or formatted last
    std::string line_;     // the line being appended
};

}  // namespace kvx
