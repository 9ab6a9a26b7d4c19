// The profiles behind the settings: DEFAULT (what new channels start from), the profile
// array (record 0 is COMMON, key 0; then one record per channel), the live current
// profile, the per-channel switch, the dialog position and the snapshot for Cancel.
// Not locked: the SettingsStore serialises every use.
#pragma once
#include <cstddef>
#include <cstdint>

#include "settings/channel_profile.h"
#include "settings/profile_array.h"

namespace kvx {

class ChannelProfiles {
public:
    // What an empty load leaves: common mode, no channel, COMMON with built-in defaults.
    ChannelProfiles();

    ChannelProfile current = kBuiltInProfile;   // the frame reads it, the dialog edits it
    ChannelProfile defaults = kBuiltInProfile;  // its key is meaningless
    int32_t common = 1;                         // the "Common" value: non-zero is common mode
    int32_t dialogX = -100, dialogY = -100;     // -100, -100: never placed

    // Forgets every record, the channel and the snapshot (a new load starts from here).
    void Clear();
    // Appends a record read from the file; false when there is no memory for it.
    bool Append(const ChannelProfile& record);
    size_t Count() const { return profiles_.Size(); }
    const ChannelProfile& Record(size_t i) const { return profiles_[i]; }
    int32_t ActiveIndex() const { return active_; }

    // current := the record the mode selects (COMMON, or the channel's own).
    void LoadActiveProfile();
    // The record the mode selects := current.
    void StoreActiveProfile();
    // Switches to the channel's record, creating it from DEFAULT on its first appearance.
    // True when the shown channel changed.
    bool SelectChannel(uint32_t keyLow, uint32_t keyHigh);

    void TakeSnapshot();
    // Brings back the records of the last snapshot; without one there is nothing to undo.
    void RestoreSnapshot();
    void ResetToDefaults();
    bool IsPerChannel() const { return common == 0; }
    void SetPerChannel(bool on);

    // Replaces the allocator of both arrays (tests inject failures with it).
    void SetReallocate(ProfileArray::Reallocate reallocate);

private:
    ChannelProfile* Active();

    ProfileArray profiles_;
    ProfileArray snapshot_;  // as many records as profiles_ while snapshotTaken_
    int32_t active_ = -1;    // the shown channel's record, -1 before the first channel
    bool snapshotTaken_ = false;
};

}  // namespace kvx
