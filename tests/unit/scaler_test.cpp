#include "video/scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include "video/aligned_buffer.h"
#include "video/row_routines.h"

namespace kvx {
namespace {

// A frame of random bytes between guard bytes. With guard 0 the frame is a heap block of
// exactly its size, so AddressSanitizer catches any read or write past either end.
class TestFrame {
public:
    TestFrame(int32_t width, int32_t height, PixelLayout layout, size_t guard = 32, uint32_t seed = 1)
        : width(width), height(height), layout(layout), bpp(layout == LayoutYuyv ? 2 : 3),
          guard(guard), memory(guard * 2 + static_cast<size_t>(width) * height * bpp, kGuard) {
        std::mt19937 rng(seed);
        for (size_t i = 0; i < Bytes(); ++i) Pixels()[i] = static_cast<uint8_t>(rng());
    }

    uint8_t* Pixels() { return memory.data() + guard; }
    size_t Bytes() const { return static_cast<size_t>(width) * height * bpp; }
    std::vector<uint8_t> Contents() { return {Pixels(), Pixels() + Bytes()}; }

    // Image coordinates, row 0 at the top in both layouts.
    size_t Offset(int32_t x, int32_t y) const {
        int32_t row = layout == LayoutYuyv ? y : height - 1 - y;
        return (static_cast<size_t>(row) * width + x) * bpp;
    }
    uint8_t* At(int32_t x, int32_t y) { return Pixels() + Offset(x, y); }

    bool GuardsIntact() const {
        return std::all_of(memory.begin(), memory.begin() + guard,
                           [](uint8_t b) { return b == kGuard; }) &&
               std::all_of(memory.end() - guard, memory.end(),
                           [](uint8_t b) { return b == kGuard; });
    }

    bool Scale(Scaler& scaler, Rect source, Rect destination, bool interlaced) {
        return scaler.Scale(Pixels(), width, height, source, destination, layout, interlaced);
    }
    bool Scale(Scaler& scaler, Rect destination, bool interlaced) {
        return Scale(scaler, Rect{0, 0, width, height}, destination, interlaced);
    }

