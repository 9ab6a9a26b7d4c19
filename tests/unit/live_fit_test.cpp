// The live fit inside the plug-in's frame path: nothing allocated per frame once the format
// is set but at a change, and the fit following the profile (KeepAspect, auto-fit off), the channel and the
// frame size. What it decides on whole sequences is measured by tests/abi/live_fit.py.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "host/plugin_state.h"
#include "support/letterboxed_frame.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

}  // namespace

// Every allocation of this test program, counted while a test asks. (GCC sees new and
// free meet once the two are inlined into one caller, and warns of a mismatch there is not.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (g_counting) ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kvx {
namespace {

constexpr int32_t kWidth = 720, kHeight = 576;

// The plug-in's state as FormatChange leaves it, processing and auto-fit on.
struct Plugin {
    PluginState state;
    ChannelInfo channel{1, 0, {}, {0}};

    explicit Plugin(int32_t pixelFormat) {
        state.format = VideoFormat{kWidth, kHeight, 2 + pixelFormat, pixelFormat, 0};
        state.surface.Configure(kWidth, kHeight, pixelFormat);
        state.scaler.SetHysteresis(10, 10);
        state.EnsureLineBuffer();
        state.liveFit.Configure(kWidth, kHeight, pixelFormat);
        Edit([](ChannelProfile& p) {
            p.procEnable = 1;
            p.autoFit = 1;
        });
    }
    template <class E>
    void Edit(E edit) {
        state.store.EditCurrent(edit);
    }
    void Frames(const std::vector<uint8_t>& picture, int32_t n) {
        for (int32_t i = 0; i < n; ++i) {
            std::vector<uint8_t> frame = picture;
            FrameInfo info{};
            info.pixels = frame.data();
            info.channel = &channel;
            ProcessFrame(state, info);
        }
    }
    const LiveFitState& Fit() const { return state.liveFit.State(); }
};

// Only a change of the fit may allocate: its settings are worked out then, and --detect's
// own rules confirm the picture.
TEST(LiveFit, FramesAllocateNothingButAtAChange) {
    for (int32_t pixelFormat : {0, 1}) {
        Plugin plugin(pixelFormat);
        const std::vector<uint8_t> film = LetterboxedFrame(kWidth, kHeight, pixelFormat, 72, 504);
        std::vector<uint8_t> frame = film;
        plugin.Frames(film, 1);  // the scaler's buffers are made on the first frame
        // The frames themselves, not their copies, are what is counted.
        FrameInfo info{};
        info.pixels = frame.data();
        info.channel = &plugin.channel;
        long allocations = 0;
        for (int32_t i = 1; i < 120; ++i) {
            const uint32_t changes = plugin.Fit().changes;
            g_allocations = 0;
            g_counting = true;
            ProcessFrame(plugin.state, info);
            g_counting = false;
            if (plugin.Fit().changes == changes) allocations += g_allocations;
            frame = film;
        }
        EXPECT_EQ(allocations, 0) << pixelFormat;
        EXPECT_EQ(plugin.Fit().active, 1) << "the fit came in meanwhile";
    }
}

TEST(LiveFit, FollowsTheProfileTheChannelAndTheFrameSize) {
    Plugin plugin(0);
    const std::vector<uint8_t> film = LetterboxedFrame(kWidth, kHeight, 0, 72, 504);
    plugin.Frames(film, 60);
    ASSERT_EQ(plugin.Fit().active, 1);
    EXPECT_EQ(plugin.Fit().scaleX, plugin.Fit().scaleY);  // KeepAspect on: one scale
    const uint32_t changes = plugin.Fit().changes;

    // KeepAspect off: the same part of the frame, filled by a scale for each axis.
    plugin.Edit([](ChannelProfile& p) { p.keepAspect = 0; });
    plugin.Frames(film, 1);
    EXPECT_EQ(plugin.Fit().reason, kFitSettings);
    EXPECT_EQ(plugin.Fit().scaleX, 1000);
    EXPECT_GT(plugin.Fit().scaleY, 1300);

    // Another channel comes without a fit; coming back brings the fit at once. A host that
    // announces the same format again keeps it; a new frame size forgets it.
    for (bool newSize : {false, true}) {
        plugin.state.liveFit.SwitchChannel(2);
        EXPECT_EQ(plugin.Fit().active, 0);
        if (newSize) plugin.state.liveFit.Configure(kWidth, kHeight / 2, 0);
        plugin.state.liveFit.Configure(kWidth, kHeight, 0);
        plugin.state.liveFit.SwitchChannel(1);
        EXPECT_EQ(plugin.Fit().active, newSize ? 0 : 1) << newSize;
    }

    // Auto-fit off: the profile's own settings, at once.
    plugin.Frames(film, 60);
    ASSERT_EQ(plugin.Fit().active, 1);
    plugin.Edit([](ChannelProfile& p) { p.autoFit = 0; });
    plugin.Frames(film, 1);
    EXPECT_EQ(plugin.Fit().active, 0);
    EXPECT_EQ(plugin.Fit().reason, kFitOff);
    EXPECT_EQ(plugin.Fit().scaleY, 1000);
    EXPECT_GT(plugin.Fit().changes, changes + 3);
}

}  // namespace
}  // namespace kvx
