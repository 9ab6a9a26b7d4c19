// The store's profile side: every operation runs under the one lock, so the frame thread
// and the dialog thread never see each other's half-done changes.
#include "settings/settings_store.h"

#include <cstring>

namespace kvx {

SettingsStore::SettingsStore() : table_(MakeSettingTable(&profiles_.current)) {}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::SelectChannel(uint32_t keyLow, uint32_t keyHigh) {
    LockGuard guard(lock_);
    return profiles_.SelectChannel(keyLow, keyHigh);
}

bool SettingsStore::BeginFrame(uint32_t keyLow, uint32_t keyHigh, const char* name,
                               ChannelProfile* values) {
    LockGuard guard(lock_);
    bool changed = profiles_.SelectChannel(keyLow, keyHigh);
    if (changed) {
        // The host's record holds the name inline; read no further than its terminator.
        size_t n = 0;
        if (name)
            while (n + 1 < kChannelNameMax && name[n]) ++n;
        if (n) std::memcpy(channelName_, name, n);
        channelName_[n] = 0;
    }
    *values = profiles_.current;
    return changed;
}

ChannelProfile SettingsStore::Current() const {
    LockGuard guard(lock_);
    return profiles_.current;
}

void SettingsStore::GetDialogPos(int32_t* x, int32_t* y) const {
    LockGuard guard(lock_);
    *x = profiles_.dialogX;
    *y = profiles_.dialogY;
}

void SettingsStore::SetDialogPos(int32_t x, int32_t y) {
    LockGuard guard(lock_);
    profiles_.dialogX = x;
    profiles_.dialogY = y;
}

void SettingsStore::TakeSnapshot() {
    LockGuard guard(lock_);
    profiles_.TakeSnapshot();
}

void SettingsStore::RestoreSnapshot() {
    LockGuard guard(lock_);
    profiles_.RestoreSnapshot();
}

void SettingsStore::ResetToDefaults() {
    LockGuard guard(lock_);
    profiles_.ResetToDefaults();
}

bool SettingsStore::IsPerChannel() const {
    LockGuard guard(lock_);
    return profiles_.IsPerChannel();
}

void SettingsStore::SetPerChannel(bool on) {
    LockGuard guard(lock_);
    profiles_.SetPerChannel(on);
}

std::vector<ChannelKey> SettingsStore::ChannelKeys() const {
    LockGuard guard(lock_);
    std::vector<ChannelKey> keys;
    for (size_t i = 1; i < profiles_.Count(); ++i) keys.push_back(profiles_.Record(i).Key());
    return keys;
}

void SettingsStore::CopyChannelName(char* out, size_t size) const {
    if (!out || !size) return;
    LockGuard guard(lock_);
    size_t n = std::strlen(channelName_);
    if (n >= size) n = size - 1;
    std::memcpy(out, channelName_, n);
    out[n] = 0;
}

std::string SettingsStore::SettingsPath() const {
    LockGuard guard(lock_);
    return path_;
}

void SettingsStore::SetReallocate(void* (*reallocate)(void*, size_t)) {
    LockGuard guard(lock_);
    text_.SetReallocate(reallocate);
    profiles_.SetReallocate(reallocate);
}

}  // namespace kvx