    const int32_t width, height;
    const PixelLayout layout;
    const int32_t bpp;

private:
    static constexpr uint8_t kGuard = 0xA5;
    size_t guard;
    std::vector<uint8_t> memory;
};

Scaler& Engine() {
    static Scaler* scaler = [] {
        auto* s = new Scaler;
        s->SetHysteresis(10, 10);
        return s;
    }();
    return *scaler;
}

bool Inside(const Rect& r, int32_t x, int32_t y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Every pixel outside `clip` still has the bytes of `before`.
void ExpectUntouchedOutside(TestFrame& frame, const std::vector<uint8_t>& before, Rect clip) {
    for (int32_t y = 0; y < frame.height; ++y) {
        for (int32_t x = 0; x < frame.width; ++x) {
            if (Inside(clip, x, y)) continue;
            for (int32_t b = 0; b < frame.bpp; ++b)
                ASSERT_EQ(frame.At(x, y)[b], before[frame.Offset(x, y) + b])
                    << "pixel " << x << "," << y;
        }
    }
}

Rect Aligned(Rect r, bool interlaced) {
    if (interlaced) {
        r.top &= ~1;
        r.bottom &= ~1;
    }
    return r;
}

// The pixels of a clipped destination equal the matching part of the whole picture,
// computed on a canvas large enough to hold all of it.
void ExpectClipMatchesWhole(int32_t width, int32_t height, PixelLayout layout, bool interlaced,
                            Rect destination, uint32_t seed) {
    SCOPED_TRACE(testing::Message() << width << "x" << height << " layout " << layout
                                    << (interlaced ? " interlaced" : "") << " dest "
                                    << destination.left << "," << destination.top << ","
                                    << destination.right << "," << destination.bottom);
    Rect dest = Aligned(destination, interlaced);
    int32_t dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    TestFrame frame(width, height, layout, 16, seed);
    TestFrame canvas(std::max(width, dw), std::max(height, dh), layout, 16, seed + 1);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            std::copy(frame.At(x, y), frame.At(x, y) + frame.bpp, canvas.At(x, y));
    auto before = frame.Contents();

    ASSERT_TRUE(canvas.Scale(Engine(), Rect{0, 0, width, height}, Rect{0, 0, dw, dh}, interlaced));
    ASSERT_TRUE(frame.Scale(Engine(), destination, interlaced));

    Rect clip = IntersectRect(dest, Rect{0, 0, width, height});
    for (int32_t y = clip.top; y < clip.bottom; ++y)
        for (int32_t x = clip.left; x < clip.right; ++x)
            for (int32_t b = 0; b < frame.bpp; ++b)
                ASSERT_EQ(frame.At(x, y)[b], canvas.At(x - dest.left, y - dest.top)[b])
                    << "pixel " << x << "," << y << " byte " << b;
    ExpectUntouchedOutside(frame, before, clip);
    EXPECT_TRUE(frame.GuardsIntact());
    EXPECT_TRUE(canvas.GuardsIntact());
}

struct Geometry {
    Rect destination;
    bool interlaced;
    Rect clip;
    StepTableKey rowKey, columnKey;
    int32_t workWidth, workHeight;
};

TEST(ScalerGeometry, WorkedExamplesFor720x576) {
    const Geometry cases[] = {
        {{0, 0, 720, 576}, false, {0, 0, 720, 576}, {576, 576, 0, 576, 1440},
         {720, 720, 0, 720, 4}, 722, 576},
        {{-36, -29, 756, 605}, false, {0, 0, 720, 576}, {576, 634, 29, 576, 1440},
         {720, 792, 36, 720, 4}, 722, 576},
        {{-36, -29, 756, 605}, true, {0, 0, 720, 576}, {288, 317, 15, 288, 2880},
         {720, 792, 36, 720, 4}, 722, 576},
        {{36, 29, 684, 547}, true, {36, 28, 684, 546}, {288, 259, 0, 259, 2880},
         {720, 648, 0, 648, 4}, 722, 518},
        {{36, -58, 756, 518}, false, {36, 0, 720, 518}, {576, 576, 58, 518, 1440},
         {720, 720, 0, 684, 4}, 722, 518},
    };
    for (const Geometry& g : cases) {
        Scaler scaler;
        scaler.SetHysteresis(10, 10);
        TestFrame frame(720, 576, LayoutYuyv);
        auto before = frame.Contents();
        ASSERT_TRUE(frame.Scale(scaler, g.destination, g.interlaced));
        EXPECT_EQ(scaler.RowKey(), g.rowKey);
        EXPECT_EQ(scaler.ColumnKey(), g.columnKey);
        EXPECT_EQ(scaler.WorkNominalWidth(), g.workWidth);
        EXPECT_EQ(scaler.WorkNominalHeight(), g.workHeight);
        EXPECT_EQ(scaler.RowStepsNominal(), g.clip.bottom - g.clip.top);
        EXPECT_EQ(scaler.ColumnStepsNominal(), g.clip.right - g.clip.left);
        ExpectUntouchedOutside(frame, before, g.clip);
        if (g.destination.left == 0) {  // the first call of a fresh engine: 722 x 576 grown
            EXPECT_EQ(scaler.WorkWidth(), 794);
            EXPECT_EQ(scaler.WorkHeight(), 634);
        }
    }
}

TEST(ScalerGeometry, IdentityLeavesEveryByte) {
    const std::pair<int32_t, int32_t> sizes[] = {{720, 576}, {8, 6}, {7, 5}, {1, 1},
                                                 {2, 2},     {3, 7}, {2, 1}, {5, 2}};
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24})
        for (bool interlaced : {false, true})
            for (auto [w, h] : sizes) {
                TestFrame frame(w, h, layout, 0, w * 31 + h);
                auto before = frame.Contents();
                ASSERT_TRUE(frame.Scale(Engine(), Rect{0, 0, w, h}, interlaced));
                EXPECT_EQ(frame.Contents(), before)
                    << w << "x" << h << " layout " << layout << " interlaced " << interlaced;
            }
}

TEST(ScalerGeometry, ClippedDestinationShowsTheMatchingPartOfTheWholePicture) {
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24})
        for (bool interlaced : {false, true}) {
            // Zoom in past every edge, shrink, and a mixture, on even and odd heights.
            ExpectClipMatchesWhole(64, 48, layout, interlaced, {-20, -14, 94, 58}, 1);
            ExpectClipMatchesWhole(64, 48, layout, interlaced, {10, 6, 40, 30}, 2);
            ExpectClipMatchesWhole(64, 48, layout, interlaced, {-6, 11, 30, 95}, 3);
            ExpectClipMatchesWhole(10, 7, layout, interlaced, {-2, -4, 12, 12}, 4);
            ExpectClipMatchesWhole(64, 47, layout, interlaced, {-10, 20, 70, 300}, 5);
            // Destination lengths beyond 16 bits still map exactly.
            ExpectClipMatchesWhole(64, 8, layout, interlaced, {-35000, 0, 35064, 8}, 6);
        }
    ExpectClipMatchesWhole(9, 7, LayoutRgb24, true, {-3, -4, 13, 12}, 7);
}

