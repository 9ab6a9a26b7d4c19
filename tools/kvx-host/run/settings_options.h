// kvx-host's settings request: the setting options (--scale 110, --offset-x -1.5, ...) in
// the units the settings dialog shows (per cent with one decimal; on/off), the settings file
// to start from (--settings FILE) and whether to save the result back to it (--save).
// The edits are applied with the plug-in's own settings code before the plug-in starts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "settings/setting_list.h"

namespace kvx {

class SettingsStore;

struct SettingEdit {
    SettingId field;
    int32_t value;  // thousandths, or 0/1
};

struct SettingRequest {
    std::vector<SettingEdit> edits;
    int perChannel = -1;  // -1: as the file says; 0: one set for all channels; 1: per channel
    std::string file;     // --settings FILE ("": start from the built-in defaults)
    bool save = false;    // --save: write the plug-in's saved result back to FILE
};

// Per cent with at most one decimal kept ("110", "-1.5", "0.15" gives 2 tenths: rounded half
// away from zero) as thousandths of the whole; throws UsageError when it is no number or
// cannot be stored in the file.
int32_t ParsePercent(const std::string& text, const std::string& option);

// Applies the edits to the loaded store: the per-channel switch first, then the values to the
// shared set (common mode) or to the record of channel `key` (per-channel mode). Any setting
// option turns processing on unless --process says otherwise.
void ApplySettingEdits(SettingsStore& store, const SettingRequest& request, uint64_t key);

// The settings in effect for channel `key`, in the dialog's units, one per line.
std::string DescribeSettings(SettingsStore& store, uint64_t key);

}  // namespace kvx
