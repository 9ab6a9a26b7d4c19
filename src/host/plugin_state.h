// The plug-in's process-wide objects, built once when the library loads and destroyed in
// reverse order when it unloads.
#pragma once
#include <cstdint>

#include "host/abi.h"
#include "host/live_fit.h"
#include "host/target_rect.h"
#include "settings/settings_store.h"
#include "video/frame_surface.h"
#include "video/scaler.h"

namespace kvx {

struct PluginState {
    PluginState() = default;
    // A host may unload us without calling Free: the line buffer goes with the library.
    ~PluginState() { ReleaseLineBuffer(); }
    PluginState(const PluginState&) = delete;
    PluginState& operator=(const PluginState&) = delete;

    // The line buffer for the current format: allocated when none is held (after Free, or
    // when an earlier allocation failed); false when it cannot be had.
    bool EnsureLineBuffer();
    void ReleaseLineBuffer();

    VideoFormat format{};  // the last FormatChange (all zero, hence unusable, before it)
    uint8_t* lineBuffer = nullptr;
    Scaler scaler;
    FrameSurface surface;
    SettingsStore store;
    LiveFit liveFit;
};

// The result of checking a host format: whether frames of it may be processed at all, and
// whether the scaler and the border fill understand its pixels.
struct FormatCheck {
    bool usable;     // positive sizes, size of a frame and a line fit comfortably in 32 bits
    bool pixelWork;  // pixel format 0 with at least 2 bytes per pixel, or 1 with at least 3
};
FormatCheck CheckFormat(const VideoFormat& format);

// ProcessFrame's work on one frame; returns 0 for a frame without pixels, else 1.
int32_t ProcessFrame(PluginState& state, const FrameInfo& frame);

}  // namespace kvx
