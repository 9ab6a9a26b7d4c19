// Border detection: the per-frame line classification and the choice of the picture's band
// over frames, as bit-exact worked examples on small synthetic frames in both host formats.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "borders/border_detect.h"

namespace kvx {
namespace {

using Luma = std::function<int(int32_t x, int32_t y)>;  // video luma at (x, y), y from the top

FrameGeometry Geometry(int32_t w, int32_t h, HostFormat f = HostFormat::Yuyv) {
    FrameGeometry g;
    g.width = w;
    g.height = h;
    g.format = f;
    return g;
}

// A frame in host memory order (bgr24 bottom-up, grey of that luma).
std::vector<uint8_t> MakeFrame(const FrameGeometry& g, const Luma& luma) {
    const int32_t bpp = g.BytesPerPixel();
    std::vector<uint8_t> frame(g.FrameBytes());
    for (int32_t y = 0; y < g.height; ++y) {
        const int32_t memoryRow = g.format == HostFormat::Yuyv ? y : g.height - 1 - y;
        for (int32_t x = 0; x < g.width; ++x) {
            uint8_t* p = &frame[(static_cast<size_t>(memoryRow) * g.width + x) * bpp];
            const int v = luma(x, y);
            if (g.format == HostFormat::Yuyv) {
                p[0] = static_cast<uint8_t>(v);
                p[1] = 128;
            } else {
                const int rgb = std::max(0, std::min(255, ((v - 16) * 255 + 109) / 219));
                p[0] = p[1] = p[2] = static_cast<uint8_t>(rgb);
            }
        }
    }
    return frame;
}

// Picture of luma 200 inside `picture`, bars of `bar` around it.
Luma Boxed(Rect picture, int bar = 16) {
    return [=](int32_t x, int32_t y) {
        return x >= picture.left && x < picture.right && y >= picture.top && y < picture.bottom ? 200 : bar;
    };
}

// The flags of the first voting frame: rows then columns.
std::vector<uint8_t> FlagsOf(const FrameGeometry& g, const Luma& luma) {
    BorderDetector d(g);
    d.AddFrame(MakeFrame(g, luma).data());
    return d.Flags();
}

constexpr uint8_t C = BorderDetector::kContent, B = BorderDetector::kEdgeBefore, A = BorderDetector::kEdgeAfter,
                  D = BorderDetector::kDark;

// 64x48: a row has 31 samples (x = 1, 3, ..., 61 inside the one-pixel margins), a column 24
// (y = 0, 2, ..., 46). A line has content when at least half its samples are bright.
TEST(BorderLines, ALetterboxFrameLineByLine) {
    const FrameGeometry g = Geometry(64, 48);
    const std::vector<uint8_t> f = FlagsOf(g, Boxed({0, 6, 64, 42}));
    ASSERT_EQ(f.size(), 48u + 64u);
    std::vector<uint8_t> rows(48, D);  // the bars: no sample bright
    for (int y = 6; y < 42; ++y) rows[y] = C;
    rows[6] |= B;   // content starts sharply below two dark rows
    rows[41] |= A;  // and stops sharply above two dark rows
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 48), rows);
    // Every column: 18 of its 24 samples (rows 6, 8, ..., 40) bright, none an edge.
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 48, f.end()), std::vector<uint8_t>(64, C));
}

TEST(BorderLines, ALineIsJudgedByMostOfItsWidth) {
    const FrameGeometry g = Geometry(64, 48);
    // Row 2 bright over x < 31: samples x = 1..29, 15 of 31, under half: black. Row 3 bright
    // over x < 33: 16 of 31, half or more: content.
    const std::vector<uint8_t> f = FlagsOf(g, [](int32_t x, int32_t y) {
        if (y >= 20) return 200;
        if (y == 2) return x < 31 ? 230 : 16;
        if (y == 3) return x < 33 ? 230 : 16;
        return 16;
    });
    EXPECT_EQ(f[2], 0);  // nor nearly dark: more than an eighth bright
    // Row 3 is no edge toward the top (row 2, 15 bright, is not nearly dark) but is one toward
    // the bottom: rows 4 and 5 are dark under all its bright samples.
    EXPECT_EQ(f[3], C | A);
}

