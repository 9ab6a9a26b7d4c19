// kvx-host's setting options (--scale 110, --offset-x -1.5, --interlace on, ...): they are
// written into the settings file the plug-in is about to read, in the units the settings
// dialog shows (per cent with one decimal; on/off for the switches).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kvx {

struct SettingEdit {
    enum Field { ProcEnable, OffsetX, OffsetY, ScaleX, ScaleY, KeepAspect, Interlace, Deinterlace };
    Field field;
    int32_t value;  // thousandths, or 0/1
};

// Parses one option with its value into `edits`. Returns false when `option` is not a
// setting option; sets `error` when it is one but the value is bad.
bool ParseSettingOption(const std::string& option, const std::string& value,
                        std::vector<SettingEdit>& edits, std::string& error);

// The help text of the setting options.
extern const char kSettingOptionsHelp[];

// Applies the edits to the settings file of the plug-in `pluginPath`, found exactly as the
// plug-in finds it (beside this program, its instance switch, the machine-wide switch). In
// common mode the shared settings are edited, in per-channel mode those of channel `key`.
// Returns the settings file's path ("" when there is none).
std::string WriteSettingEdits(const std::string& pluginPath, const std::vector<SettingEdit>& edits,
                              uint64_t key);

}  // namespace kvx
