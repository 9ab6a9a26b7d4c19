// The one settings object: channel profiles, the live current profile, the dialog
// position and the settings file. Safe to use from the frame thread and the dialog
// thread at once: every public operation takes the store's lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/callconv.h"
#include "platform/lock.h"
#include "settings/channel_profile.h"
#include "settings/channel_profiles.h"
#include "settings/ini_text.h"
#include "settings/setting_table.h"

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

    // Host start and end. Load finds the file by the module's base name and reads it;
    // Save rebuilds the text and replaces the file when the text changed.
    void Load(const char* moduleBaseName, uint32_t reserved, ChannelCheckProc channelCheck);
    void Save();
    // Load from a settings file whose path is already known ("" reads and writes nothing).
    void LoadFile(const std::string& path, uint32_t reserved, ChannelCheckProc channelCheck);
    std::string SettingsPath() const;

    // The frame's channel step, in one locked operation: selects the channel's profile,
    // copies the name (at most kChannelNameMax - 1 bytes, name may be null) when the channel
    // changed, and copies the nine values the frame is processed with into *values.
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
        edit(profiles_.current);
    }
    // Copies the current channel name (NUL-terminated, truncated to size).
    void CopyChannelName(char* out, size_t size) const;
    // The keys of the channel records read from the file (or added since), in their order:
    // what a host must answer for in the channel check to keep every one of them.
    std::vector<ChannelKey> ChannelKeys() const;

    // Replaces the allocator of the output buffer and of the profile arrays (null: the C
    // library's), so tests can make memory run out.
    void SetReallocate(void* (*reallocate)(void*, size_t));

private:
    void ReadImage();
    void WriteCurrentProfile();
    void WriteText();

    mutable Lock lock_;
    ChannelProfiles profiles_;
    const SettingTable table_;  // rows bound to profiles_.current
    IniText text_;
    std::string path_;
    ChannelCheckProc channelCheck_ = nullptr;
    // The file is there but could not be read whole: Save must not replace it with less.
    bool keepFile_ = false;
    char channelName_[kChannelNameMax] = {};
};

}  // namespace kvx
