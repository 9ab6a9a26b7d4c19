// kvx-host's test pattern: the source draws the still parts once and redraws only the moving
// marker, so every frame must equal the pattern drawn whole, in both layouts and at odd sizes.
#include <gtest/gtest.h>

#include "frames/frame_source.h"

namespace kvx {
namespace {

TEST(PatternSource, EveryFrameEqualsThePatternDrawnWhole) {
    for (HostFormat format : {HostFormat::Yuyv, HostFormat::Bgr24}) {
        for (auto size : {std::make_pair(352, 288), std::make_pair(98, 37), std::make_pair(10, 6)}) {
            FrameGeometry g;
            g.width = size.first;
            g.height = size.second;
            g.format = format;
            const int frames = g.width / 8 + 4;  // the marker crosses the whole width and wraps
            auto source = MakePatternSource(g, frames);
            ASSERT_EQ(source->Length(), frames);
            std::vector<uint8_t> frame;
            std::string error;
            for (int i = 0; i < frames; ++i) {
                ASSERT_EQ(source->Next(frame, error), FrameSource::Result::Frame);
                ASSERT_EQ(frame, MakeTestPattern(g, i)) << g.width << "x" << g.height << " frame " << i;
            }
            EXPECT_EQ(source->Next(frame, error), FrameSource::Result::End);
        }
    }
}

}  // namespace
}  // namespace kvx