TEST(ScalerGeometry, RandomDestinationsMatchTheWholePicture) {
    std::mt19937 rng(99);
    for (int n = 0; n < 300; ++n) {
        PixelLayout layout = n % 2 ? LayoutRgb24 : LayoutYuyv;
        bool interlaced = (n / 2) % 2;
        int32_t w = std::uniform_int_distribution<int32_t>(1, 24)(rng);
        int32_t h = std::uniform_int_distribution<int32_t>(1, 20)(rng);
        if (layout == LayoutYuyv) w += w & 1;  // the picture of an odd 4:2:2 row ends early
        std::uniform_int_distribution<int32_t> x(-2 * w, 2 * w), y(-2 * h, 2 * h);
        Rect d{x(rng), y(rng), 0, 0};
        d.right = d.left + std::uniform_int_distribution<int32_t>(1, 4 * w)(rng);
        d.bottom = d.top + std::uniform_int_distribution<int32_t>(2, 4 * h)(rng);
        if (layout == LayoutYuyv) d.left &= ~1, d.right &= ~1;
        // A one-line frame has nothing to read once its rows are aligned to fields.
        if (IsRectEmpty(Aligned(d, interlaced)) || (interlaced && h < 2)) continue;
        ExpectClipMatchesWhole(w, h, layout, interlaced, d, n);
        if (HasFatalFailure()) return;
    }
}

// The picture computed out of place, pixel by pixel, from a copy of the original frame:
// the taps of both axes from full-length tables with unit steps, the blend per byte lane.
// Even frame widths for 4:2:2 and even heights when interlaced, source the whole frame.
class OutOfPlaceModel {
public:
    OutOfPlaceModel(TestFrame& frame, Rect destination, bool interlaced)
        : frame(frame), original(frame.Contents()), dest(Aligned(destination, interlaced)) {
        const int32_t fields = interlaced ? 2 : 1;
        const int32_t dh = (dest.bottom - dest.top) / fields;
        rowTaps = Taps(frame.height / fields, dh, fields);
        columnTaps = Taps(frame.width, dest.right - dest.left, 1);
        if (interlaced) {  // each entry gives a field line and the line below it
            std::vector<Tap> lines;
            for (const Tap& t : rowTaps) lines.push_back(t), lines.push_back({t.a + 1, t.b + 1, t.w});
            rowTaps = lines;
        }
    }

    // The value every written byte of clip pixel (x, y) must have.
    uint8_t Expected(int32_t x, int32_t y, int32_t byte) const {
        const Tap& r = rowTaps[static_cast<size_t>(y - dest.top)];
        const Tap& c = columnTaps[static_cast<size_t>(x - dest.left)];
        const int32_t lane = frame.layout == LayoutRgb24 ? byte : (x & 1) * 2 + byte;
        return BlendLane(Work(c.a, lane, r), Work(c.b, lane, r), c.w);
    }

private:
    struct Tap {
        int32_t a, b;
        uint16_t w;
    };

    static std::vector<Tap> Taps(int32_t source, int32_t destination, int32_t step) {
        std::vector<ScaleStep> table(static_cast<size_t>(destination));
        BuildScaleSteps(source, destination, 0, destination, step, table.data());
        std::vector<Tap> taps;
        int32_t p = 0;
        for (const ScaleStep& e : table) {
            p += e.advance;
            taps.push_back({p, p + e.neighbour, e.weight[0]});
            p += e.neighbour;
        }
        return taps;
    }

    // One lane of the work pixel of source column `column`, blended between the rows.
    uint8_t Work(int32_t column, int32_t lane, const Tap& rows) const {
        int32_t x = column, byte = lane;
        if (frame.layout == LayoutYuyv) {  // lanes Y U Y V: U and V of the column's pair
            x = lane % 2 ? column & ~1 : column;
            byte = lane == 3 ? 3 : lane % 2;
        }
        return BlendLane(original[frame.Offset(x, rows.a) + byte],
                         original[frame.Offset(x, rows.b) + byte], rows.w);
    }

    TestFrame& frame;
    std::vector<uint8_t> original;
    Rect dest;
    std::vector<Tap> rowTaps, columnTaps;
};

