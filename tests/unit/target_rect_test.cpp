// The target rectangle of the frame pipeline and the integer geometry under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "host/plugin_state.h"
#include "platform/geometry.h"

namespace kvx {
namespace {

ChannelProfile Settings(int32_t scaleX, int32_t scaleY, int32_t offsetX, int32_t offsetY) {
    ChannelProfile p = kBuiltInProfile;
    p.scaleX = scaleX;
    p.scaleY = scaleY;
    p.offsetX = offsetX;
    p.offsetY = offsetY;
    return p;
}

TEST(MulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(576, 1100, 1000), 634);  // 633.6
    EXPECT_EQ(MulDiv(5, 1, 2), 3);
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv(5, -1, 2), -3);
    EXPECT_EQ(MulDiv(-5, -1, 2), 3);
    EXPECT_EQ(MulDiv(576, -100, 1000), -58);  // -57.6
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(INT32_MAX, 2, 1), -1);
}

TEST(IntersectRect, EmptyWhenApart) {
    EXPECT_EQ(IntersectRect({0, 0, 10, 10}, {5, -5, 20, 5}), (Rect{5, 0, 10, 5}));
    EXPECT_EQ(IntersectRect({0, 0, 10, 10}, {10, 0, 20, 10}), (Rect{0, 0, 0, 0}));
    EXPECT_EQ(IntersectRect({0, 0, 10, 10}, {3, 3, 2, 8}), (Rect{0, 0, 0, 0}));
}

struct WorkedTarget {
    int32_t scaleX, scaleY, offsetX, offsetY;
    Rect target, interlacedTarget;
};

// The part of a 720 x 576 frame the pipeline leaves not black: the bounding box of the
// non-black pixels after one frame of a flat, non-black picture (scaling keeps it flat).
Rect VisibleAfterPipeline(const ChannelProfile& settings) {
    PluginState state;
    state.format = VideoFormat{720, 576, 2, 0, 0};
    state.surface.Configure(720, 576, 0);
    state.scaler.SetHysteresis(10, 10);
    state.store.EditCurrent([&](ChannelProfile& p) { p = settings; });
    std::vector<uint8_t> frame(720 * 576 * 2);
    for (size_t i = 0; i < frame.size(); i += 4) {
        const uint8_t pair[4] = {200, 90, 200, 160};
        std::copy(pair, pair + 4, frame.begin() + static_cast<std::ptrdiff_t>(i));
    }
    FrameInfo info{};
    info.pixels = frame.data();
    EXPECT_EQ(ProcessFrame(state, info), 1);
    Rect box{720, 576, 0, 0};
    for (int32_t y = 0; y < 576; ++y)
        for (int32_t x = 0; x < 720; ++x)
            if (frame[(static_cast<size_t>(y) * 720 + static_cast<size_t>(x)) * 2] != 0)
                box = Rect{std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                           std::max(box.bottom, y + 1)};
    return IsRectEmpty(box) ? Rect{0, 0, 0, 0} : box;
}

TEST(TargetRect, WorkedTargetsOf720x576) {
    const WorkedTarget cases[] = {
        {1000, 1000, 0, 0, {0, 0, 720, 576}, {0, 0, 720, 576}},
        {1100, 1100, 0, 0, {-36, -29, 756, 605}, {-36, -30, 756, 604}},
        {900, 900, 0, 0, {36, 29, 684, 547}, {36, 28, 684, 546}},
        {1000, 1000, 50, 100, {36, -58, 756, 518}, {36, -58, 756, 518}},
        {900, 900, 0, 100, {36, -29, 684, 489}, {36, -30, 684, 488}},
    };
    const Rect frame{0, 0, 720, 576};
    for (const WorkedTarget& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scaleX << " " << c.offsetX << " " << c.offsetY);
        ChannelProfile settings = Settings(c.scaleX, c.scaleY, c.offsetX, c.offsetY);
        EXPECT_EQ(TargetRect(720, 576, settings), c.target);
        // The whole pipeline, field-wise and as one picture: the borders frame the target.
        settings.procEnable = 1;
        settings.deinterlace = 0;
        settings.interlace = 1;
        EXPECT_EQ(VisibleAfterPipeline(settings), IntersectRect(frame, c.interlacedTarget));
        settings.interlace = 0;
        EXPECT_EQ(VisibleAfterPipeline(settings), IntersectRect(frame, c.target));
    }
}

TEST(TargetRect, HalvesEachSizeBeforeSubtracting) {
    // 720 / 2 - 649 / 2 = 360 - 324 = 36, not (720 - 649) / 2 = 35; the same for the height.
    Rect t = TargetRect(720, 576, Settings(901, 901, 0, 0));
    EXPECT_EQ(t, (Rect{36, 29, 36 + 649, 29 + 519}));
    // 721 / 2 - 793 / 2 = 360 - 396 = -36.
    t = TargetRect(721, 576, Settings(1100, 1000, 0, 0));
    EXPECT_EQ(t.left, -36);
    EXPECT_EQ(t.right, -36 + 793);
}

TEST(TargetRect, ExtremeSettingsStayDefined) {
    const int32_t extremes[] = {INT32_MIN, -1000000, -1, 0, 1, 1000000, INT32_MAX};
    for (int32_t a : extremes)
        for (int32_t b : extremes) {
            Rect t = TargetRect(720, 576, Settings(a, b, b, a));
            for (int32_t v : {t.left, t.top, t.right, t.bottom}) {
                EXPECT_LE(v, 1 << 30);
                EXPECT_GE(v, -(1 << 30));
            }
        }
    // A negative scale gives an inverted, hence empty, target.
    EXPECT_TRUE(IsRectEmpty(TargetRect(720, 576, Settings(-1000, 1000, 0, 0))));
}

}  // namespace
}  // namespace kvx