TEST(BorderLines, AnEdgeNeedsTwoNearlyDarkLinesBeyond) {
    const FrameGeometry g = Geometry(64, 48);
    // Row 10 all bright; rows 9 and 8 with some bright samples (x = 1, 3, 5, ...). A row with
    // 3 (3 * 8 <= 31) is nearly dark, with 4 it is not: row 10 is an edge toward the top only
    // when both rows beyond it are nearly dark.
    struct Case {
        int bright9, bright8;
        uint8_t row10, row9, row8;
    };
    const Case cases[] = {
        {3, 0, C | B, D, D},
        {4, 0, C, 0, D},
        {0, 4, C, D, 0},  // one dark line beyond is not enough
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> f = FlagsOf(g, [&](int32_t x, int32_t y) {
            if (y >= 10) return 200;
            if ((y == 9 && x < 2 * c.bright9) || (y == 8 && x < 2 * c.bright8)) return 200;
            return 16;
        });
        EXPECT_EQ(f[10], c.row10) << c.bright9 << " " << c.bright8;
        EXPECT_EQ(f[9], c.row9) << c.bright9 << " " << c.bright8;
        EXPECT_EQ(f[8], c.row8) << c.bright9 << " " << c.bright8;
    }
}

// Over frames: the picture is the longest band of rows with content in most frames; a side's
// border needs the rows just beyond black in nine frames of ten and a sharp edge in a tenth.
BorderResult DetectFrames(const FrameGeometry& g, const std::vector<Luma>& frames) {
    BorderDetector d(g);
    for (const Luma& l : frames) d.AddFrame(MakeFrame(g, l).data());
    return d.Decide();
}

// The same frames as luma planes, top-down, as a decoder gives them.
BorderResult DetectPlanes(const FrameGeometry& g, const std::vector<Luma>& frames) {
    BorderDetector d(g);
    for (const Luma& l : frames) {
        std::vector<uint8_t> plane(static_cast<size_t>(g.width) * g.height);
        for (int32_t y = 0; y < g.height; ++y)
            for (int32_t x = 0; x < g.width; ++x) plane[static_cast<size_t>(y) * g.width + x] = static_cast<uint8_t>(l(x, y));
        d.AddLuma(plane.data());
    }
    return d.Decide();
}

TEST(BorderBand, FindsEachSideInEveryInput) {
    const std::vector<Luma> frames = {Boxed({7, 5, 90, 55}), Boxed({7, 5, 90, 55})};
    for (const BorderResult& r : {DetectFrames(Geometry(96, 64, HostFormat::Yuyv), frames),
                                  DetectFrames(Geometry(96, 64, HostFormat::Bgr24), frames),
                                  DetectPlanes(Geometry(96, 64), frames)}) {
        EXPECT_EQ(r.verdict, BorderVerdict::Found);
        EXPECT_EQ(r.picture, (Rect{7, 5, 90, 55}));
        EXPECT_EQ(r.framesWithContent, 2);
        EXPECT_EQ(r.evidence[0], 2);
        EXPECT_EQ(r.evidence[1], 2);
        EXPECT_EQ(r.evidence[2], 2);
        EXPECT_EQ(r.evidence[3], 2);
        EXPECT_EQ(r.barLevel, 16);
    }
}