// The frame is rewritten in place, so the order of the passes matters wherever the picture
// moves: up, down, in from both edges or out to them.
void ExpectSameAsOutOfPlace(int32_t width, int32_t height, PixelLayout layout, bool interlaced,
                            Rect destination, uint32_t seed) {
    SCOPED_TRACE(testing::Message() << width << "x" << height << " layout " << layout
                                    << (interlaced ? " interlaced" : "") << " dest "
                                    << destination.left << "," << destination.top << ","
                                    << destination.right << "," << destination.bottom);
    TestFrame frame(width, height, layout, 16, seed);
    const OutOfPlaceModel model(frame, destination, interlaced);
    const std::vector<uint8_t> before = frame.Contents();
    ASSERT_TRUE(frame.Scale(Engine(), destination, interlaced));
    const Rect clip = IntersectRect(Aligned(destination, interlaced), Rect{0, 0, width, height});
    for (int32_t y = clip.top; y < clip.bottom; ++y)
        for (int32_t x = clip.left; x < clip.right; ++x)
            for (int32_t b = 0; b < (layout == LayoutYuyv ? 2 : 3); ++b)
                ASSERT_EQ(frame.At(x, y)[b], model.Expected(x, y, b))
                    << "pixel " << x << "," << y << " byte " << b;
    ExpectUntouchedOutside(frame, before, clip);
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(ScalerInPlace, PictureMovingAnyWayEqualsTheOutOfPlacePicture) {
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24})
        for (bool interlaced : {false, true}) {
            // The frame's own cases: zoom and shrink about the centre, and a shift.
            ExpectSameAsOutOfPlace(192, 108, layout, interlaced, {-10, -6, 202, 114}, 1);
            ExpectSameAsOutOfPlace(192, 108, layout, interlaced, {10, 6, 182, 102}, 2);
            ExpectSameAsOutOfPlace(192, 108, layout, interlaced, {6, 10, 198, 118}, 3);
            // Far down, far up, squeezed to the top and to the bottom, a strong zoom.
            ExpectSameAsOutOfPlace(64, 48, layout, interlaced, {0, 40, 64, 88}, 4);
            ExpectSameAsOutOfPlace(64, 48, layout, interlaced, {0, -40, 64, 8}, 5);
            ExpectSameAsOutOfPlace(64, 48, layout, interlaced, {0, 0, 64, 12}, 6);
            ExpectSameAsOutOfPlace(64, 48, layout, interlaced, {0, 36, 64, 48}, 7);
            ExpectSameAsOutOfPlace(64, 48, layout, interlaced, {-200, -150, 264, 198}, 8);
        }
}

TEST(ScalerInPlace, RandomGeometriesEqualTheOutOfPlacePicture) {
    std::mt19937 rng(7);
    for (int n = 0; n < 400; ++n) {
        const PixelLayout layout = n % 2 ? LayoutRgb24 : LayoutYuyv;
        const bool interlaced = (n / 2) % 2;
        const int32_t w = 2 * std::uniform_int_distribution<int32_t>(1, 24)(rng);
        const int32_t h = 2 * std::uniform_int_distribution<int32_t>(1, 24)(rng);
        std::uniform_int_distribution<int32_t> x(-w, w), y(-h, h);
        Rect d{x(rng), y(rng), 0, 0};
        d.right = d.left + std::uniform_int_distribution<int32_t>(1, 3 * w)(rng);
        d.bottom = d.top + std::uniform_int_distribution<int32_t>(2, 3 * h)(rng);
        if (IsRectEmpty(Aligned(d, interlaced))) continue;
        ExpectSameAsOutOfPlace(w, h, layout, interlaced, d, n);
        if (HasFatalFailure()) return;
    }
}

TEST(ScalerPixels, TwoToOneShrinkAveragesFloored) {
    TestFrame frame(16, 8, LayoutRgb24);
    auto before = frame.Contents();
    auto in = [&](int32_t x, int32_t y, int32_t c) { return before[frame.Offset(x, y) + c]; };
    ASSERT_TRUE(frame.Scale(Engine(), Rect{0, 0, 8, 4}, false));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                int left = (in(2 * x, 2 * y, c) + in(2 * x, 2 * y + 1, c)) / 2;
                int right = (in(2 * x + 1, 2 * y, c) + in(2 * x + 1, 2 * y + 1, c)) / 2;
                ASSERT_EQ(frame.At(x, y)[c], (left + right) / 2) << x << "," << y;
            }

    TestFrame yuyv(8, 8, LayoutYuyv);
    auto rows = yuyv.Contents();
    ASSERT_TRUE(yuyv.Scale(Engine(), Rect{0, 0, 8, 4}, false));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t i = 0; i < 16; ++i)
            ASSERT_EQ(yuyv.Pixels()[y * 16 + i], (rows[2 * y * 16 + i] + rows[(2 * y + 1) * 16 + i]) / 2);
}

TEST(ScalerPixels, EnlargedEdgeKeepsFlooredValues) {
    // A 2-pixel rising and falling edge stretched to 5: 1/4 steps, rounded down.
    TestFrame frame(5, 1, LayoutRgb24);
    const uint8_t edge[2][3] = {{9, 10, 200}, {10, 9, 0}};
    std::copy(edge[0], edge[0] + 3, frame.At(0, 0));
    std::copy(edge[1], edge[1] + 3, frame.At(1, 0));
    ASSERT_TRUE(frame.Scale(Engine(), Rect{0, 0, 2, 1}, Rect{0, 0, 5, 1}, false));
    const uint8_t expected[5][3] = {{9, 10, 200}, {9, 9, 150}, {9, 9, 100}, {9, 9, 50}, {10, 9, 0}};
    for (int32_t x = 0; x < 5; ++x)
        for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(frame.At(x, 0)[c], expected[x][c]) << x;
}

