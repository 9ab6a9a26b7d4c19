// Line blend: two-step rounding, untouched edge lines and the partial 8-byte group.
#include <gtest/gtest.h>

#include <vector>

#include "video/line_blend.h"

namespace kvx {
namespace {

std::vector<uint8_t> Lines(std::initializer_list<uint8_t> values, int lineBytes) {
    std::vector<uint8_t> frame;
    for (uint8_t v : values) frame.insert(frame.end(), lineBytes, v);
    return frame;
}

TEST(BlendLines, SingleBrightLineSpreads) {
    auto frame = Lines({0, 0, 255, 0, 0}, 8);
    std::vector<uint8_t> buffer(8);
    BlendLines(frame.data(), buffer.data(), 4, 5, 2);
    EXPECT_EQ(frame, Lines({0, 64, 128, 64, 0}, 8));
}

TEST(BlendLines, TwoStepRoundingDiffersFromOneStep) {
    // u=0,c=0,d=1 gives 1 and u=1,c=0,d=0 gives 1 where (u + 2c + d + 2) >> 2 gives 0.
    auto frame = Lines({0, 0, 1, 0, 0}, 8);
    std::vector<uint8_t> buffer(8);
    BlendLines(frame.data(), buffer.data(), 8, 5, 1);
    EXPECT_EQ(frame, Lines({0, 1, 1, 1, 0}, 8));
}

TEST(BlendLines, FullCombBecomesGreyInside) {
    auto frame = Lines({0, 255, 0, 255, 0, 255}, 16);
    std::vector<uint8_t> buffer(16);
    BlendLines(frame.data(), buffer.data(), 8, 6, 2);
    EXPECT_EQ(frame, Lines({0, 128, 128, 128, 128, 255}, 16));
}

TEST(BlendLines, UniformColumnsStay) {
    std::vector<uint8_t> frame(4 * 24);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i % 24 * 11);
    auto before = frame;
    std::vector<uint8_t> buffer(24);
    BlendLines(frame.data(), buffer.data(), 8, 4, 3);
    EXPECT_EQ(frame, before);
}

TEST(BlendLines, RemainderBytesOfEachLineStay) {
    const int width = 718, bpp = 2, lineBytes = width * bpp;  // 1436: 1432 blended, 4 kept
    auto frame = Lines({0, 255, 0}, lineBytes);
    std::vector<uint8_t> buffer(lineBytes);
    BlendLines(frame.data(), buffer.data(), width, 3, bpp);
    EXPECT_EQ(frame[lineBytes + 1431], 128);
    for (int i = 1432; i < lineBytes; ++i) EXPECT_EQ(frame[lineBytes + i], 255) << i;
}

TEST(BlendLines, TooSmallFramesAreLeftAlone) {
    auto two = Lines({0, 255}, 8);
    auto shortLines = Lines({0, 255, 0, 255}, 6);
    std::vector<uint8_t> buffer(8);
    auto a = two, b = shortLines;
    BlendLines(a.data(), buffer.data(), 4, 2, 2);
    BlendLines(b.data(), buffer.data(), 3, 4, 2);
    EXPECT_EQ(a, two);
    EXPECT_EQ(b, shortLines);
}

}  // namespace
}  // namespace kvx
