// ProcessFrame: follow the channel, then blend, scale and paint the borders of one frame.
#include <algorithm>

#include "host/plugin_state.h"
#include "ui/dialog_host.h"
#include "video/aligned_buffer.h"
#include "video/line_blend.h"

namespace kvx {

namespace {

constexpr int32_t kMaxFrameSide = 32767;


}  // namespace

bool PluginState::EnsureLineBuffer() {
    if (!lineBuffer && CheckFormat(format).usable)
        lineBuffer = static_cast<uint8_t*>(AlignedAlloc(static_cast<size_t>(format.width) *
                                                        static_cast<size_t>(format.bytesPerPixel)));
    return lineBuffer != nullptr;
}

void PluginState::ReleaseLineBuffer() {
    AlignedFree(lineBuffer);
    lineBuffer = nullptr;
}

FormatCheck CheckFormat(const VideoFormat& f) {
    FormatCheck check{false, false};
    if (f.width <= 0 || f.height <= 0 || f.bytesPerPixel <= 0) return check;
    if (f.width > kMaxFrameSide || f.height > kMaxFrameSide || f.bytesPerPixel > 16) return check;
    check.usable = true;
    // The scaler and the fill take their pixel size from the format alone and touch
    // width * height pixels of that size. A larger bytesPerPixel announces a frame that
    // holds all of that and more; a smaller one, a frame they would reach past.
    check.pixelWork = IsDrawable(f.pixelFormat) &&
                      f.bytesPerPixel >= BytesPerPixel(static_cast<HostPixelFormat>(f.pixelFormat));
    return check;
}

int32_t ProcessFrame(PluginState& state, const FrameInfo& frame) {
    uint8_t* pixels = frame.pixels;
    if (!pixels) return 0;
    state.surface.SetPixels(pixels);

    // The channel step runs for every frame with a picture, before the settings are read;
    // the values this frame uses are copied under the store's lock with it.
    ChannelProfile settings;
    if (const ChannelInfo* channel = frame.channel) {
        if (state.store.BeginFrame(channel->keyLow, channel->keyHigh, channel->name, &settings)) {
            PostChannelRefresh();
            state.liveFit.SwitchChannel(ChannelKey{channel->keyHigh} << 32 | channel->keyLow);
        }
    } else {
        settings = state.store.Current();  // no channel record: keep the shown channel
    }

    const VideoFormat& f = state.format;
    const FormatCheck check = CheckFormat(f);
    if (!check.usable) return 1;  // no FormatChange yet, or a format we cannot touch
    if (!settings.procEnable || !settings.autoFit || !check.pixelWork) state.liveFit.Pause(settings);
    if (!settings.procEnable) return 1;
    // The live fit reads the frame as it came, and may put its zoom and offsets in place of
    // the profile's for this frame's geometry.
    const ChannelProfile geometry =
        settings.autoFit && check.pixelWork ? state.liveFit.Process(pixels, settings) : settings;

    const int32_t w = f.width, h = f.height;
    if (settings.deinterlace && h >= kInterlaceMinHeight) {
        // Without its line buffer the frame is left as it came rather than half processed.
        if (!state.EnsureLineBuffer()) return 1;
        BlendLines(pixels, state.lineBuffer, w, h, f.bytesPerPixel);
    }
    const bool interlaced = settings.interlace && h >= kInterlaceMinHeight;

    if (!check.pixelWork) return 1;
    Rect target = TargetRect(w, h, geometry);
    const PixelLayout layout = LayoutOf(static_cast<HostPixelFormat>(f.pixelFormat));
    // Without its buffers the scaler leaves the picture as it was; black bands around an
    // unscaled picture would be wrong, so the borders are left alone too.
    if (!state.scaler.Scale(pixels, w, h, Rect{0, 0, w, h}, target, layout, interlaced))
        return 1;

    if (interlaced) {
        target.top &= ~1;
        target.bottom &= ~1;
    }
    const Rect& frameRect = state.surface.FrameRect();
    Rect visible = IntersectRect(frameRect, target);
    const int32_t right = frameRect.right, bottom = frameRect.bottom;
    state.surface.FillRect(0, 0, right, visible.top, 0, 100);
    state.surface.FillRect(0, visible.top, visible.left, visible.bottom, 0, 100);
    state.surface.FillRect(visible.right, visible.top, right, visible.bottom, 0, 100);
    state.surface.FillRect(0, visible.bottom, right, bottom, 0, 100);
    return 1;
}

}  // namespace kvx
