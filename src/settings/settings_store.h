// The one settings object: channel profiles, the live current profile, the dialog
// position and the settings file. Safe to use from the frame thread and the dialog
// thread at once: every public operation takes the store's lock.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/callconv.h"
#include "platform/lock.h"
#include "settings/channel_profile.h"

namespace kvx {

// The host's question "do you still know this channel?" (low half first).
using ChannelCheckProc = int32_t(KVX_CDECL*)(uint32_t keyLow, uint32_t keyHigh);

constexpr size_t kChannelNameMax = 256;  // bytes kept of a channel name, NUL included

class SettingsStore {
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Host start and end.
    void Load(const char* moduleBaseName, uint32_t reserved, ChannelCheckProc channelCheck);
    void Save();

    // The frame's channel step, in one locked operation: selects the channel's profile,
    // copies the name (at most kChannelNameMax - 1 bytes, name may be null) when the channel
    // changed, and copies the eight values the frame is processed with into *values.
    // Returns true when the shown channel changed.
    bool BeginFrame(uint32_t keyLow, uint32_t keyHigh, const char* name, ChannelProfile* values);
    // The current values without a channel step (a frame without a channel record).
    ChannelProfile Current() const;

    // Channel step alone (returns true when the channel changed).
    bool SelectChannel(uint32_t keyLow, uint32_t keyHigh);

    // The dialog's side.
    void GetDialogPos(int32_t* x, int32_t* y) const;
    void SetDialogPos(int32_t x, int32_t y);
    void TakeSnapshot();
    void RestoreSnapshot();
    void ResetToDefaults();
    bool IsPerChannel() const;
    void SetPerChannel(bool on);
    // Applies `edit` to the current profile under the lock, so a frame never sees half a change.
    template <class Edit>
    void EditCurrent(Edit edit) {
        LockGuard guard(lock_);
        edit(current_);
    }
    // Copies the current channel name (NUL-terminated, truncated to size).
    void CopyChannelName(char* out, size_t size) const;

private:
    mutable Lock lock_;
    ChannelProfile current_ = kBuiltInProfile;
    char channelName_[kChannelNameMax] = {};
    struct Impl;
    Impl* impl_;
};

}  // namespace kvx
