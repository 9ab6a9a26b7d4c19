#include "settings_options.h"

#include <cmath>
#include <cstdlib>

#include "platform/module.h"
#include "settings/settings_store.h"

namespace kvx {

const char kSettingOptionsHelp[] =
    "Settings (written to the plug-in's settings file before the run; per cent as the\n"
    "settings dialog shows them, one decimal):\n"
    "  --process on|off     frame processing (any other setting option turns it on)\n"
    "  --scale P            picture width and height, e.g. 110 (100 = unchanged)\n"
    "  --scale-x P, --scale-y P\n"
    "  --offset-x P         shift right in per cent of the width (negative: left)\n"
    "  --offset-y P         shift up in per cent of the height (negative: down)\n"
    "  --keep-aspect on|off the dialog keeps both scales equal\n"
    "  --interlace on|off   scale the two fields separately (frames over 288 lines)\n"
    "  --deinterlace on|off blend the lines first (frames over 288 lines)\n";

namespace {

bool ParsePercent(const std::string& text, int32_t& thousandths) {
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(v) || std::fabs(v) > 200000000.0) return false;
    thousandths = static_cast<int32_t>(std::lround(v * 10.0));
    return true;
}

bool ParseSwitch(const std::string& text, int32_t& value) {
    if (text == "on" || text == "1" || text == "yes") value = 1;
    else if (text == "off" || text == "0" || text == "no") value = 0;
    else return false;
    return true;
}

}  // namespace

bool ParseSettingOption(const std::string& option, const std::string& value,
                        std::vector<SettingEdit>& edits, std::string& error) {
    struct Known {
        const char* name;
        SettingEdit::Field first, second;  // --scale sets both scales
        bool percent;
    };
    static const Known kOptions[] = {
        {"--process", SettingEdit::ProcEnable, SettingEdit::ProcEnable, false},
        {"--scale", SettingEdit::ScaleX, SettingEdit::ScaleY, true},
        {"--scale-x", SettingEdit::ScaleX, SettingEdit::ScaleX, true},
        {"--scale-y", SettingEdit::ScaleY, SettingEdit::ScaleY, true},
        {"--offset-x", SettingEdit::OffsetX, SettingEdit::OffsetX, true},
        {"--offset-y", SettingEdit::OffsetY, SettingEdit::OffsetY, true},
        {"--keep-aspect", SettingEdit::KeepAspect, SettingEdit::KeepAspect, false},
        {"--interlace", SettingEdit::Interlace, SettingEdit::Interlace, false},
        {"--deinterlace", SettingEdit::Deinterlace, SettingEdit::Deinterlace, false},
    };
    for (const Known& k : kOptions) {
        if (option != k.name) continue;
        int32_t v = 0;
        if (k.percent ? !ParsePercent(value, v) : !ParseSwitch(value, v)) {
            error = "bad value '" + value + "' for " + option +
                    (k.percent ? " (a per-cent number such as 110 or -1.5)" : " (on or off)");
            return true;
        }
        edits.push_back({k.first, v});
        if (k.second != k.first) edits.push_back({k.second, v});
        return true;
    }
    return false;
}

std::string WriteSettingEdits(const std::string& pluginPath, const std::vector<SettingEdit>& edits,
                              uint64_t key) {
    const std::string base = FileBaseName(pluginPath);
    SettingsStore store;
    store.Load(base.c_str(), 0, nullptr);  // no channel check: every channel record is kept
    if (store.IsPerChannel()) store.SelectChannel(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32));
    store.EditCurrent([&](ChannelProfile& p) {
        bool processOption = false;
        for (const SettingEdit& e : edits) {
            switch (e.field) {
                case SettingEdit::ProcEnable: p.procEnable = e.value; processOption = true; break;
                case SettingEdit::OffsetX: p.offsetX = e.value; break;
                case SettingEdit::OffsetY: p.offsetY = e.value; break;
                case SettingEdit::ScaleX: p.scaleX = e.value; break;
                case SettingEdit::ScaleY: p.scaleY = e.value; break;
                case SettingEdit::KeepAspect: p.keepAspect = e.value; break;
                case SettingEdit::Interlace: p.interlace = e.value; break;
                case SettingEdit::Deinterlace: p.deinterlace = e.value; break;
            }
        }
        if (!processOption) p.procEnable = 1;  // asking for a geometry means wanting to see it
    });
    store.Save();
    return store.SettingsPath();
}

}  // namespace kvx