TEST(BorderBand, AnOverlayPartOfTheTimeStaysInTheBar) {
    const FrameGeometry g = Geometry(64, 64);
    // Letterbox rows 8..43; a subtitle (rows 52..53, nearly the whole width) in 4 of 10
    // frames, apart from the picture by rows black in every frame.
    auto subtitled = [](int32_t x, int32_t y) { return (y >= 8 && y < 44) || (y >= 52 && y < 54 && x > 4) ? 200 : 16; };
    std::vector<Luma> frames(10, Boxed({0, 8, 64, 44}));
    for (int i = 0; i < 4; ++i) frames[i] = subtitled;
    BorderResult r = DetectFrames(g, frames);
    EXPECT_EQ(r.verdict, BorderVerdict::Found);
    EXPECT_EQ(r.picture, (Rect{0, 8, 64, 44}));
    // In 6 of 10 frames: the subtitle rows have content in most frames beyond the edge.
    for (int i = 4; i < 6; ++i) frames[i] = subtitled;
    r = DetectFrames(g, frames);
    EXPECT_EQ(r.verdict, BorderVerdict::NotSure);
    EXPECT_EQ(r.picture, (Rect{0, 8, 64, 44}));
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0], "row 52, beyond the picture's bottom edge, has content in most frames");
    // A logo over a third of the bar's width in every frame leaves the bar black.
    auto logo = [](int32_t x, int32_t y) { return (y >= 8 && y < 44) || (y >= 1 && y < 5 && x < 20) ? 200 : 16; };
    r = DetectFrames(g, std::vector<Luma>(3, logo));
    EXPECT_EQ(r.verdict, BorderVerdict::Found);
    EXPECT_EQ(r.picture, (Rect{0, 8, 64, 44}));
}

TEST(BorderBand, DarkContentIsNotABorder) {
    const FrameGeometry g = Geometry(64, 48);
    // A full picture whose top rows 0..9 are bright in only 3 of 10 frames, here and there
    // (a dark sky).
    std::vector<Luma> frames(10, Boxed({0, 10, 64, 48}));
    for (int i : {0, 4, 8}) frames[i] = Boxed({0, 0, 64, 48});
    BorderResult r = DetectFrames(g, frames);
    EXPECT_EQ(r.verdict, BorderVerdict::NotSure);
    EXPECT_EQ(r.picture, (Rect{0, 10, 64, 48}));
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0], "row 9, just beyond the picture's top edge (row 10), has content in 30 % of the "
                            "frames: dark picture, not a bar?");
    // Rows 8 and 9 lit over a quarter of the width in every frame (windows in a dark sky, or
    // a score box across the edge of a bright picture): black lines, but not nearly dark, so
    // content never stops sharply at row 10.
    auto sky = [](int32_t x, int32_t y) { return y < 8 ? 16 : y < 10 ? (x < 16 ? 200 : 16) : 200; };
    r = DetectFrames(g, std::vector<Luma>(5, sky));
    EXPECT_EQ(r.verdict, BorderVerdict::NotSure);
    EXPECT_EQ(r.picture, (Rect{0, 10, 64, 48}));
    EXPECT_EQ(r.evidence[1], 0);
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0], "the picture's top edge (row 10) is sharp in only 0 of 5 frames: row 9 just beyond it is "
                            "partly bright in 5 frames: an overlay across the edge (a score box), or picture dark only "
                            "in part?");
    // No frame with content: nothing to judge.
    r = DetectFrames(g, std::vector<Luma>(3, Boxed({0, 0, 0, 0})));
    EXPECT_EQ(r.verdict, BorderVerdict::NoContent);
    EXPECT_EQ(r.framesSampled, 3);
    EXPECT_EQ(r.framesWithContent, 0);
    // A full picture: no border; black frames between do not vote.
    r = DetectFrames(g, {Boxed({0, 0, 64, 48}), Boxed({0, 0, 0, 0}), Boxed({0, 0, 64, 48})});
    EXPECT_EQ(r.verdict, BorderVerdict::NoBorder);
    EXPECT_EQ(r.framesWithContent, 2);
}

