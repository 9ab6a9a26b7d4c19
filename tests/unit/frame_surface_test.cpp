// Border fill: colour conversion, the YUY2 pair rules at odd edges, bottom-up addressing,
// clipping and opacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "video/frame_surface.h"

namespace kvx {
namespace {

constexpr uint8_t kGuard = 0xA5;

// A frame with guard bytes on both sides, filled with a recognisable ramp.
struct Frame {
    int32_t width, height, bpp;
    std::vector<uint8_t> bytes;
    Frame(int32_t w, int32_t h, int32_t bytesPerPixel)
        : width(w), height(h), bpp(bytesPerPixel), bytes(w * h * bytesPerPixel + 64, kGuard) {
        for (int32_t i = 0; i < w * h * bpp; ++i) pixels()[i] = static_cast<uint8_t>(7 + i * 13);
    }
    uint8_t* pixels() { return bytes.data() + 32; }
    bool GuardsIntact() const {
        for (int i = 0; i < 32; ++i)
            if (bytes[i] != kGuard || bytes[bytes.size() - 1 - i] != kGuard) return false;
        return true;
    }
};

FrameSurface Surface(Frame& f, int32_t pixelFormat) {
    FrameSurface s;
    s.Configure(f.width, f.height, pixelFormat);
    s.SetPixels(f.pixels());
    return s;
}

TEST(ConvertColour, BlackAndWhiteInBothFormats) {
    FrameSurface yuv, rgb;
    yuv.Configure(4, 4, 0);
    rgb.Configure(4, 4, 1);
    EXPECT_EQ(yuv.ConvertColour(0x000000), 0x80008000u);  // bytes 00 80 00 80
    EXPECT_EQ(yuv.ConvertColour(0xFFFFFF), 0x80FF80FFu);  // Y 255, U 128, V 128
    EXPECT_EQ(rgb.ConvertColour(0x000000), 0u);
    EXPECT_EQ(rgb.ConvertColour(0x0000FF), 0x00FF0000u);  // red is the third byte in memory
    // Pure red: Y = 9798*255>>15 = 76, U = floor(-5529*255/32768)+128 = 84, V = 127+128 = 255.
    EXPECT_EQ(yuv.ConvertColour(0x0000FF), (76u) | (84u << 8) | (76u << 16) | (255u << 24));
}

TEST(FillRect, YuyvBlackWritesPairs) {
    Frame f(8, 2, 2);
    FrameSurface s = Surface(f, 0);
    s.FillRect(0, 0, 8, 1, 0, 100);
    for (int i = 0; i < 16; i += 4) {
        EXPECT_EQ(f.pixels()[i], 0);
        EXPECT_EQ(f.pixels()[i + 1], 0x80);
        EXPECT_EQ(f.pixels()[i + 2], 0);
        EXPECT_EQ(f.pixels()[i + 3], 0x80);
    }
    EXPECT_EQ(f.pixels()[16], static_cast<uint8_t>(7 + 16 * 13));  // row 1 untouched
    EXPECT_TRUE(f.GuardsIntact());
}

TEST(FillRect, YuyvOddEdgesKeepTheNeighboursBytes) {
    for (int opacity : {100, 50}) {
        Frame f(8, 1, 2);
        Frame before = f;
        FrameSurface s = Surface(f, 0);
        s.FillRect(1, 0, 5, 1, 0, opacity);  // pixels 1..4
        const uint8_t* p = f.pixels();
        const uint8_t* o = before.pixels();
        // Pair 0: only pixel 1's luma (byte 2); pixel 0's luma and the pair's U, V stay.
        EXPECT_EQ(p[0], o[0]);
        EXPECT_EQ(p[1], o[1]);
        EXPECT_NE(p[2], o[2]);
        EXPECT_EQ(p[3], o[3]);
        // Pair 1 whole.
        for (int i = 4; i < 8; ++i) EXPECT_NE(p[i], o[i]) << i;
        // Pair 2: pixel 4's luma, U and V, but not pixel 5's luma.
        EXPECT_NE(p[8], o[8]);
        EXPECT_NE(p[9], o[9]);
        EXPECT_EQ(p[10], o[10]);
        EXPECT_NE(p[11], o[11]);
        for (int i = 12; i < 16; ++i) EXPECT_EQ(p[i], o[i]);
    }
}

TEST(FillRect, Rgb24IsBottomUp) {
    Frame f(3, 2, 3);
    FrameSurface s = Surface(f, 1);
    s.FillRect(0, 0, 3, 1, 0x00FF0000, 100);  // blue, top picture row = last row in memory
    for (int i = 0; i < 9; ++i) EXPECT_EQ(f.pixels()[i], static_cast<uint8_t>(7 + i * 13));
    for (int i = 9; i < 18; i += 3) {
        EXPECT_EQ(f.pixels()[i], 0xFF);
        EXPECT_EQ(f.pixels()[i + 1], 0);
        EXPECT_EQ(f.pixels()[i + 2], 0);
    }
    EXPECT_TRUE(f.GuardsIntact());
}

TEST(FillRect, ClipsAndIgnoresEmptyRectangles) {
    Frame f(8, 4, 2);
    Frame before = f;
    FrameSurface s = Surface(f, 0);
    s.FillRect(2, 2, 2, 4, 0, 100);    // empty
    s.FillRect(6, 3, 2, 4, 0, 100);    // inverted
    s.FillRect(8, 0, 20, 4, 0, 100);   // right of the frame
    s.FillRect(-9, -9, 0, 9, 0, 100);  // left of the frame
    EXPECT_EQ(f.bytes, before.bytes);
    s.FillRect(2, -5, 4, 1, 0, 100);  // clipped to top 0, keeps left 2
    EXPECT_EQ(f.pixels()[4], 0);
    EXPECT_EQ(f.pixels()[3], before.pixels()[3]);
    EXPECT_EQ(f.pixels()[16], before.pixels()[16]);
    s.FillRect(-100, -100, 100, 100, 0, 100);
    EXPECT_TRUE(f.GuardsIntact());
}

TEST(FillRect, OpacityZeroKeepsAndMixingRoundsDown) {
    Frame f(4, 2, 3);
    Frame before = f;
    FrameSurface s = Surface(f, 1);
    s.FillRect(0, 0, 4, 2, 0xFFFFFF, 0);
    EXPECT_EQ(f.bytes, before.bytes);
    // Opacity 50: w = 128, new = c + floor((f - c) / 2); white over 0x07 gives 255 + floor(-248/2) = 131.
    f.pixels()[0] = 7;
    s.FillRect(0, 1, 1, 2, 0xFFFFFF, 50);
    EXPECT_EQ(f.pixels()[0], 131);
}

TEST(FillRect, OddYuyvWidthStaysInsideTheFrame) {
    // Rows of 5 pixels, 10 bytes: pairs (0, 1) and (2, 3), then pixel 4's Y and U alone;
    // its V would be the next row's first byte.
    for (int opacity : {100, 30}) {
        SCOPED_TRACE(opacity);
        Frame f(5, 3, 2);
        Frame before = f;
        FrameSurface s = Surface(f, 0);
        const uint8_t* p = f.pixels();
        const uint8_t* o = before.pixels();
        // A band ending inside the row at pixel 2: that pair's Y, U and V, not pixel 3's Y.
        s.FillRect(0, 0, 3, 1, 0, opacity);
        for (int i : {0, 1, 2, 3, 4, 5, 7}) EXPECT_NE(p[i], o[i]) << i;
        for (int i : {6, 8, 9}) EXPECT_EQ(p[i], o[i]) << i;
        // A band ending at the row's end: pixel 4's Y and U, never the next row's bytes.
        s.FillRect(4, 0, 5, 2, 0, opacity);
        for (int i : {8, 9, 18, 19}) EXPECT_NE(p[i], o[i]) << i;
        for (int i = 10; i < 18; ++i) EXPECT_EQ(p[i], o[i]) << i;
        EXPECT_EQ(p[20], o[20]);
        s.FillRect(0, 0, 5, 3, 0, opacity);
        s.FillRect(4, 2, 5, 3, 0xFFFFFF, 30);
        EXPECT_TRUE(f.GuardsIntact());
    }
    Frame f(5, 1, 2);
    FrameSurface s = Surface(f, 0);
    s.FillRect(0, 0, 5, 1, 0, 100);  // solid black: 00 80 00 80 | 00 80 00 80 | 00 80
    const uint8_t black[10] = {0, 0x80, 0, 0x80, 0, 0x80, 0, 0x80, 0, 0x80};
    EXPECT_TRUE(std::equal(black, black + 10, f.pixels()));
    EXPECT_TRUE(f.GuardsIntact());
}

TEST(FillRect, OtherPixelFormatsPaintNothing) {
    Frame f(4, 2, 2);
    Frame before = f;
    FrameSurface s = Surface(f, 7);
    s.FillRect(0, 0, 4, 2, 0, 100);
    EXPECT_EQ(f.bytes, before.bytes);
}

}  // namespace
}  // namespace kvx