TEST(ScalerPixels, OddClipLeftWritesOnlyYAndVOfTheFirstPixel) {
    TestFrame frame(64, 4, LayoutYuyv);
    for (int32_t y = 0; y < 4; ++y) {
        std::fill(frame.At(0, y), frame.At(32, y), 0xEE);
        for (int32_t x = 32; x < 64; x += 2) {
            const uint8_t pair[4] = {10, 20, 10, 30};
            std::copy(pair, pair + 4, frame.At(x, y));
        }
    }
    ASSERT_TRUE(frame.Scale(Engine(), Rect{32, 0, 64, 4}, Rect{5, 0, 37, 4}, false));
    for (int32_t y = 0; y < 4; ++y) {
        EXPECT_EQ(frame.At(4, y)[0], 0xEE);
        EXPECT_EQ(frame.At(4, y)[1], 0xEE);
        EXPECT_EQ(frame.At(5, y)[0], 10);  // Y
        EXPECT_EQ(frame.At(5, y)[1], 30);  // V
        EXPECT_EQ(frame.At(6, y)[1], 20);  // U of the next pair
    }
}

TEST(ScalerPixels, OddSourceLeftGivesTheUnroundedPicture) {
    TestFrame frame(48, 6, LayoutRgb24);
    auto before = frame.Contents();
    ASSERT_TRUE(frame.Scale(Engine(), Rect{5, 0, 37, 6}, Rect{0, 0, 32, 6}, false));
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 32; ++x)
            for (int32_t c = 0; c < 3; ++c)
                ASSERT_EQ(frame.At(x, y)[c], before[frame.Offset(x + 5, y) + c]);

    TestFrame yuyv(48, 2, LayoutYuyv);
    auto luma = yuyv.Contents();
    ASSERT_TRUE(yuyv.Scale(Engine(), Rect{5, 0, 37, 2}, Rect{0, 0, 32, 2}, false));
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 32; ++x)
            ASSERT_EQ(yuyv.At(x, y)[0], luma[yuyv.Offset(x + 5, y)]);
}

TEST(ScalerPixels, UnpairedLastColumnTakesTheVOfThePairToItsLeft) {
    // A 3-pixel row: Y U Y V of pixels 0 and 1, then Y U of pixel 2, whose V would lie past
    // the row. Every U is 20 and every V 40, so whatever columns a pixel blends, its chroma
    // stays 20 or 40; a neutral 128 for the last column would show in pixel 1's V.
    for (const Rect& dest : {Rect{0, 0, 2, 2}, Rect{-3, 0, 6, 2}, Rect{1, 0, 3, 2}, Rect{-1, 0, 4, 2}}) {
        SCOPED_TRACE(testing::Message() << dest.left << ".." << dest.right);
        TestFrame frame(3, 2, LayoutYuyv);
        const uint8_t row[6] = {10, 20, 30, 40, 50, 20};
        for (int32_t y = 0; y < 2; ++y) std::copy(row, row + 6, frame.At(0, y));
        ASSERT_TRUE(frame.Scale(Engine(), dest, false));
        for (int32_t y = 0; y < 2; ++y) {
            EXPECT_EQ(frame.At(0, y)[1], 20);
            EXPECT_EQ(frame.At(1, y)[1], 40);
            EXPECT_EQ(frame.At(2, y)[1], 20);
        }
        EXPECT_TRUE(frame.GuardsIntact());
    }
}

TEST(ScalerPixels, InterlacedFieldsStaySeparate) {
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24}) {
        TestFrame frame(16, 21, layout);
        for (int32_t y = 0; y < 21; ++y)
            std::fill(frame.At(0, y), frame.At(0, y) + 16 * frame.bpp, y % 2 ? 200 : 10);
        ASSERT_TRUE(frame.Scale(Engine(), Rect{-3, -7, 19, 40}, true));
        for (int32_t y = 0; y < 21; ++y)
            for (int32_t i = 0; i < 16 * frame.bpp; ++i)
                ASSERT_EQ(frame.At(0, y)[i], y % 2 ? 200 : 10) << "row " << y;
    }
}

