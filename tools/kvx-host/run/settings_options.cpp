#include "run/settings_options.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "errors.h"
#include "settings/settings_store.h"

namespace kvx {

int32_t ParsePercent(const std::string& text, const std::string& option) {
    // Exact decimal arithmetic: binary floating point would turn 0.15 into 0.1499...
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long tenths = 0;
    int digits = 0, decimals = 0;
    bool roundUp = false, point = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        ++digits;
        if (!point) {
            tenths = std::min(tenths * 10 + (c - '0') * 10, 1LL << 40);  // beyond any int32
        } else if (decimals++ == 0) {
            tenths += c - '0';
        } else if (decimals == 2) {
            roundUp = c >= '5';
        }
    }
    if (digits == 0 || i != text.size())
        throw UsageError("bad value '" + text + "' for " + option + " (a per-cent number such as 110 or -1.5)");
    tenths += roundUp ? 1 : 0;
    if (negative) tenths = -tenths;
    if (tenths > std::numeric_limits<int32_t>::max() || tenths < std::numeric_limits<int32_t>::min())
        throw UsageError(option + " " + text + " cannot be stored in the settings file "
                         "(it holds -214748364.8 to 214748364.7 per cent)");
    return static_cast<int32_t>(tenths);
}

void ApplySettingEdits(SettingsStore& store, const SettingRequest& request, uint64_t key) {
    if (request.perChannel >= 0) store.SetPerChannel(request.perChannel == 1);
    if (request.edits.empty()) return;
    if (store.IsPerChannel()) store.SelectChannel(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32));
    store.EditCurrent([&](ChannelProfile& p) {
        bool processOption = false;
        for (const SettingEdit& e : request.edits) {
            SettingField(p, e.field) = e.value;
            processOption = processOption || e.field == kProcEnable;
        }
        if (!processOption) p.procEnable = 1;  // asking for a geometry means wanting to see it
    });
}

std::string DescribeSettings(SettingsStore& store, uint64_t key) {
    const bool perChannel = store.IsPerChannel();
    if (perChannel) store.SelectChannel(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32));
    ChannelProfile p = store.Current();
    std::string text = "per-channel   " + std::string(perChannel ? "on" : "off") +
                       (perChannel ? " (the values below are channel " + std::to_string(key) + "'s)\n"
                                   : " (one set for all channels)\n");
    for (int id = 0; id < kSettingCount; ++id) {
        const SettingInfo& s = kSettingList[id];
        const int32_t v = SettingField(p, static_cast<SettingId>(id));
        std::string name = s.option + 2;  // without "--"
        name.resize(14, ' ');
        text += name + (s.unit == SettingUnit::kSwitch ? (v ? "on" : "off") : PerMilleAsPercent(v) + " %") + "\n";
    }
    return text;
}

}  // namespace kvx
