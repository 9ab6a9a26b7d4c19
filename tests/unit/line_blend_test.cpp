// Line blend: two-step rounding, untouched edge lines and the partial 8-byte group.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/dispatch.h"
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

// Every level against the blend written out line by line, over heights that end a band of
// lines early, exactly or just after, and lines with a partial 8-byte group (a pixel
// stride above the pixel's size included).
TEST(BlendLines, EveryLevelMatchesTheFormulaAtEverySize) {
    struct Size {
        int32_t width, height, bytesPerPixel;
    };
    std::mt19937 rng(5);
    for (Size s : {Size{4, 3, 2}, Size{718, 17, 2}, Size{33, 18, 3}, Size{13, 19, 4},
                   Size{100, 34, 3}, Size{5, 35, 7}, Size{181, 40, 2}}) {
        const int32_t lineBytes = s.width * s.bytesPerPixel, blended = lineBytes / 8 * 8;
        std::vector<uint8_t> original(static_cast<size_t>(lineBytes) * s.height);
        for (uint8_t& v : original) v = static_cast<uint8_t>(rng());
        std::vector<uint8_t> expected = original;
        for (int32_t y = 1; y < s.height - 1; ++y)
            for (int32_t i = 0; i < blended; ++i) {
                const uint8_t* at = &original[static_cast<size_t>(y) * lineBytes + i];
                const int above = at[-lineBytes], centre = at[0], below = at[lineBytes];
                expected[static_cast<size_t>(y) * lineBytes + i] =
                    static_cast<uint8_t>(((above + below + 1) / 2 + centre + 1) / 2);
            }
        for (int level = 0; level <= static_cast<int>(SupportedSimdLevel()); ++level) {
            SetSimdLevelLimit(static_cast<SimdLevel>(level));
            std::vector<uint8_t> frame = original, buffer(lineBytes);
            BlendLines(frame.data(), buffer.data(), s.width, s.height, s.bytesPerPixel);
            EXPECT_EQ(frame, expected) << SimdLevelName(static_cast<SimdLevel>(level)) << ", "
                                       << s.width << "x" << s.height << "x" << s.bytesPerPixel;
        }
    }
    SetSimdLevelLimit(SimdLevel::Avx2);
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
