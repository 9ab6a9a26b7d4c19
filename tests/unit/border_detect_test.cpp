// Border detection over series of synthetic frames in both host formats.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "border_detect.h"

namespace kvx {
namespace {

// A frame whose picture is `picture` (rows from the top) filled with texture of luma
// pictureLow..pictureHigh, and whose border is black with +-borderNoise; the first
// `overscan` rows are bright noise. Built top-down, stored in host order.
struct Scene {
    FrameGeometry g;
    Rect picture;
    int pictureLow = 40, pictureHigh = 220;
    int starsPerThousand = 0;  // picture pixels at full white (stars in a night sky)
    int borderNoise = 0;
    int overscan = 0;
};

std::vector<uint8_t> MakeFrame(const Scene& s, unsigned seed) {
    std::mt19937 rng(seed);
    const int32_t w = s.g.width, h = s.g.height, bpp = s.g.BytesPerPixel();
    std::vector<uint8_t> frame(s.g.FrameBytes());
    for (int32_t y = 0; y < h; ++y) {
        const int32_t memoryRow = s.g.format == HostFormat::Yuyv ? y : h - 1 - y;
        for (int32_t x = 0; x < w; ++x) {
            const bool inside = x >= s.picture.left && x < s.picture.right && y >= s.picture.top &&
                                y < s.picture.bottom;
            int luma;
            if (y < s.overscan) luma = 60 + static_cast<int>(rng() % 160);
            else if (inside && static_cast<int>(rng() % 1000) < s.starsPerThousand) luma = 235;
            else if (inside) luma = s.pictureLow + static_cast<int>(rng() % (s.pictureHigh - s.pictureLow + 1));
            else luma = 16 + (s.borderNoise ? static_cast<int>(rng() % (2 * s.borderNoise + 1)) - s.borderNoise : 0);
            uint8_t* p = &frame[(static_cast<size_t>(memoryRow) * w + x) * bpp];
            if (s.g.format == HostFormat::Yuyv) {
                p[0] = static_cast<uint8_t>(luma);
                p[1] = 128;
            } else {
                // Grey of that video luma in full-range RGB.
                const int v = std::max(0, std::min(255, (luma - 16) * 255 / 219));
                p[0] = p[1] = p[2] = static_cast<uint8_t>(v);
            }
        }
    }
    return frame;
}

BorderResult Detect(const Scene& s, int frames, int blackEvery = 0, int fullPictureEvery = 0) {
    BorderDetector detector(s.g);
    Scene full = s;
    full.picture = Rect{0, 0, s.g.width, s.g.height};
    for (int i = 0; i < frames; ++i) {
        if (blackEvery && i % blackEvery == 0) {
            Scene black = s;
            black.picture = Rect{0, 0, 0, 0};
            detector.AddFrame(MakeFrame(black, i).data());
        } else {
            detector.AddFrame(MakeFrame(fullPictureEvery && i % fullPictureEvery == 0 ? full : s, i).data());
        }
    }
    return detector.Decide();
}

FrameGeometry Geometry(int32_t w, int32_t h, HostFormat f) {
    FrameGeometry g;
    g.width = w;
    g.height = h;
    g.format = f;
    return g;
}

struct DetectCase {
    const char* name;
    Scene scene;
    Rect expected;
};

TEST(BorderDetector, FindsEachEdgeOnItsOwnInBothFormats) {
    const FrameGeometry yuyv = Geometry(720, 576, HostFormat::Yuyv);
    const FrameGeometry bgr = Geometry(720, 576, HostFormat::Bgr24);
    Scene asymmetric{yuyv, {7, 13, 720, 555}};
    Scene asymmetricBgr{bgr, {7, 13, 720, 555}};
    Scene letterbox{bgr, {0, 72, 720, 504}};
    Scene pillarbox{Geometry(320, 180, HostFormat::Yuyv), {40, 0, 280, 180}};
    Scene oneSide{yuyv, {0, 0, 700, 576}};
    Scene noisy{yuyv, {0, 72, 720, 504}};
    noisy.borderNoise = 5;
    Scene overscan{yuyv, {0, 72, 720, 504}};
    overscan.overscan = 4;  // bright noise rows 0..3 above the letterbox bar
    Scene tooWide{yuyv, {0, 160, 720, 416}};
    const DetectCase cases[] = {
        {"asymmetric yuyv", asymmetric, {7, 13, 720, 555}},
        {"asymmetric bgr24 (bottom-up rows)", asymmetricBgr, {7, 13, 720, 555}},
        {"letterbox bgr24", letterbox, {0, 72, 720, 504}},
        {"pillarbox", pillarbox, {40, 0, 280, 180}},
        {"right side only", oneSide, {0, 0, 700, 576}},
        {"noisy black", noisy, {0, 72, 720, 504}},
        {"overscan noise before the bar", overscan, {0, 72, 720, 504}},
        // A border over a quarter shows as reaching a quarter and one line (145 of 576).
        {"border over a quarter", tooWide, {0, 145, 720, 431}},
    };
    for (const DetectCase& c : cases) {
        const BorderResult r = Detect(c.scene, 6);
        EXPECT_EQ(r.verdict, BorderVerdict::Found) << c.name;
        EXPECT_EQ(r.picture, c.expected) << c.name << ": " << r.picture.left << "," << r.picture.top
                                         << "," << r.picture.right << "," << r.picture.bottom;
        EXPECT_EQ(r.framesWithContent, 6) << c.name;
    }
}

TEST(BorderDetector, InventsNoBorder) {
    const FrameGeometry g = Geometry(720, 576, HostFormat::Yuyv);
    Scene full{g, {0, 0, 720, 576}};
    EXPECT_EQ(Detect(full, 5).verdict, BorderVerdict::NoBorder);
    // A dark picture with texture (a night scene) is not a border.
    Scene dark = full;
    dark.pictureLow = 16;
    dark.pictureHigh = 48;
    EXPECT_EQ(Detect(dark, 5).verdict, BorderVerdict::NoBorder);
    // Nor is a night sky: black, but for a star in every fifty pixels (its mean is near black).
    Scene night = full;
    night.pictureLow = night.pictureHigh = 16;
    night.starsPerThousand = 20;
    EXPECT_EQ(Detect(night, 5).verdict, BorderVerdict::NoBorder);
    // Black frames (a fade's end) have no picture content and do not vote.
    BorderResult faded = Detect(full, 10, 2);
    EXPECT_EQ(faded.verdict, BorderVerdict::NoBorder);
    EXPECT_EQ(faded.framesSampled, 10);
    EXPECT_EQ(faded.framesWithContent, 5);
    // Nothing but black: no content at all.
    Scene black{g, {0, 0, 0, 0}};
    BorderResult none = Detect(black, 4);
    EXPECT_EQ(none.verdict, BorderVerdict::NoContent);
    EXPECT_EQ(none.framesWithContent, 0);
}

TEST(BorderDetector, ABorderMustBeInNearlyEveryFrameWithContent) {
    Scene letterbox{Geometry(320, 240, HostFormat::Yuyv), {0, 30, 320, 210}};
    // Every fifth frame fills the frame: a border in 80 % of the frames is no border.
    EXPECT_EQ(Detect(letterbox, 20, 0, 5).verdict, BorderVerdict::NoBorder);
    // One frame in twenty (95 %) does not undo it.
    BorderResult r = Detect(letterbox, 20, 0, 20);
    EXPECT_EQ(r.verdict, BorderVerdict::Found);
    EXPECT_EQ(r.picture, (Rect{0, 30, 320, 210}));
    // Black frames in between change nothing.
    r = Detect(letterbox, 20, 3);
    EXPECT_EQ(r.picture, (Rect{0, 30, 320, 210}));
    EXPECT_EQ(r.framesWithContent, 13);
}

TEST(BorderDetector, KeepEveryOtherHalvesTheSeries) {
    Scene letterbox{Geometry(64, 48, HostFormat::Yuyv), {0, 6, 64, 42}};
    BorderDetector detector(letterbox.g);
    for (int i = 0; i < 5; ++i) detector.AddFrame(MakeFrame(letterbox, i).data());
    detector.KeepEveryOther();
    EXPECT_EQ(detector.FramesSampled(), 3);
    EXPECT_EQ(detector.Decide().framesWithContent, 3);
    EXPECT_EQ(detector.Decide().picture, (Rect{0, 6, 64, 42}));
}

}  // namespace
}  // namespace kvx
