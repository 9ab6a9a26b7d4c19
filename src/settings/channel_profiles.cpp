#include "settings/channel_profiles.h"

namespace kvx {

ChannelProfiles::ChannelProfiles() {
    profiles_.Reserve(16);  // a load then appends COMMON without needing memory
    profiles_.Append(kBuiltInProfile);
}

void ChannelProfiles::Clear() {
    profiles_.Clear();
    snapshot_.Clear();
    snapshotTaken_ = false;
    active_ = -1;
}

bool ChannelProfiles::Append(const ChannelProfile& record) { return profiles_.Append(record); }

void ChannelProfiles::SetReallocate(ProfileArray::Reallocate reallocate) {
    profiles_.SetReallocate(reallocate);
    snapshot_.SetReallocate(reallocate);
}

// The record the mode selects, or null (no COMMON record, or no channel yet).
ChannelProfile* ChannelProfiles::Active() {
    if (common != 0) return profiles_.Size() ? &profiles_[0] : nullptr;
    return active_ >= 0 ? &profiles_[static_cast<size_t>(active_)] : nullptr;
}

void ChannelProfiles::LoadActiveProfile() {
    if (ChannelProfile* record = Active()) current = *record;
}

void ChannelProfiles::StoreActiveProfile() {
    if (ChannelProfile* record = Active()) *record = current;
}

bool ChannelProfiles::SelectChannel(uint32_t keyLow, uint32_t keyHigh) {
    if (active_ >= 0) {
        const ChannelProfile& shown = profiles_[static_cast<size_t>(active_)];
        if (shown.keyLow == keyLow && shown.keyHigh == keyHigh) return false;
    }
    StoreActiveProfile();
    active_ = -1;
    for (size_t i = 0; i < profiles_.Size(); ++i) {
        if (profiles_[i].keyLow == keyLow && profiles_[i].keyHigh == keyHigh) {
            active_ = static_cast<int32_t>(i);
            break;
        }
    }
    if (active_ < 0) {
        defaults.SetKey(keyLow, keyHigh);
        // Room in both arrays first, so they never disagree: an open dialog's Cancel must
        // keep the channel it met, and a snapshot never holds fewer records.
        const size_t count = profiles_.Size() + 1;
        if (profiles_.Reserve(count) && (!snapshotTaken_ || snapshot_.Reserve(count))) {
            profiles_.Append(defaults);
            if (snapshotTaken_) snapshot_.Append(defaults);
            active_ = static_cast<int32_t>(profiles_.Size() - 1);
        } else if (common == 0) {
            // No memory for a record: the channel runs on DEFAULT values without one, and
            // the next frame tries again.
            current = defaults;
            return true;
        }
    }
    LoadActiveProfile();
    return true;
}

void ChannelProfiles::TakeSnapshot() {
    StoreActiveProfile();
    snapshotTaken_ = snapshot_.CopyFrom(profiles_);
}

void ChannelProfiles::RestoreSnapshot() {
    if (!snapshotTaken_ || !profiles_.CopyFrom(snapshot_)) return;
    if (active_ >= 0 && static_cast<size_t>(active_) >= profiles_.Size()) active_ = -1;
    LoadActiveProfile();
}

void ChannelProfiles::ResetToDefaults() {
    defaults.SetKey(current.keyLow, current.keyHigh);
    current = defaults;
}

void ChannelProfiles::SetPerChannel(bool on) {
    StoreActiveProfile();
    common = on ? 0 : 1;
    LoadActiveProfile();
}

}  // namespace kvx
