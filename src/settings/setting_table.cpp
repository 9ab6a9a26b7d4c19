#include "settings/setting_table.h"

namespace kvx {

SettingTable MakeSettingTable(ChannelProfile* p) {
    const ChannelProfile& d = kBuiltInProfile;
    return SettingTable{{
        {kSettingUInt, "ProcEnable", &p->procEnable, d.procEnable, 0, nullptr},
        {kSettingInt, "OffsetX", &p->offsetX, static_cast<uint32_t>(d.offsetX), 0, nullptr},
        {kSettingInt, "OffsetY", &p->offsetY, static_cast<uint32_t>(d.offsetY), 0, nullptr},
        {kSettingInt, "ScaleX", &p->scaleX, static_cast<uint32_t>(d.scaleX), 0, nullptr},
        {kSettingInt, "ScaleY", &p->scaleY, static_cast<uint32_t>(d.scaleY), 0, nullptr},
        {kSettingUInt, "KeepAspect", &p->keepAspect, d.keepAspect, 0, nullptr},
        {kSettingUInt, "Interlace", &p->interlace, d.interlace, 0, nullptr},
        {kSettingUInt, "Deinterlace", &p->deinterlace, d.deinterlace, 0, nullptr},
    }};
}

}  // namespace kvx
