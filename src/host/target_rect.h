// The rectangle the picture is scaled into. Its own file, so that tools judging settings
// (kvx-host's border detection) use the plug-in's own arithmetic without its frame path.
#pragma once
#include <cstdint>

#include "platform/geometry.h"
#include "settings/channel_profile.h"

namespace kvx {

// Frames at least this tall are two interlaced fields: blended first with Deinterlace on,
// scaled field by field with Interlace on.
constexpr int32_t kInterlaceMinHeight = 289;

// The rectangle the picture is scaled into, from the four per-mille settings.
Rect TargetRect(int32_t width, int32_t height, const ChannelProfile& settings);

}  // namespace kvx