TEST(ScalerSafety, AnyGeometryStaysInsideTheFrame) {
    std::mt19937 rng(5);
    const int32_t sizes[] = {1, 2, 3, 4, 5, 7};
    for (int n = 0; n < 3000; ++n) {
        PixelLayout layout = n % 2 ? LayoutRgb24 : LayoutYuyv;
        bool interlaced = (n / 2) % 2;
        int32_t w = sizes[rng() % 6], h = sizes[rng() % 6];
        std::uniform_int_distribution<int32_t> x(-2 * w - 3, 3 * w + 3), y(-2 * h - 3, 3 * h + 3);
        Rect source{x(rng), y(rng), x(rng), y(rng)};
        if (n % 3) source = Rect{0, 0, w, h};
        Rect dest{x(rng), y(rng), x(rng), y(rng)};
        if (n % 7 == 0) dest = Rect{INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1};
        if (n % 11 == 0) dest = Rect{-x(rng) * 100000, x(rng), x(rng) * 100000, 70000 + y(rng)};
        TestFrame frame(w, h, layout, n % 4 ? 16 : 0, n);
        auto before = frame.Contents();
        ASSERT_TRUE(frame.Scale(Engine(), source, dest, interlaced));
        ASSERT_TRUE(frame.GuardsIntact()) << n;
        Rect aligned = Aligned(dest, interlaced);
        Rect clip = IsRectEmpty(Aligned(source, interlaced)) ? Rect{0, 0, 0, 0}
                                                              : IntersectRect(aligned, {0, 0, w, h});
        ExpectUntouchedOutside(frame, before, clip);
        if (HasFatalFailure()) return;
    }
}

TEST(ScalerSafety, AbsurdDestinationGivesADefinedPicture) {
    // Billions of pixels wide and tall: every visible pixel lies between the centre pixels.
    TestFrame frame(64, 48, LayoutRgb24);
    auto before = frame.Contents();
    auto in = [&](int32_t x, int32_t y, int32_t c) { return before[frame.Offset(x, y) + c]; };
    ASSERT_TRUE(frame.Scale(Engine(), Rect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, false));
    for (int32_t c = 0; c < 3; ++c) {
        uint8_t left = BlendLane(in(31, 23, c), in(31, 24, c), 2048);
        uint8_t right = BlendLane(in(32, 23, c), in(32, 24, c), 2048);
        uint8_t centre = BlendLane(left, right, 2048);
        for (int32_t y = 0; y < 48; ++y)
            for (int32_t x = 0; x < 64; ++x) ASSERT_EQ(frame.At(x, y)[c], centre);
    }
}

TEST(ScalerSafety, OddYuyvWidthNeverReadsPastTheFrame) {
    for (int32_t w : {1, 3, 5}) {
        for (bool interlaced : {false, true}) {
            TestFrame frame(w, 3, LayoutYuyv, 0, w);
            auto before = frame.Contents();
            ASSERT_TRUE(frame.Scale(Engine(), Rect{0, 0, w, 3}, interlaced));
            EXPECT_EQ(frame.Contents(), before);
            ASSERT_TRUE(frame.Scale(Engine(), Rect{-1, -2, w + 3, 5}, interlaced));
        }
    }
}

TEST(ScalerSafety, UnknownLayoutsAndEmptyGeometryDoNothing) {
    TestFrame frame(16, 8, LayoutRgb24);
    auto before = frame.Contents();
    uint64_t allocations = AlignedAllocCount();
    Scaler scaler;
    for (PixelLayout layout : {PixelLayout(1), PixelLayout(2), PixelLayout(3), PixelLayout(5), PixelLayout(-1)})
        EXPECT_TRUE(scaler.Scale(frame.Pixels(), 16, 8, {0, 0, 16, 8}, {2, 2, 9, 9}, layout, false));
    EXPECT_TRUE(frame.Scale(scaler, {16, 0, 30, 8}, false));       // destination outside
    EXPECT_TRUE(frame.Scale(scaler, {0, 0, 0, 8}, {0, 0, 8, 8}, false));  // empty source
    EXPECT_TRUE(frame.Scale(scaler, {0, 0, 16, 1}, {0, 0, 16, 1}, true));  // no rows left
    EXPECT_TRUE(scaler.Scale(nullptr, 16, 8, {0, 0, 16, 8}, {0, 0, 8, 8}, LayoutRgb24, false));
    EXPECT_EQ(frame.Contents(), before);
    EXPECT_EQ(AlignedAllocCount(), allocations);
    EXPECT_EQ(scaler.RowKey(), StepTableKey{});
}

