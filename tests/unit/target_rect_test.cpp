// The target rectangle of the frame pipeline and the integer geometry under it.
#include <gtest/gtest.h>

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

TEST(TargetRect, WorkedTargetsOf720x576) {
    const WorkedTarget cases[] = {
        {1000, 1000, 0, 0, {0, 0, 720, 576}, {0, 0, 720, 576}},
        {1100, 1100, 0, 0, {-36, -29, 756, 605}, {-36, -30, 756, 604}},
        {900, 900, 0, 0, {36, 29, 684, 547}, {36, 28, 684, 546}},
        {1000, 1000, 50, 100, {36, -58, 756, 518}, {36, -58, 756, 518}},
        {900, 900, 0, 100, {36, -29, 684, 489}, {36, -30, 684, 488}},
    };
    for (const WorkedTarget& c : cases) {
        Rect t = TargetRect(720, 576, Settings(c.scaleX, c.scaleY, c.offsetX, c.offsetY));
        EXPECT_EQ(t, c.target) << c.scaleX << " " << c.offsetX << " " << c.offsetY;
        t.top &= ~1;
        t.bottom &= ~1;
        EXPECT_EQ(t, c.interlacedTarget);
    }
}

TEST(TargetRect, HalvesEachSizeBeforeSubtracting) {
    // 721 / 2 - 793 / 2 = 360 - 396 = -36, not (721 - 793) / 2.
    Rect t = TargetRect(721, 576, Settings(1100, 1000, 0, 0));
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
