// The nine settings of a channel profile as SettingDescriptor rows, in file order.
#pragma once
#include <array>
#include <cstddef>

#include "settings/channel_profile.h"
#include "settings/setting_descriptor.h"

namespace kvx {

using SettingTable = std::array<SettingDescriptor, kSettingCount>;

// The rows bound to the fields of `profile` (they read into it and write from it).
SettingTable MakeSettingTable(ChannelProfile* profile);

}  // namespace kvx
