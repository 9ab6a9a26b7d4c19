// Which of IN's subtitle streams go into OUT, by OUT's container.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffmpeg/subtitle_streams.h"

namespace kvx {
namespace {

struct Case {
    const char* extension;
    std::vector<std::string> codecs;
    std::vector<std::string> kept;  // the codec each kept stream gets, in order
    std::vector<std::string> leftOut;
};

const Case kCases[] = {
    // A DVB recording: bitmap subtitles and teletext.
    {"ts", {"dvb_subtitle", "dvb_teletext"}, {"copy", "copy"}, {}},
    {"mkv", {"dvb_subtitle", "dvb_teletext"}, {"copy"}, {"dvb_teletext"}},
    {"mp4", {"dvb_subtitle", "dvb_teletext"}, {}, {"dvb_subtitle", "dvb_teletext"}},
    // Text subtitles: converted to the container's own text format where it has one.
    {"mp4", {"subrip", "ass", "mov_text"}, {"mov_text", "mov_text", "copy"}, {}},
    {"mov", {"webvtt"}, {"mov_text"}, {}},
    {"mkv", {"subrip", "mov_text", "hdmv_pgs_subtitle"}, {"copy", "subrip", "copy"}, {}},
    {"ts", {"subrip"}, {}, {"subrip"}},
    {"avi", {"subrip", "dvd_subtitle"}, {}, {"subrip", "dvd_subtitle"}},
    {"mp4", {}, {}, {}},
};

TEST(SubtitleStreams, KeptWhereTheContainerTakesThemNamedWhereNot) {
    for (const Case& c : kCases) {
        const SubtitlePlan plan = PlanSubtitles(c.codecs, c.extension);
        std::vector<std::string> kept;
        for (size_t i = 0; i < plan.kept.size(); ++i) kept.push_back(plan.kept[i].codec);
        EXPECT_EQ(kept, c.kept) << c.extension;
        EXPECT_EQ(plan.leftOut, c.leftOut) << c.extension;
    }
    // The streams kept keep their numbers among IN's subtitle streams.
    const SubtitlePlan plan = PlanSubtitles({"dvb_teletext", "subrip"}, "mkv");
    ASSERT_EQ(plan.kept.size(), 1u);
    EXPECT_EQ(plan.kept[0].input, 1);
}

}  // namespace
}  // namespace kvx
