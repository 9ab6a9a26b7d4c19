// The nine settings, listed once. The settings file's keys and defaults, the dialog's
// ranges and number format, and kvx-host's options, --show-settings and --detect output
// all come from this list, so a change of a setting's unit, range or name is made here.
#pragma once
#include <cstdint>
#include <string>

namespace kvx {

enum SettingId {
    kProcEnable, kOffsetX, kOffsetY, kScaleX, kScaleY, kKeepAspect, kInterlace, kDeinterlace, kAutoFit, kSettingCount
};

enum class SettingUnit {
    kSwitch,    // 0 or 1; kvx-host: on/off
    kPerMille,  // thousandths of the frame; the dialog and kvx-host show per cent, one decimal
};

struct SettingInfo {
    const char* key;  // the key in the settings file
    SettingUnit unit;
    int32_t builtIn;                // the built-in default
    int32_t dialogLow, dialogHigh;  // the dialog's up-down range (per-mille settings)
    const char* option;             // kvx-host's option, also the name --show-settings shows
    const char* help;               // the option's line in kvx-host --help
    // Written only in records where it differs from the built-in default: a setting that
    // came later, so a file made before it loads and saves byte for byte as it was.
    bool writtenWhenSet = false;
};

constexpr SettingInfo kSettingList[kSettingCount] = {
    {"ProcEnable", SettingUnit::kSwitch, 0, 0, 1, "--process", "frame processing (any other setting option turns it on)"},
    {"OffsetX", SettingUnit::kPerMille, 0, -500, 500, "--offset-x",
     "shift right in per cent of the width (negative: left; -50 to 50)"},
    {"OffsetY", SettingUnit::kPerMille, 0, -500, 500, "--offset-y",
     "shift up in per cent of the height (negative: down; -50 to 50)"},
    {"ScaleX", SettingUnit::kPerMille, 1000, 700, 1300, "--scale-x", "picture width alone"},
    {"ScaleY", SettingUnit::kPerMille, 1000, 700, 1300, "--scale-y", "picture height alone"},
    {"KeepAspect", SettingUnit::kSwitch, 1, 0, 1, "--keep-aspect", "the dialog keeps both scales equal"},
    {"Interlace", SettingUnit::kSwitch, 1, 0, 1, "--interlace", "scale the two fields separately (frames over 288 lines)"},
    {"Deinterlace", SettingUnit::kSwitch, 0, 0, 1, "--deinterlace", "blend the lines first (frames over 288 lines)"},
    {"AutoFit", SettingUnit::kSwitch, 0, 0, 1, "--auto-fit", "zoom black bars away by itself as the picture's format changes",
     true},
};

// A per-mille value as the dialog shows it: per cent with one decimal ("110.0", "-1.5").
std::string PerMilleAsPercent(int32_t value);

}  // namespace kvx
