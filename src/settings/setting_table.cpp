#include "settings/setting_table.h"

namespace kvx {

SettingTable MakeSettingTable(ChannelProfile* p) {
    SettingTable table{};
    for (int id = 0; id < kSettingCount; ++id) {
        const SettingInfo& s = kSettingList[id];
        table[static_cast<size_t>(id)] = {s.unit == SettingUnit::kSwitch ? kSettingUInt : kSettingInt, s.key,
                                          &SettingField(*p, static_cast<SettingId>(id)),
                                          static_cast<uint32_t>(s.builtIn), 0, nullptr};
    }
    return table;
}

}  // namespace kvx