TEST(ScalerBuffers, HysteresisExample) {
    Scaler scaler;
    scaler.SetHysteresis(10, 10);
    TestFrame frame(800, 4, LayoutRgb24);
    auto scaleWidth = [&](int32_t w) {
        return frame.Scale(scaler, Rect{0, 0, w, 4}, Rect{0, 0, w, 4}, false);
    };
    ASSERT_TRUE(scaleWidth(720));
    EXPECT_EQ(scaler.WorkNominalWidth(), 722);
    EXPECT_EQ(scaler.WorkWidth(), 794);
    uint64_t allocations = AlignedAllocCount();
    for (int32_t w : {648, 792, 700}) ASSERT_TRUE(scaleWidth(w));  // needs 650 .. 794 keep it
    EXPECT_EQ(scaler.WorkWidth(), 794);
    EXPECT_EQ(scaler.WorkNominalWidth(), 722);
    ASSERT_TRUE(scaleWidth(647));
    EXPECT_EQ(scaler.WorkNominalWidth(), 649);
    EXPECT_EQ(scaler.WorkWidth(), 714);
    ASSERT_TRUE(scaleWidth(720));
    EXPECT_EQ(scaler.WorkWidth(), 794);
    ASSERT_TRUE(scaleWidth(793));
    EXPECT_EQ(scaler.WorkNominalWidth(), 795);
    EXPECT_EQ(scaler.WorkWidth(), 875);
    EXPECT_GT(AlignedAllocCount(), allocations);
}

TEST(ScalerBuffers, SteadyStateAllocatesNothing) {
    Scaler scaler;
    scaler.SetHysteresis(10, 10);
    TestFrame frame(720, 576, LayoutYuyv);
    ASSERT_TRUE(frame.Scale(scaler, {-36, -29, 756, 605}, true));
    const uint64_t allocations = AlignedAllocCount();
    const StepTableKey rowKey = scaler.RowKey(), columnKey = scaler.ColumnKey();
    for (int n = 0; n < 200; ++n) ASSERT_TRUE(frame.Scale(scaler, {-36, -29, 756, 605}, true));
    // A destination that moves inside the frame keeps both tables.
    ASSERT_TRUE(frame.Scale(scaler, {36, 29, 684, 547}, false));
    const StepTableKey movedRow = scaler.RowKey(), movedColumn = scaler.ColumnKey();
    for (int n = 0; n < 30; ++n) {
        ASSERT_TRUE(frame.Scale(scaler, {36 + n, 29 - n / 2, 684 + n, 547 - n / 2}, false));
        EXPECT_EQ(scaler.RowKey(), movedRow);
        EXPECT_EQ(scaler.ColumnKey(), movedColumn);
    }
    EXPECT_EQ(AlignedAllocCount(), allocations);
    EXPECT_NE(rowKey, movedRow);
    EXPECT_EQ(columnKey.sourceLength, movedColumn.sourceLength);
}

TEST(ScalerBuffers, MarginsRaisedAfterAllocationStillFitTheNeed) {
    // Allocated with no headroom, then the margins grow: the same nominal size no longer
    // describes the allocation, and a bigger need must get a bigger buffer.
    Scaler scaler;
    TestFrame frame(200, 40, LayoutRgb24);
    ASSERT_TRUE(frame.Scale(scaler, {0, 0, 100, 30}, {0, 0, 100, 30}, false));
    EXPECT_EQ(scaler.WorkWidth(), 102);
    scaler.SetHysteresis(10, 10);
    TestFrame expected(200, 40, LayoutRgb24);
    ASSERT_TRUE(frame.Scale(scaler, {0, 0, 105, 32}, {0, 0, 100, 32}, false));
    ASSERT_TRUE(expected.Scale(Engine(), {0, 0, 105, 32}, {0, 0, 100, 32}, false));
    EXPECT_GE(scaler.WorkWidth(), 107);
    EXPECT_GE(scaler.WorkHeight(), 32);
    EXPECT_EQ(frame.Contents(), expected.Contents());

    scaler.SetHysteresis(-50, 500);  // kept within 0..100: buffers never smaller than the need
    ASSERT_TRUE(frame.Scale(scaler, {0, 0, 150, 40}, {0, 0, 120, 40}, false));
    EXPECT_GE(scaler.WorkWidth(), 152);
}

class FailAllocations {
public:
    explicit FailAllocations(int64_t successes) { SetAlignedAllocFailAfter(successes); }
    ~FailAllocations() { SetAlignedAllocFailAfter(-1); }
};

TEST(ScalerBuffers, AllocationFailureLeavesTheFrameAndRetries) {
    const Rect dest{-7, 3, 50, 30};
    TestFrame expected(40, 30, LayoutYuyv);
    ASSERT_TRUE(expected.Scale(Engine(), dest, false));
    for (int64_t successes : {0, 1, 2}) {  // work buffer, row table, column table
        Scaler scaler;
        scaler.SetHysteresis(10, 10);
        TestFrame frame(40, 30, LayoutYuyv);
        auto before = frame.Contents();
        {
            FailAllocations fail(successes);
            EXPECT_FALSE(frame.Scale(scaler, dest, false));
        }
        EXPECT_EQ(frame.Contents(), before);
        const int32_t unrecorded[] = {scaler.WorkNominalWidth(), scaler.RowStepsNominal(),
                                      scaler.ColumnStepsNominal()};
        EXPECT_EQ(unrecorded[successes], 0);
        ASSERT_TRUE(frame.Scale(scaler, dest, false));
        EXPECT_EQ(frame.Contents(), expected.Contents()) << successes;
    }

    // A failed regrowth after steady use: untouched, then recovered on the next call.
    Scaler scaler;
    scaler.SetHysteresis(10, 10);
    TestFrame frame(40, 30, LayoutYuyv);
    ASSERT_TRUE(frame.Scale(scaler, {0, 0, 10, 10}, {0, 0, 10, 10}, false));
    auto before = frame.Contents();
    {
        FailAllocations fail(0);
        EXPECT_FALSE(frame.Scale(scaler, dest, false));
    }
    EXPECT_EQ(frame.Contents(), before);
    TestFrame again(40, 30, LayoutYuyv);
    ASSERT_TRUE(again.Scale(scaler, dest, false));
    EXPECT_EQ(again.Contents(), expected.Contents());
}

