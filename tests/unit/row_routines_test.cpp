#include "video/row_routines.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace kvx {
namespace {

const RowRoutines& R() { return PortableRowRoutines(); }

int FloorBlend(int a, int b, int w) {
    int num = (b - a) * w;
    return a + (num >= 0 ? num / 4096 : -((-num + 4095) / 4096));
}

ScaleStep Step(int32_t advance, int32_t neighbour, uint16_t w) {
    return ScaleStep{advance, neighbour, {w, w, w, w}};
}

// A heap block of exactly `bytes`, so that AddressSanitizer sees any access past its end.
std::unique_ptr<uint8_t[]> Exact(size_t bytes, uint8_t fill) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[bytes]);
    std::fill(block.get(), block.get() + bytes, fill);
    return block;
}

template <size_t N>
void ExpectBytes(const uint8_t* got, const uint8_t (&expected)[N]) {
    for (size_t i = 0; i < N; ++i) EXPECT_EQ(got[i], expected[i]) << "byte " << i;
}

TEST(RowBlend, PackedFormIsTheFlooredFormula) {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (int w = a % 7; w < 4096; w += 7)
                ASSERT_EQ(BlendLane(a, b, w), FloorBlend(a, b, w)) << a << " " << b << " " << w;
}

TEST(RowBlend, Consequences) {
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            EXPECT_EQ(BlendLane(a, b, 0), a);
            EXPECT_EQ(BlendLane(a, b, 2048), (a + b) / 2);
            if (b < a) {
                EXPECT_LE(BlendLane(a, b, 1), a - 1);
            }
        }
        if (a < 255) {
            EXPECT_EQ(BlendLane(a, a + 1, 4095), a);
        }
    }
    EXPECT_EQ(BlendLane(10, 9, 1), 9);      // falling edge
    EXPECT_EQ(BlendLane(9, 10, 4095), 9);   // rising edge
}

TEST(VerticalRow, YuyvSpreadsEachPairIntoTwoWorkPixels) {
    const uint8_t a[8] = {10, 20, 30, 40, 9, 100, 200, 0};
    const uint8_t b[8] = {20, 20, 40, 30, 10, 101, 100, 255};
    uint8_t work[17];
    std::fill(work, work + 17, 0xEE);
    R().verticalYuyv(a, b, 2048, work, 2);
    const uint8_t expected[17] = {15, 20, 15, 35, 35, 20, 35, 35,
                                  9,  100, 9, 127, 150, 100, 150, 127, 0xEE};
    ExpectBytes(work, expected);

    R().verticalYuyv(a, b, 0, work, 1);  // weight 0 copies the first row
    const uint8_t copy[8] = {10, 20, 10, 40, 30, 20, 30, 40};
    ExpectBytes(work, copy);
}

TEST(VerticalRow, Rgb24ReadsExactlyThreeBytesPerPixel) {
    // The rows end exactly at the end of their blocks, like the last pixel of a frame.
    auto a = Exact(6, 0), b = Exact(6, 0);
    const uint8_t av[6] = {10, 9, 0, 255, 1, 2}, bv[6] = {9, 10, 255, 0, 3, 2};
    std::copy(av, av + 6, a.get());
    std::copy(bv, bv + 6, b.get());
    uint8_t work[9];
    std::fill(work, work + 9, 0xEE);
    R().verticalRgb24(a.get(), b.get(), 1, work, 2);
    const uint8_t w1[9] = {9, 9, 0, 0, 254, 1, 2, 0, 0xEE};
    ExpectBytes(work, w1);
    R().verticalRgb24(a.get(), b.get(), 4095, work, 2);
    const uint8_t w2[9] = {9, 9, 254, 0, 0, 2, 2, 0, 0xEE};
    ExpectBytes(work, w2);
}

// Work pixels 0..3 with distinct lanes; an identity table reads them one by one.
const uint8_t kWork[16] = {10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33, 40, 41, 42, 43};
const ScaleStep kCopy[4] = {Step(0, 0, 0), Step(4, 0, 0), Step(4, 0, 0), Step(4, 0, 0)};

TEST(HorizontalRow, YuyvEvenStartTakesYuThenYv) {
    uint8_t dst[12];
    std::fill(dst, dst + 12, 0xEE);
    R().horizontalYuyvEven(kWork, dst + 2, 3, kCopy);
    const uint8_t expected[12] = {0xEE, 0xEE, 10, 11, 22, 23, 30, 31, 0xEE, 0xEE, 0xEE, 0xEE};
    ExpectBytes(dst, expected);
}

TEST(HorizontalRow, YuyvOddStartWritesOnlyYAndVOfTheFirstPixel) {
    uint8_t dst[12];
    std::fill(dst, dst + 12, 0xEE);
    R().horizontalYuyvOdd(kWork, dst + 2, 4, kCopy);
    const uint8_t expected[12] = {0xEE, 0xEE, 12, 13, 20, 21, 32, 33, 40, 41, 0xEE, 0xEE};
    ExpectBytes(dst, expected);

    std::fill(dst, dst + 12, 0xEE);
    R().horizontalYuyvOdd(kWork, dst + 2, 1, kCopy);
    EXPECT_EQ(dst[1], 0xEE);
    EXPECT_EQ(dst[2], 12);
    EXPECT_EQ(dst[3], 13);
    EXPECT_EQ(dst[4], 0xEE);
}

TEST(HorizontalRow, BlendsAllLanesWithTheTableWeights) {
    // Halfway between pixels 0 and 1, then back onto pixel 1 alone, then a quarter to 3.
    const ScaleStep steps[3] = {Step(0, 4, 2048), Step(0, 0, 0), Step(4, 4, 1024)};
    uint8_t dst[9];
    std::fill(dst, dst + 9, 0xEE);
    R().horizontalRgb24(kWork, dst, 3, steps);
    const uint8_t expected[9] = {15, 16, 17, 20, 21, 22, 32, 33, 34};
    ExpectBytes(dst, expected);

    uint8_t pair[4];
    R().horizontalYuyvEven(kWork, pair, 2, steps);
    const uint8_t yuyv[4] = {15, 16, 22, 23};
    ExpectBytes(pair, yuyv);
}

TEST(HorizontalRow, Rgb24WritesExactlyThreeBytesUpToTheEnd) {
    auto dst = Exact(6, 0xEE);
    R().horizontalRgb24(kWork, dst.get() + 3, 1, kCopy + 1 /* starts at pixel 1 */);
    const uint8_t expected[6] = {0xEE, 0xEE, 0xEE, 20, 21, 22};
    ExpectBytes(dst.get(), expected);
}

TEST(HorizontalRow, ZeroCountWritesNothing) {
    uint8_t dst[4] = {1, 2, 3, 4};
    R().horizontalYuyvEven(kWork, dst, 0, kCopy);
    R().horizontalYuyvOdd(kWork, dst, 0, kCopy);
    R().horizontalRgb24(kWork, dst, 0, kCopy);
    EXPECT_EQ(dst[0] + dst[1] + dst[2] + dst[3], 10);
}

}  // namespace
}  // namespace kvx
