// From a picture rectangle to the settings that make it fill the frame.
#include <gtest/gtest.h>

#include <vector>

#include "borders/fit_settings.h"
#include "host/plugin_state.h"
#include "video/scaler.h"

namespace kvx {
namespace {

struct WorkedFit {
    int32_t width, height;
    Rect picture;
    FitMode mode;
    int32_t trim;
    bool interlaced;
    int32_t scaleX, scaleY, offsetX, offsetY;
    Rect cut;
};

// Each scale is the smallest 0.1 % step whose resampled picture covers the frame: with one
// step less the plug-in's edge line would blend in a border line. For example 16:9
// letterboxed in 720x576 (rows 72..503): ScaleY 1336 gives a 770-row target at -97, whose
// row 97 samples source row 72.53 (rows 72 and 73); 1335 gives 769 rows at -96, whose row
// 96 samples row 71.88, a border row.
const WorkedFit kWorkedFits[] = {
    {720, 576, {0, 72, 720, 504}, FitMode::Fill, 0, false, 1000, 1336, 0, 0, {0, 72, 0, 72}},
    // Field by field the target's ends are even and each field has 288 lines.
    {720, 576, {0, 72, 720, 504}, FitMode::Fill, 0, true, 1000, 1338, 0, 0, {0, 72, 0, 72}},
    // Asymmetric 7/13/0/21: the offsets move the picture's centre onto the frame's.
    {720, 576, {7, 13, 720, 555}, FitMode::Fill, 0, false, 1011, 1064, -5, -7, {7, 13, 0, 21}},
    // One scale for both: the width's excess is cut about evenly.
    {720, 576, {7, 13, 720, 555}, FitMode::Aspect, 0, false, 1064, 1064, -5, -7, {25, 13, 17, 21}},
    // 4:3 pillarboxed in 1920x1080.
    {1920, 1080, {240, 0, 1680, 1080}, FitMode::Fill, 0, false, 1335, 1000, 0, 0, {240, 0, 241, 0}},
    {1920, 1080, {240, 0, 1680, 1080}, FitMode::Aspect, 0, false, 1335, 1335, 0, 0, {240, 135, 241, 135}},
    // Trim 1.5 %: 11 columns and 6 rows of the picture more on every side.
    {720, 576, {0, 72, 720, 504}, FitMode::Fill, 15, true, 1033, 1373, 0, 0, {11, 78, 11, 78}},
};

FitResult Fit(const WorkedFit& c) {
    return FitSettings(c.width, c.height, c.picture, FitRequest{c.mode, c.trim, c.interlaced, 250});
}

TEST(FitSettings, WorkedExamples) {
    for (const WorkedFit& c : kWorkedFits) {
        const FitResult r = Fit(c);
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " picture " << c.picture.left
                                        << "," << c.picture.top << "," << c.picture.right << ","
                                        << c.picture.bottom << " trim " << c.trim);
        ASSERT_TRUE(r.ok) << r.refusal;
        EXPECT_EQ(r.scaleX, c.scaleX);
        EXPECT_EQ(r.scaleY, c.scaleY);
        EXPECT_EQ(r.offsetX, c.offsetX);
        EXPECT_EQ(r.offsetY, c.offsetY);
        EXPECT_EQ(r.keepAspect, c.mode == FitMode::Aspect);
        EXPECT_EQ(r.cut, c.cut);
    }
}

// The plug-in's own scaling of a frame whose border is Y 16 and whose picture is flat Y 200:
// with the suggested settings every pixel of the frame's outer lines is picture, exactly.
TEST(FitSettings, ThePluginShowsOnlyPictureAtTheFrameEdges) {
    for (const WorkedFit& c : kWorkedFits) {
        const FitResult r = Fit(c);
        ASSERT_TRUE(r.ok);
        std::vector<uint8_t> frame(static_cast<size_t>(c.width) * c.height * 2);
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                const bool inside = x >= c.picture.left && x < c.picture.right &&
                                    y >= c.picture.top && y < c.picture.bottom;
                uint8_t* p = &frame[(static_cast<size_t>(y) * c.width + x) * 2];
                p[0] = inside ? 200 : 16;
                p[1] = 128;
            }
        ChannelProfile s = kBuiltInProfile;
        s.scaleX = r.scaleX;
        s.scaleY = r.scaleY;
        s.offsetX = r.offsetX;
        s.offsetY = r.offsetY;
        Scaler scaler;
        scaler.Scale(frame.data(), c.width, c.height, {0, 0, c.width, c.height},
                     TargetRect(c.width, c.height, s), LayoutYuyv, c.interlaced, nullptr, nullptr);
        auto luma = [&](int32_t x, int32_t y) { return frame[(static_cast<size_t>(y) * c.width + x) * 2]; };
        int wrong = 0;
        for (int32_t x = 0; x < c.width; ++x)
            wrong += (luma(x, 0) != 200) + (luma(x, 1) != 200) + (luma(x, c.height - 2) != 200) +
                     (luma(x, c.height - 1) != 200);
        for (int32_t y = 0; y < c.height; ++y)
            wrong += (luma(0, y) != 200) + (luma(c.width - 1, y) != 200);
        EXPECT_EQ(wrong, 0) << c.width << "x" << c.height << " trim " << c.trim
                            << (c.interlaced ? " interlaced" : "");
    }
}

TEST(FitSettings, RefusesACutOfMoreThanAQuarterOnASide) {
    // 150 rows of 576 (26 %) at the top and the bottom.
    FitResult r = FitSettings(720, 576, {0, 150, 720, 426}, FitRequest{});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.refusal.find("at the top"), std::string::npos) << r.refusal;
    // 144 rows (exactly 25 %) are accepted.
    r = FitSettings(720, 576, {0, 144, 720, 432}, FitRequest{});
    EXPECT_TRUE(r.ok) << r.refusal;
    // The aspect fit of a narrow pillarbox cuts the height too far.
    r = FitSettings(720, 576, {200, 0, 520, 576}, FitRequest{FitMode::Aspect, 0, false, 250});
    EXPECT_FALSE(r.ok);
}

TEST(FitSettings, RejectsRectanglesOutsideTheFrameAndTrimsThatLeaveNothing) {
    EXPECT_FALSE(FitSettings(720, 576, {-1, 0, 720, 576}, FitRequest{}).ok);
    EXPECT_FALSE(FitSettings(720, 576, {0, 0, 721, 576}, FitRequest{}).ok);
    EXPECT_FALSE(FitSettings(720, 576, {10, 10, 10, 20}, FitRequest{}).ok);
    EXPECT_FALSE(FitSettings(0, 576, {0, 0, 0, 576}, FitRequest{}).ok);
    EXPECT_FALSE(FitSettings(720, 576, {0, 0, 720, 576}, FitRequest{FitMode::Fill, 500, false, 250}).ok);
    EXPECT_FALSE(FitSettings(720, 576, {0, 0, 720, 576}, FitRequest{FitMode::Fill, -10, false, 250}).ok);
}

}  // namespace
}  // namespace kvx
