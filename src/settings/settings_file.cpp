// The store's file side: reading the settings file at start and rebuilding it at the end.
#include <cstring>
#include <vector>

#include "platform/file_system.h"
#include "platform/host_environment.h"
#include "settings/decimal.h"
#include "settings/settings_path.h"
#include "settings/settings_store.h"

namespace kvx {
namespace {

constexpr size_t kOutputCapacity = 100000;

bool IsReservedChannel(const ChannelProfile& p) {
    return p.keyHigh == 0 && p.keyLow >= 1 && p.keyLow <= 4;
}

}  // namespace

void SettingsStore::Load(const char* moduleBaseName, uint32_t reserved,
                         ChannelCheckProc channelCheck) {
    std::string path =
        ResolveSettingsPath(QueryHostEnvironment(), moduleBaseName ? moduleBaseName : "");
    LoadFile(path, reserved, channelCheck);
}

void SettingsStore::LoadFile(const std::string& path, uint32_t /*reserved: never used*/,
                             ChannelCheckProc channelCheck) {
    if (!path.empty()) CreateFolderChain(path.substr(0, path.find_last_of(kPathSeparator) + 1));
    LockGuard guard(lock_);
    channelCheck_ = channelCheck;
    path_ = path;
    profiles_.Clear();  // a second load starts afresh, it does not add duplicates
    ReadImage();

    ChannelProfile& current = profiles_.current;
    text_.GetLong("DIALOG", "DlgWndPosX", &profiles_.dialogX, -100);
    text_.GetLong("DIALOG", "DlgWndPosY", &profiles_.dialogY, -100);
    text_.ReadSettings("DEFAULT", table_.data(), table_.size());
    profiles_.defaults = current;
    text_.GetInt("SETTINGS", "Common", &profiles_.common, 1);
    text_.ReadSettings("COMMON", table_.data(), table_.size());
    current.SetKey(0, 0);
    if (!profiles_.Append(current)) keepFile_ = true;

    // Channel sections: those after the last section found above. Every section name
    // that is a non-zero number makes a record; other names are passed over.
    std::string name;
    while (text_.NextSection(&name)) {
        const uint64_t key = static_cast<uint64_t>(DecimalToInt64(name.data(), name.data() + name.size()));
        if (key == 0) continue;
        current.SetKey(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32));
        // The lookups may land on another header of the same name (the name is trimmed
        // for them), and the walk goes on from wherever they land. Landing at or before
        // this header would walk the same sections again without end: the walk then goes
        // on after this header instead.
        const size_t header = text_.SectionPosition();
        text_.ReadSettings(name, table_.data(), table_.size());
        if (text_.SectionPosition() <= header) text_.SetSectionPosition(header);
        if (!profiles_.Append(current)) {
            keepFile_ = true;  // records were lost: the file must not be rewritten without them
            break;
        }
    }
    profiles_.LoadActiveProfile();
}

// The file's bytes become the image; the file is created empty when it is missing.
void SettingsStore::ReadImage() {
    text_.ClearImage();
    keepFile_ = false;
    if (path_.empty()) return;
    std::vector<char> bytes;
    switch (Files().ReadWhole(path_, &bytes)) {
    case ReadStatus::kRead:
        // Editors such as Notepad start a UTF-8 file with a byte-order mark, which would
        // hide the first header. The image starts after it, so the mark is not written
        // back when the text is next saved.
        if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0)
            bytes.erase(bytes.begin(), bytes.begin() + 3);
        if (!text_.SetImage(std::move(bytes))) keepFile_ = true;
        break;
    case ReadStatus::kMissing:
        break;
    case ReadStatus::kUnreadable:
        keepFile_ = true;
        break;
    }
}

void SettingsStore::Save() {
    // Which channels the host still knows is asked first, without the lock: the host may
    // hold a lock of its own around its frame calls while it answers.
    std::vector<ChannelProfile> records;
    ChannelCheckProc check;
    {
        LockGuard guard(lock_);
        check = channelCheck_;
        for (size_t i = 1; i < profiles_.Count(); ++i) records.push_back(profiles_.Record(i));
    }
    std::vector<char> keep(records.size(), 1);
    for (size_t i = 0; i < records.size(); ++i) {
        // Without a callback nothing is known to be gone, so every record is kept.
        bool known = check ? check(records[i].keyLow, records[i].keyHigh) != 0 : true;
        keep[i] = known || IsReservedChannel(records[i]);
    }

    LockGuard guard(lock_);
    if (!text_.ResetOutput(kOutputCapacity)) return;
    profiles_.StoreActiveProfile();
    const ChannelProfile live = profiles_.current;

    text_.PutSection("DIALOG");
    text_.PutInt("DlgWndPosX", profiles_.dialogX);
    text_.PutInt("DlgWndPosY", profiles_.dialogY);
    text_.PutSection("SETTINGS");
    text_.PutInt("Common", profiles_.common);
    text_.PutSection("COMMON");
    if (profiles_.Count() > 0) profiles_.current = profiles_.Record(0);
    WriteCurrentProfile();
    for (size_t i = 1; i < profiles_.Count() && i <= records.size(); ++i) {
        if (!keep[i - 1]) continue;  // stays in memory, left out of the file
        const ChannelProfile& record = profiles_.Record(i);
        text_.PutKeySection(static_cast<int64_t>(record.Key()));
        profiles_.current = record;
        WriteCurrentProfile();
    }
    profiles_.current = live;  // a late frame or a second save sees the live values again
    WriteText();
}

// The current profile's key lines in table order. A setting older files lack is left out
// while it holds its built-in value, so those files save byte for byte as before.
void SettingsStore::WriteCurrentProfile() {
    for (int id = 0; id < kSettingCount; ++id) {
        const SettingInfo& s = kSettingList[id];
        if (s.writtenWhenSet && SettingField(profiles_.current, static_cast<SettingId>(id)) == s.builtIn) continue;
        text_.WriteSettings(&table_[static_cast<size_t>(id)], 1);
    }
}

void SettingsStore::WriteText() {
    const char* out = text_.Output();
    const size_t length = text_.OutputLength();
    if (length == text_.ImageSize() && (length == 0 || std::memcmp(out, text_.ImageData(), length) == 0))
        return;  // the file already holds this text: its time stamp stays
    if (keepFile_ || path_.empty()) return;
    // A text that lost lines to a failed growth would lose settings: the old file stays.
    if (!text_.OutputComplete()) return;
    if (ReplaceFileContent(Files(), path_, out, length)) text_.SetImage(std::vector<char>(out, out + length));
}

}  // namespace kvx
