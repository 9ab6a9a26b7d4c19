// Temporary store: built-in defaults only, one channel remembered. Replaced by the full
// store with profiles and the settings file.
#include "settings/settings_store.h"

#include <cstring>

namespace kvx {

struct SettingsStore::Impl {
    bool selected = false;
    uint32_t low = 0, high = 0;
    int32_t x = -100, y = -100;
};

SettingsStore::SettingsStore() : impl_(new Impl) {}
SettingsStore::~SettingsStore() { delete impl_; }

void SettingsStore::Load(const char*, uint32_t, ChannelCheckProc) {
    LockGuard guard(lock_);
    impl_->selected = false;
}
void SettingsStore::Save() {}

bool SettingsStore::SelectChannel(uint32_t keyLow, uint32_t keyHigh) {
    LockGuard guard(lock_);
    if (impl_->selected && impl_->low == keyLow && impl_->high == keyHigh) return false;
    impl_->selected = true;
    impl_->low = keyLow;
    impl_->high = keyHigh;
    return true;
}

bool SettingsStore::BeginFrame(uint32_t keyLow, uint32_t keyHigh, const char* name,
                               ChannelProfile* values) {
    bool changed = SelectChannel(keyLow, keyHigh);
    LockGuard guard(lock_);
    if (changed) {
        size_t n = 0;
        if (name)
            while (n + 1 < kChannelNameMax && name[n]) ++n;
        if (n) std::memcpy(channelName_, name, n);
        channelName_[n] = 0;
    }
    *values = current_;
    return changed;
}

ChannelProfile SettingsStore::Current() const {
    LockGuard guard(lock_);
    return current_;
}

void SettingsStore::GetDialogPos(int32_t* x, int32_t* y) const {
    LockGuard guard(lock_);
    *x = impl_->x;
    *y = impl_->y;
}
void SettingsStore::SetDialogPos(int32_t x, int32_t y) {
    LockGuard guard(lock_);
    impl_->x = x;
    impl_->y = y;
}
void SettingsStore::TakeSnapshot() {}
void SettingsStore::RestoreSnapshot() {}
void SettingsStore::ResetToDefaults() {}
bool SettingsStore::IsPerChannel() const { return false; }
void SettingsStore::SetPerChannel(bool) {}

void SettingsStore::CopyChannelName(char* out, size_t size) const {
    if (!size) return;
    LockGuard guard(lock_);
    size_t n = std::strlen(channelName_);
    if (n >= size) n = size - 1;
    std::memcpy(out, channelName_, n);
    out[n] = 0;
}

}  // namespace kvx