TEST(BorderBand, BarsAboveBlackAndTheBlackLevel) {
    const FrameGeometry g = Geometry(64, 48);
    // Bars under the black level are found and measured; at or above it they count as
    // picture, and when two opposite edges of the frame are flat there in nine frames of ten,
    // at a level dark enough for bars (grey, blue), the answer is not sure, with that level.
    struct Case {
        const char* what;
        Luma scene;
        int32_t black;
        BorderVerdict verdict;
        Rect picture;
        int32_t barLevel, flatLevel;
        std::vector<std::string> reasons;
    };
    const Rect whole{0, 0, 64, 48};
    const Case cases[] = {
        {"bars at Y 30", Boxed({0, 6, 64, 42}, 30), 36, BorderVerdict::Found, {0, 6, 64, 42}, 30, -1, {}},
        {"bars at Y 30, --black 30", Boxed({0, 6, 64, 42}, 30), 30, BorderVerdict::NotSure, whole, -1, 30,
         {"the frame's top and bottom edges are flat at Y 30 in nearly every frame, above the black level 30: "
          "bars of grey or colour?"}},
        {"side bars at Y 50", Boxed({8, 0, 56, 48}, 50), 36, BorderVerdict::NotSure, whole, -1, 50,
         {"the frame's left and right edges are flat at Y 50 in nearly every frame, above the black level 36: "
          "bars of grey or colour?"}},
        {"flat edges at Y 90: picture", Boxed({0, 6, 64, 42}, 90), 36, BorderVerdict::NoBorder, whole, -1, -1, {}},
        {"edges at Y 40 and 60 across: not flat",
         [](int32_t x, int32_t y) { return y >= 6 && y < 42 ? 200 : 40 + x / 2 % 2 * 20; }, 36,
         BorderVerdict::NoBorder, whole, -1, -1, {}},
    };
    for (const Case& c : cases) {
        BorderDetector d(g, c.black);
        for (int i = 0; i < 2; ++i) d.AddFrame(MakeFrame(g, c.scene).data());
        const BorderResult r = d.Decide();
        EXPECT_EQ(r.verdict, c.verdict) << c.what;
        EXPECT_EQ(r.picture, c.picture) << c.what;
        EXPECT_EQ(r.barLevel, c.barLevel) << c.what;
        EXPECT_EQ(r.flatEdgeLevel, c.flatLevel) << c.what;
        EXPECT_EQ(r.reasons, c.reasons) << c.what;
    }
}

TEST(BorderBand, ADarkBandAcrossThePictureLiesBetweenItsSharpOuterEdges) {
    const FrameGeometry g = Geometry(64, 64);
    // Bright rows in two runs, dark rows between and beyond them. Rows with content reach over
    // more than half of the height, so the columns are judged over them even when no column
    // is bright over half of the whole height.
    auto runs = [](int32_t a, int32_t b, int32_t c, int32_t d) {
        return [=](int32_t, int32_t y) { return (y >= a && y < b) || (y >= c && y < d) ? 200 : 16; };
    };
    struct Case {
        const char* what;
        Luma scene;
        BorderVerdict verdict;
        Rect picture;
        std::vector<std::string> reasons;
    };
    const Case cases[] = {
        {"a letterbox with a dark middle", runs(8, 22, 42, 56), BorderVerdict::Found, {0, 8, 64, 56},
         {"rows 22 to 41, dark in most frames, lie between parts of the picture: taken as a dark band across it"}},
        {"a run beyond under an eighth of the whole (a ticker)", runs(8, 44, 52, 56), BorderVerdict::NotSure,
         {0, 8, 64, 44}, {"row 52, beyond the picture's bottom edge, has content in most frames"}},
        {"bars of 8 and 2 rows: dark picture at the edge?", runs(8, 22, 42, 62), BorderVerdict::NotSure,
         {0, 42, 64, 62}, {"row 21, beyond the picture's top edge, has content in most frames"}},
    };
    for (const Case& c : cases) {
        const BorderResult r = DetectFrames(g, std::vector<Luma>(3, c.scene));
        EXPECT_EQ(r.verdict, c.verdict) << c.what;
        EXPECT_EQ(r.picture, c.picture) << c.what;
        EXPECT_EQ(r.framesWithContent, 3) << c.what;
        EXPECT_EQ(r.reasons, c.reasons) << c.what;
    }
}

