#include "host/live_fit.h"

#include <cstdlib>

#include "borders/fit_settings.h"
#include "host/target_rect.h"
#include "video/pixel_format.h"

namespace kvx {

namespace {

// Parts of the frame that differ by a line at most on every side are one: an edge counts at
// its line or next to it, and a fit changed for one line would only flicker.
bool SamePart(const Rect& a, const Rect& b) {
    return std::abs(a.left - b.left) <= 1 && std::abs(a.top - b.top) <= 1 && std::abs(a.right - b.right) <= 1 &&
           std::abs(a.bottom - b.bottom) <= 1;
}

// `r` reaching to the frame's edge on `sides`.
Rect Extended(Rect r, uint8_t sides, const Rect& frame) {
    if (sides & kLeftSide) r.left = frame.left;
    if (sides & kTopSide) r.top = frame.top;
    if (sides & kRightSide) r.right = frame.right;
    if (sides & kBottomSide) r.bottom = frame.bottom;
    return r;
}

}  // namespace

LiveFit::LiveFit() { state_.size = sizeof state_; }

void LiveFit::Configure(int32_t width, int32_t height, int32_t pixelFormat) {
    if (ready_ && width == width_ && height == height_ && pixelFormat == pixelFormat_) {
        window_.Clear();  // the same frames again (a restarted stream): the fits stay
        return;
    }
    width_ = width, height_ = height, pixelFormat_ = pixelFormat;
    End(kFitOff);  // reported as the whole new frame
    channels_.Clear();
    refused_ = Rect{0, 0, 0, 0};
    lastChange_ = -1;
    const FrameGeometry g{width, height, pixelFormat == PixelFormatYuy2 ? HostFormat::Yuyv : HostFormat::Bgr24};
    ready_ = IsDrawable(pixelFormat) && width > 0 && height > 0 && sampler_.Configure(g) &&
             window_.Configure(width, height, kWindowFrames);
}

void LiveFit::SwitchChannel(ChannelKey key) {
    if (haveChannel_) channels_.Store(channel_, fit_);
    const FitInForce* stored = channels_.Find(key);
    const FitInForce next = stored ? *stored : FitInForce{};
    const bool differs = next.active != fit_.active || (next.active && !(next.shown == fit_.shown));
    fit_ = next;
    channel_ = key;
    haveChannel_ = true;
    window_.Clear();
    refused_ = Rect{0, 0, 0, 0};
    lastChange_ = -1;  // its frames may drop the fit at once
    if (differs) Record(kFitChannel);
}

ChannelProfile LiveFit::Process(const uint8_t* frame, const ChannelProfile& profile) {
    if (!ready_) return profile;
    observing_ = true;
    const bool interlaced = profile.interlace && height_ >= kInterlaceMinHeight;
    const int32_t request = (profile.keepAspect ? 1 : 0) | (interlaced ? 2 : 0);
    if (request != request_) refused_ = Rect{0, 0, 0, 0};
    request_ = request;
    if (fit_.active && (fit_.keepAspect != (profile.keepAspect != 0) || fit_.interlaced != interlaced))
        ZoomTo(fit_.shown, fit_.kept, kFitSettings, profile);
    if (frame_ % kSampleEvery == 0) Observe(frame, profile);
    ++frame_;
    ChannelProfile geometry = profile;
    if (fit_.active) {
        geometry.scaleX = fit_.scaleX;
        geometry.scaleY = fit_.scaleY;
        geometry.offsetX = fit_.offsetX;
        geometry.offsetY = fit_.offsetY;
    }
    Published(geometry);
    return geometry;
}

void LiveFit::Pause(const ChannelProfile& profile) {
    if (!observing_ && !fit_.active) return;
    observing_ = false;
    End(kFitOff);
    window_.Clear();
    Published(profile);
}

void LiveFit::Observe(const uint8_t* frame, const ChannelProfile& profile) {
    sampler_.Read(frame);
    const uint8_t* flags = sampler_.Flags();
    window_.Add(flags, sampler_.Votes(), frame_);
    if (!sampler_.Votes()) return;  // black, a fade's end: nothing to judge by
    if (fit_.active) {
        const Intrusion seen = window_.Beyond(flags, fit_.shown);
        if (seen.sides) {
            if (CanChange()) ZoomOut(seen, profile);
            return;
        }
    }
    const WindowDecision d = window_.Decide();
    if (d.verdict != BorderVerdict::Found) return;  // no border, or not sure: the fit stays
    const uint8_t kept = d.overlays | (fit_.active ? fit_.kept : 0);
    const Rect shown = Extended(d.picture, kept, Frame());
    if (SamePart(shown, fit_.active ? fit_.shown : Frame()) || SamePart(shown, Frame()) || shown == refused_ ||
        !CanChange())
        return;
    const long long since = window_.HeldSince(shown);
    if (since < 0 || frame_ - since < kHoldFrames) return;
    // --detect's own rules must find the same picture in the same frames.
    const BorderResult detect = window_.DecideAsDetect();
    if (detect.verdict == BorderVerdict::Found && SamePart(detect.picture, d.picture))
        ZoomTo(shown, kept, kFitBarsHeld, profile);
    else
        refused_ = shown;
}

void LiveFit::ZoomOut(const Intrusion& seen, const ChannelProfile& profile) {
    const Rect shown = Extended(fit_.shown, seen.sides, Frame());
    const int32_t reason = seen.content ? kFitPictureInBar : kFitTextInBar;
    // A bar that showed text or a logo stays shown while the fit lasts; picture where a bar
    // was is a new format, which the next fit judges afresh.
    if (SamePart(shown, Frame()))
        End(reason);
    else
        ZoomTo(shown, fit_.kept | (seen.content ? 0 : seen.sides), reason, profile);
}

void LiveFit::ZoomTo(const Rect& shown, uint8_t kept, int32_t reason, const ChannelProfile& profile) {
    FitRequest request;
    request.mode = profile.keepAspect ? FitMode::Aspect : FitMode::Fill;
    request.interlaced = profile.interlace && height_ >= kInterlaceMinHeight;
    const FitResult r = FitSettings(width_, height_, shown, request);
    if (!r.ok) {
        refused_ = shown;
        if (reason != kFitBarsHeld) End(reason);  // nothing fills the frame with it: show it all
        return;
    }
    fit_ = FitInForce{true, shown, kept, r.scaleX, r.scaleY, r.offsetX, r.offsetY, r.keepAspect, request.interlaced};
    lastChange_ = frame_;
    Record(reason);
}

void LiveFit::End(int32_t reason) {
    if (!fit_.active) return;
    fit_ = FitInForce{};
    lastChange_ = frame_;
    Record(reason);
}

void LiveFit::Record(int32_t reason) {
    ++state_.changes;
    state_.reason = reason;
    state_.active = fit_.active ? 1 : 0;
    const Rect shown = fit_.active ? fit_.shown : Frame();
    state_.left = shown.left, state_.top = shown.top, state_.right = shown.right, state_.bottom = shown.bottom;
    published_ = false;
}

// The settings in force after a change, once the frame's settings are known.
void LiveFit::Published(const ChannelProfile& geometry) {
    if (published_) return;
    state_.scaleX = geometry.scaleX, state_.scaleY = geometry.scaleY;
    state_.offsetX = geometry.offsetX, state_.offsetY = geometry.offsetY;
    published_ = true;
}

}  // namespace kvx
