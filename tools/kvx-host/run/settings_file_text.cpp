#include "run/settings_file_text.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "files/files.h"
#include "settings/decimal.h"

namespace kvx {
namespace {

// How far a settings file must show a line of its own kind.
constexpr size_t kHeadBytes = 4096;

struct Signature {
    size_t offset;
    const char* bytes;
    size_t length;
    const char* what;
};

// Files a user may name by mistake, by their first bytes.
const Signature kSignatures[] = {
    {0, "MZ", 2, "a Windows program or library"},
    {0, "\x7f" "ELF", 4, "a Linux program or library"},
    {0, "\x89PNG\r\n\x1a\n", 8, "a PNG picture"},
    {0, "\xff\xd8\xff", 3, "a JPEG picture"},
    {0, "GIF8", 4, "a GIF picture"},
    {0, "RIFF", 4, "a RIFF file (AVI video, WAV sound)"},
    {4, "ftyp", 4, "an MP4 or QuickTime video"},
    {0, "\x1a\x45\xdf\xa3", 4, "a Matroska or WebM video"},
    {0, "OggS", 4, "an Ogg file"},
    {0, "FLV\x01", 4, "a Flash video"},
    {0, "ID3", 3, "an MP3 sound"},
    {0, "PK\x03\x04", 4, "a ZIP archive (or a document packed as one)"},
    {0, "%PDF-", 5, "a PDF document"},
    {0, "\x1f\x8b", 2, "a gzip archive"},
    {0, "7z\xbc\xaf\x27\x1c", 6, "a 7-Zip archive"},
    {0, "Rar!\x1a\x07", 6, "a RAR archive"},
};

// An MPEG transport stream: a sync byte every 188 bytes (every 192 in .m2ts and .mts,
// after a 4-byte time code).
bool LooksLikeTransportStream(const std::string& b) {
    for (size_t start : {0, 4}) {
        const size_t packet = start == 0 ? 188 : 192;
        if (b.size() > start + 2 * packet && b[start] == 0x47 && b[start + packet] == 0x47 &&
            b[start + 2 * packet] == 0x47)
            return true;
    }
    return false;
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsIniSpace(text[begin])) ++begin;
    while (end > begin && IsIniSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Calls `line(text, ended)` for every line as the plug-in splits them: a line ends at CR or
// LF, and `ended` is false for a last line without either (which the plug-in never reads).
template <class Each>
void ForEachLine(const std::string& bytes, Each line) {
    for (size_t start = 0; start < bytes.size();) {
        const size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            line(bytes.substr(start), false);
            return;
        }
        line(bytes.substr(start, end - start), true);
        start = end + 1;
    }
}

bool IsHeader(const std::string& trimmed) {
    return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

bool IsKeyLine(const std::string& trimmed) {
    const size_t equals = trimmed.find('=');
    return equals != std::string::npos && equals > 0;
}

// The sections the plug-in reads by name, and their keys; channel sections (named by a
// non-zero number) have the keys of COMMON and DEFAULT.
enum class Kind { kNone, kUnread, kDialog, kSettings, kProfile };
const char* const kFixedSections[] = {"DIALOG", "SETTINGS", "COMMON", "DEFAULT"};
const Kind kFixedKinds[] = {Kind::kDialog, Kind::kSettings, Kind::kProfile, Kind::kProfile};

std::vector<std::string> KeysOf(Kind kind) {
    if (kind == Kind::kDialog) return {"DlgWndPosX", "DlgWndPosY"};
    if (kind == Kind::kSettings) return {"Common"};
    std::vector<std::string> keys;
    for (const SettingInfo& s : kSettingList) keys.push_back(s.key);
    return keys;
}

// "Name" when `name` differs from one of `names` in case alone; "" otherwise.
std::string SameButCase(const std::string& name, const std::vector<std::string>& names) {
    for (const std::string& n : names)
        if (Lower(n) == Lower(name)) return n;
    return std::string();
}

std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

// The value as the dialog shows it: per cent for the geometry, the number for switches.
std::string Shown(int64_t value, const SettingInfo& s) {
    return s.unit == SettingUnit::kPerMille ? PerMilleAsPercent(static_cast<int32_t>(value)) + " %"
                                            : std::to_string(value);
}

// Whether the value text is a number and nothing else (blanks around it are fine).
bool IsPlainNumber(const std::string& value) {
    std::string t = Trimmed(value);
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.erase(0, 1);
    return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const SettingInfo* SettingOf(const std::string& key, Kind kind) {
    if (kind != Kind::kProfile) return nullptr;
    for (const SettingInfo& s : kSettingList)
        if (key == s.key) return &s;
    return nullptr;
}

// What the plug-in makes of the value of one key it reads in `section`; "" when it reads it
// as it looks.
std::string ValueWarning(const std::string& key, const std::string& value, Kind kind, const std::string& section) {
    std::string text = key + "=" + Trimmed(value) + " in [" + section + "]";
    if (value.empty()) return text + " has no value: the plug-in uses the default";
    const SettingInfo* s = SettingOf(key, kind);
    const char* end = value.data() + value.size();
    const int64_t read = s && s->unit == SettingUnit::kSwitch ? int64_t{DecimalToUInt32Bits(value.data(), end)}
                                                              : int64_t{DecimalToInt32(value.data(), end)};
    const bool plain = IsPlainNumber(value), outside = s && (read < s->dialogLow || read > s->dialogHigh);
    if (plain && !outside) return std::string();
    if (!plain) text += " is read as " + std::to_string(read);
    if (s && s->unit == SettingUnit::kPerMille) text += " (" + Shown(read, *s) + ")";
    if (outside)
        text += std::string(plain ? " is" : ",") + " outside the settings dialog's range " + Shown(s->dialogLow, *s) +
                " to " + Shown(s->dialogHigh, *s) + ": the plug-in uses it as it is";
    return text;
}

}  // namespace

std::string WhyNotSettingsText(const std::string& bytes) {
    for (const Signature& s : kSignatures)
        if (bytes.size() >= s.offset + s.length && bytes.compare(s.offset, s.length, s.bytes, s.length) == 0)
            return std::string("it starts like ") + s.what;
    if (LooksLikeTransportStream(bytes)) return "it is an MPEG transport stream (a recording)";
    if (bytes.compare(0, 2, "\xff\xfe") == 0 || bytes.compare(0, 2, "\xfe\xff") == 0)
        return "it is text in UTF-16 (\"Unicode\"), which the plug-in cannot read: save it as ANSI";
    if (bytes.find('\0') != std::string::npos) return "it holds NUL bytes, which no settings text has";
    // The plug-in skips a UTF-8 byte-order mark; blanks alone are an empty file.
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < bytes.size() && IsIniSpace(bytes[start])) ++start;
    if (start == bytes.size()) return std::string();
    bool found = false;
    ForEachLine(bytes.substr(start, kHeadBytes), [&](const std::string& line, bool) {
        const std::string t = Trimmed(line);
        found = found || IsHeader(t) || IsKeyLine(t);
    });
    return found ? std::string() : "none of its first lines is a [SECTION] header or a Key=value line";
}

std::vector<std::string> SettingsTextWarnings(const std::string& bytes, const std::vector<ChannelKey>& loaded) {
    // Channel sections the plug-in passed over: a key's first headers beyond its records.
    std::map<ChannelKey, long> unread;
    ForEachLine(bytes, [&](const std::string& line, bool) {
        const std::string t = Trimmed(line);
        if (!IsHeader(t)) return;
        const std::string name = t.substr(1, t.size() - 2);
        if (const ChannelKey key = DecimalToInt64(name.data(), name.data() + name.size())) ++unread[key];
    });
    for (ChannelKey key : loaded) --unread[key];

    std::vector<std::string> said;
    size_t more = 0;  // warnings past the limit, counted only
    // The file's own text is shown: no control characters reach the terminal, and a long
    // line is cut.
    const auto say = [&](std::string warning) {
        if (said.size() == kMaxSettingsWarnings) {
            ++more;
            return;
        }
        for (char& c : warning) c = static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        if (warning.size() > 300) {
            size_t cut = 297;
            while (cut > 0 && (static_cast<unsigned char>(warning[cut]) & 0xC0) == 0x80) --cut;  // whole letters
            warning = warning.substr(0, cut) + "...";
        }
        said.push_back(warning);
    };
    Kind kind = Kind::kNone;
    std::string section;
    std::vector<std::string> seen;  // the keys met in this section
    ForEachLine(bytes, [&](const std::string& line, bool ended) {
        const std::string t = Trimmed(line);
        if (t.empty()) return;
        if (!ended) {
            say("the last line, " + t + ", has no line end: the plug-in does not read it");
            return;
        }
        if (t[0] == '[' && !IsHeader(t)) {
            say(t + " has no closing ]: the plug-in reads no key after it up to the next section");
            kind = Kind::kUnread;
            return;
        }
        if (IsHeader(t)) {
            section = t.substr(1, t.size() - 2);
            seen.clear();
            kind = Kind::kUnread;
            for (size_t i = 0; i < 4; ++i)
                if (section == kFixedSections[i]) kind = kFixedKinds[i];
            if (kind != Kind::kUnread) return;
            const ChannelKey key = DecimalToInt64(section.data(), section.data() + section.size());
            const std::vector<std::string> fixed(std::begin(kFixedSections), std::end(kFixedSections));
            if (key == 0) {
                const std::string likely = SameButCase(section, fixed);
                say(t + " is not a section the plug-in reads" +
                               (likely.empty() ? " (it reads " + Listed(fixed) + " and channel numbers)"
                                               : ": names are case-sensitive (" + likely + ")"));
            } else if (unread[key] > 0) {
                --unread[key];
                say(t + " is not read: the plug-in reads channel sections only after its own (" +
                               Listed(fixed) + "), and a save leaves it out");
            } else if (Trimmed(section) != section) {
                say(t + " has blanks inside its brackets: the plug-in keeps channel " + std::to_string(key) +
                               " with the built-in defaults, not with the values below it");
            } else {
                kind = Kind::kProfile;
            }
            return;
        }
        const size_t equals = t.find('=');
        if (equals == std::string::npos) return;  // no key: a comment
        // The value is all after the first "=", blanks included, as the plug-in takes it.
        const std::string key = Trimmed(t.substr(0, equals)), value = line.substr(line.find('=') + 1);
        if (kind == Kind::kNone) {
            say(t + " stands before any section: the plug-in does not read it");
            return;
        }
        if (kind == Kind::kUnread) return;  // said once, for its section
        const std::vector<std::string> keys = KeysOf(kind);
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            const std::string likely = SameButCase(key, keys);
            say(key + "= is not a key the plug-in reads in [" + section + "]" +
                           (likely.empty() ? " (it reads " + Listed(keys) + ")"
                                           : ": keys are case-sensitive (" + likely + ")"));
        } else if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
            say(t + " in [" + section + "] comes after another " + key +
                           " line: the plug-in reads the first one only");
        } else {
            seen.push_back(key);
            const std::string warning = ValueWarning(key, value, kind, section);
            if (!warning.empty()) say(warning);
        }
    });
    if (more > 0) said.push_back("and " + std::to_string(more) + " more");
    return said;
}

}  // namespace kvx