TEST(BorderBand, NoisyOverscanLinesAtTheEdgeArePassedOver) {
    const FrameGeometry g = Geometry(128, 128);  // overscan: 2 lines
    auto noisy = [](int32_t x, int32_t y) { return y < 2 ? 120 + (x * 37 % 90) : y >= 20 && y < 108 ? 200 : 16; };
    const BorderResult r = DetectFrames(g, {noisy, noisy, noisy});
    EXPECT_EQ(r.verdict, BorderVerdict::Found);
    EXPECT_EQ(r.picture, (Rect{0, 20, 128, 108}));
}

TEST(BorderBand, AFormatChangeIsReportedWithBothFormats) {
    const FrameGeometry g = Geometry(64, 48);
    // Frames 0..3 fill the frame (an advert), frames 4..9 are letterboxed: in most frames
    // the top and bottom rows are black, but the first four frames are sure of no border.
    std::vector<Luma> frames(10, Boxed({0, 6, 64, 42}));
    for (int i = 0; i < 4; ++i) frames[i] = Boxed({0, 0, 64, 48});
    // A frame that looks like neither: black but for its middle rows, within the film.
    frames[6] = Boxed({0, 12, 64, 36});
    BorderResult r = DetectFrames(g, frames);
    EXPECT_EQ(r.verdict, BorderVerdict::FormatChange);
    ASSERT_EQ(r.formats.size(), 2u);
    EXPECT_EQ(r.formats[0].firstFrame, 0);
    EXPECT_EQ(r.formats[0].border.verdict, BorderVerdict::NoBorder);
    EXPECT_EQ(r.formats[0].border.framesWithContent, 4);
    EXPECT_EQ(r.formats[1].firstFrame, 4);
    EXPECT_EQ(r.formats[1].border.verdict, BorderVerdict::Found);
    EXPECT_EQ(r.formats[1].border.picture, (Rect{0, 6, 64, 42}));
    EXPECT_EQ(r.reasons, std::vector<std::string>{"the picture changes after 4 of 10 frames"});
    // The advert in one frame of ten is too short to be a format: the film's rows 0..5 have
    // content in that frame only, so the film is found.
    frames.assign(10, Boxed({0, 6, 64, 42}));
    frames[0] = Boxed({0, 0, 64, 48});
    r = DetectFrames(g, frames);
    EXPECT_EQ(r.verdict, BorderVerdict::Found);
    EXPECT_EQ(r.picture, (Rect{0, 6, 64, 42}));
}

TEST(BorderBand, EveryFormatIsReportedInTimeOrder) {
    const FrameGeometry g = Geometry(64, 48);
    const Rect film{0, 6, 64, 42}, advert{0, 0, 64, 48};
    // Advert, film, advert, each four frames or more: three formats, the first and the last alike.
    std::vector<Luma> frames(16, Boxed(film));
    for (int i : {0, 1, 2, 3, 12, 13, 14, 15}) frames[i] = Boxed(advert);
    BorderResult r = DetectFrames(g, frames);
    EXPECT_EQ(r.verdict, BorderVerdict::FormatChange);
    ASSERT_EQ(r.formats.size(), 3u);
    const long long firstFrames[3] = {0, 4, 12}, counts[3] = {4, 8, 4};
    const Rect pictures[3] = {advert, film, advert};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r.formats[i].firstFrame, firstFrames[i]) << i;
        EXPECT_EQ(r.formats[i].border.framesWithContent, counts[i]) << i;
        EXPECT_EQ(r.formats[i].border.picture, pictures[i]) << i;
    }
    EXPECT_EQ(r.formats[1].border.verdict, BorderVerdict::Found);
    EXPECT_EQ(r.reasons, std::vector<std::string>{"the picture changes after 4 and 12 of 16 frames"});
    // Between two others a format needs a tenth of the frames: two frames of 16 in bars are
    // not one (a dark scene may look so), and the adverts around them leave no border.
    frames.assign(16, Boxed(advert));
    frames[7] = frames[8] = Boxed(film);
    r = DetectFrames(g, frames);
    EXPECT_EQ(r.verdict, BorderVerdict::NoBorder);
    EXPECT_TRUE(r.formats.empty());
}