TEST(ScalerBuffers, EveryAllocationFailureLeavesTheFrame) {
    // Past the three buffers, a level with planned routines allocates the column plan.
    const Rect dest{-70, 3, 500, 30};
    TestFrame expected(400, 30, LayoutRgb24);
    ASSERT_TRUE(expected.Scale(Engine(), dest, false));
    for (int64_t successes = 0; successes < 5; ++successes) {
        Scaler scaler;
        scaler.SetHysteresis(10, 10);
        TestFrame frame(400, 30, LayoutRgb24);
        const auto before = frame.Contents();
        bool scaled;
        {
            FailAllocations fail(successes);
            scaled = frame.Scale(scaler, dest, false);
        }
        EXPECT_EQ(frame.Contents(), scaled ? expected.Contents() : before) << successes;
        TestFrame again(400, 30, LayoutRgb24);
        ASSERT_TRUE(again.Scale(scaler, dest, false));
        EXPECT_EQ(again.Contents(), expected.Contents()) << successes;
    }
}

TEST(ScalerTables, CallerTablesAreUsedAsGiven) {
    const Rect dest{-10, -6, 50, 36};
    TestFrame expected(40, 30, LayoutRgb24);
    ASSERT_TRUE(expected.Scale(Engine(), dest, false));

    std::vector<ScaleStep> rows(30), columns(40);
    BuildScaleSteps(30, 42, 6, 30, -120, rows.data());
    BuildScaleSteps(40, 60, 10, 40, 4, columns.data());
    Scaler scaler;
    TestFrame frame(40, 30, LayoutRgb24);
    ASSERT_TRUE(scaler.Scale(frame.Pixels(), 40, 30, {0, 0, 40, 30}, dest, LayoutRgb24, false,
                             rows.data(), columns.data()));
    EXPECT_EQ(frame.Contents(), expected.Contents());
    EXPECT_EQ(scaler.RowKey(), StepTableKey{});
    EXPECT_EQ(scaler.ColumnKey(), StepTableKey{});

    // Each axis independently: a given column table with the engine's own row table.
    TestFrame mixed(40, 30, LayoutRgb24);
    ASSERT_TRUE(scaler.Scale(mixed.Pixels(), 40, 30, {0, 0, 40, 30}, dest, LayoutRgb24, false,
                             nullptr, columns.data()));
    EXPECT_EQ(mixed.Contents(), expected.Contents());
    EXPECT_EQ(scaler.RowKey(), (StepTableKey{30, 42, 6, 30, -120}));
    EXPECT_EQ(scaler.ColumnKey(), StepTableKey{});
}

// The engine keeps what its tables imply for a geometry; a source band that moves while
// the tables stay the same (their keys do not say where the band lies) must not reuse it.
TEST(ScalerTables, MovingSourceBandGivesWhatAFreshEngineGives) {
    const struct {
        Rect source, destination;
    } calls[] = {
        // Below its destination first, where pass 1 need hardly run ahead; then above it.
        {{0, 30, 64, 50}, {0, 10, 64, 40}},
        {{0, 0, 64, 20}, {0, 10, 64, 40}},
        {{0, 12, 64, 32}, {0, 10, 64, 40}},
    };
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24})
        for (bool interlaced : {false, true}) {
            Scaler used;
            for (const auto& call : calls) {
                SCOPED_TRACE(testing::Message() << "layout " << layout << " interlaced "
                                                << interlaced << " source top "
                                                << call.source.top);
                TestFrame frame(64, 64, layout), expected(64, 64, layout);
                Scaler fresh;
                ASSERT_TRUE(expected.Scale(fresh, call.source, call.destination, interlaced));
                ASSERT_TRUE(frame.Scale(used, call.source, call.destination, interlaced));
                EXPECT_EQ(frame.Contents(), expected.Contents());
            }
        }
}

}  // namespace
}  // namespace kvx
