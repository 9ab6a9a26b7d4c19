// The live fit: with auto-fit on, black bars around the picture are zoomed away as the
// picture's format changes, channel by channel. A small state machine fed by a cheap
// sampler: every eighth frame is read on a grid of lines (LineSampler) into a window of the
// last two seconds (BorderWindow), decided with --detect's rules, and a zoom in is made only
// where --detect's own DecideBorders finds the same picture there. Time is counted in frames
// at an assumed 25 a second (the host gives frames no time), so a recording processed
// faster than real time gets the fit a viewer would see.
//   - Zoom in: when a picture with borders is found and every frame sampled over the last
//     ~2 s shows nothing beyond it.
//   - Zoom out: as soon as a sampled frame shows picture, text or a logo where a bar was cut
//     away: the sides concerned are shown again (the whole frame, for an advert); a bar
//     found holding text or a logo is kept for as long as the fit lasts.
//   - At most one change per 2 s; frames that show no picture (black, a fade's end) change
//     nothing, and neither do frames the rules are not sure of (dark scenes).
//   - On a channel switch the channel's last fit of this session applies at once, to be
//     kept or dropped by its frames.
// The settings applied are those --detect suggests for the part of the frame shown
// (FitSettings, under the profile's KeepAspect), in place of the profile's zoom and offsets;
// the frame then goes through the same target rectangle as any settings. Memory is taken
// at the format change; a frame allocates nothing, but for a change (its settings worked out,
// --detect's rules asked).
#pragma once
#include <cstdint>

#include "borders/border_window.h"
#include "borders/line_sampler.h"
#include "host/abi.h"
#include "host/channel_fits.h"
#include "settings/channel_profile.h"

namespace kvx {

class LiveFit {
public:
    static constexpr long long kSampleEvery = 8;  // frames from one sampled frame to the next
    static constexpr long long kHoldFrames = 48;  // bars shown by the sampled frames before zooming in
    static constexpr long long kMinGap = 50;      // frames from one change to the next (2 s)
    static constexpr int32_t kWindowFrames = kHoldFrames / kSampleEvery + 1;  // sampled frames kept

    LiveFit();

    // A new frame format (FormatChange): sizes the analysis (allocates). A new frame size
    // or pixel format forgets every channel's fit; an unusable one turns the live fit off.
    void Configure(int32_t width, int32_t height, int32_t pixelFormat);
    // The shown channel changed: its last fit of this session applies from this frame on.
    void SwitchChannel(ChannelKey key);
    // A frame with processing and auto-fit on, before anything touches it: returns the
    // settings to process it with (the profile's own, or with the fit's zoom and offsets).
    ChannelProfile Process(const uint8_t* frame, const ChannelProfile& profile);
    // A frame with processing or auto-fit off: a fit in force ends, and the analysis starts
    // afresh when auto-fit is on again.
    void Pause(const ChannelProfile& profile);

    // The geometry in force and its last change, for kvx-host's fit log.
    const LiveFitState& State() const { return state_; }

private:
    void Observe(const uint8_t* frame, const ChannelProfile& profile);
    void ZoomOut(const Intrusion& seen, const ChannelProfile& profile);
    void ZoomTo(const Rect& shown, uint8_t kept, int32_t reason, const ChannelProfile& profile);
    void End(int32_t reason);
    bool CanChange() const { return lastChange_ < 0 || frame_ - lastChange_ >= kMinGap; }
    Rect Frame() const { return Rect{0, 0, width_, height_}; }
    void Record(int32_t reason);
    void Published(const ChannelProfile& geometry);

    int32_t width_ = 0, height_ = 0, pixelFormat_ = -1;
    bool ready_ = false;   // the analysis is sized for the format
    LineSampler sampler_;
    BorderWindow window_;
    ChannelFits channels_;
    ChannelKey channel_ = 0;
    bool haveChannel_ = false;
    FitInForce fit_;
    // The last part not zoomed to (no settings fill the frame with it, or --detect's own rules
    // disagree), not asked about again while it stays the candidate and the profile's
    // KeepAspect and Interlace stay as they were.
    Rect refused_{0, 0, 0, 0};
    int32_t request_ = -1;  // KeepAspect and field-wise scaling, as bits
    long long frame_ = 0;       // frames processed with auto-fit on
    long long lastChange_ = -1; // the frame of the last change on this channel (-1: none)
    bool observing_ = false;    // frames have been sampled since the last pause
    LiveFitState state_{};
    bool published_ = true;     // state_ has the settings in force since its last change
};

}  // namespace kvx