// A caller deciding over recent frames keeps their flags in a ring buffer: the window starts
// at the oldest frame, wherever it lies.
TEST(BorderBand, AWindowInARingBufferIsDecidedInTimeOrder) {
    const FrameGeometry g = Geometry(64, 48);
    const size_t block = 64 + 48;
    BorderDetector sampler(g);
    std::vector<uint8_t> ring(6 * block);
    EXPECT_FALSE(sampler.FlagFrame(MakeFrame(g, Boxed({0, 0, 0, 0})).data(), ring.data()));  // black: no vote
    // Frames 0..2 an advert, 3..5 a film, frame t in slot (4 + t) % 6.
    for (int t = 0; t < 6; ++t)
        EXPECT_TRUE(sampler.FlagFrame(MakeFrame(g, Boxed(t < 3 ? Rect{0, 0, 64, 48} : Rect{0, 6, 64, 42})).data(),
                                      &ring[(4 + t) % 6 * block]));
    const BorderResult r = DecideFormats(FlagWindow{ring.data(), 64, 48, 4, 6, 6});
    EXPECT_EQ(r.verdict, BorderVerdict::FormatChange);
    ASSERT_EQ(r.formats.size(), 2u);
    EXPECT_EQ(r.formats[0].border.verdict, BorderVerdict::NoBorder);
    EXPECT_EQ(r.formats[1].firstFrame, 3);
    EXPECT_EQ(r.formats[1].border.picture, (Rect{0, 6, 64, 42}));
    // The film's frames alone, by the same rules.
    EXPECT_EQ(DecideBorders(FlagWindow{ring.data(), 64, 48, 1, 3, 6}).picture, (Rect{0, 6, 64, 42}));
}

// Frames of one to five pixels a side, black, bright or striped, in both formats: every
// line read stays inside the frame (the sanitizer builds run this), and the answers stay
// within the frame.
TEST(BorderBand, TinyFramesAreSafe) {
    for (HostFormat format : {HostFormat::Yuyv, HostFormat::Bgr24})
        for (int32_t w = 1; w <= 5; ++w)
            for (int32_t h = 1; h <= 5; ++h) {
                const FrameGeometry g = Geometry(w, h, format);
                BorderDetector d(g);
                d.AddFrame(MakeFrame(g, Boxed({0, 0, 0, 0})).data());
                d.AddFrame(MakeFrame(g, Boxed({0, 0, w, h})).data());
                d.AddFrame(MakeFrame(g, [](int32_t x, int32_t y) { return (x + y) % 2 ? 200 : 16; }).data());
                d.KeepEveryOther();
                const BorderResult r = d.Decide();
                EXPECT_TRUE(r.picture.left >= 0 && r.picture.right <= w && r.picture.top >= 0 && r.picture.bottom <= h)
                    << w << "x" << h;
            }
}

TEST(BorderBand, KeepEveryOtherHalvesTheSeries) {
    const FrameGeometry g = Geometry(64, 48);
    BorderDetector detector(g);
    for (int i = 0; i < 5; ++i) detector.AddFrame(MakeFrame(g, Boxed({0, 6, 64, 42})).data());
    detector.KeepEveryOther();
    EXPECT_EQ(detector.FramesSampled(), 3);
    EXPECT_EQ(detector.Decide().framesWithContent, 3);
    EXPECT_EQ(detector.Decide().picture, (Rect{0, 6, 64, 42}));
}

}  // namespace
}  // namespace kvx
