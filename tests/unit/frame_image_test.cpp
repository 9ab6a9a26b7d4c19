// Frames from a decoder's 4:2:0 planes in the host's formats, as worked examples.
#include <gtest/gtest.h>

#include <vector>

#include "frames/frame_image.h"

namespace kvx {
namespace {

// 4x2 pixels: Y 16, 50, 100, 235 on the top row and 20, 60, 110, 230 below; one chroma pair
// per 2x2 block: (U 128, V 128) on the left, (U 90, V 240) on the right.
const std::vector<uint8_t> kPlanes = {16, 50, 100, 235, 20, 60, 110, 230, 128, 90, 128, 240};

TEST(PlanarFrames, BecomeYuyvWithEachPairSharingItsBlocksChroma) {
    FrameGeometry g;
    g.width = 4;
    g.height = 2;
    ASSERT_EQ(PlanarFrameBytes(g), kPlanes.size());
    EXPECT_EQ(FromPlanar(kPlanes, g), (std::vector<uint8_t>{16, 128, 50, 128, 100, 90, 235, 240,  //
                                                            20, 128, 60, 128, 110, 90, 230, 240}));
}

TEST(PlanarFrames, BecomeBottomUpBgr24) {
    FrameGeometry g;
    g.width = 4;
    g.height = 2;
    g.format = HostFormat::Bgr24;
    const std::vector<uint8_t> bgr = FromPlanar(kPlanes, g);
    ASSERT_EQ(bgr.size(), 24u);
    // The first row in memory is the bottom one: Y 20 grey (4 above black), then Y 230.
    EXPECT_EQ(std::vector<uint8_t>(bgr.begin(), bgr.begin() + 3), (std::vector<uint8_t>{5, 5, 5}));
    // Top row, Y 16 grey is black; Y 235 with U 90, V 240 (a strong red) in B, G, R order.
    EXPECT_EQ(std::vector<uint8_t>(bgr.begin() + 12, bgr.begin() + 15), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(bgr.begin() + 21, bgr.begin() + 24), (std::vector<uint8_t>{178, 179, 255}));
}

}  // namespace
}  // namespace kvx
