#include "ffmpeg/subtitle_streams.h"

#include <set>

namespace kvx {
namespace {

bool IsText(const std::string& codec) {
    static const std::set<std::string> text = {"subrip", "srt", "ass", "ssa", "webvtt", "mov_text", "text"};
    return text.count(codec) > 0;
}

// The kinds a container takes as they are, and the text format it takes converted text in
// ("" when it takes no text).
struct Container {
    std::set<std::string> copied;
    std::string text;
};

Container ContainerFor(const std::string& ext) {
    if (ext == "mp4" || ext == "m4v" || ext == "mov") return {{"mov_text"}, "mov_text"};
    if (ext == "mkv") return {{"subrip", "ass", "ssa", "webvtt", "dvd_subtitle", "dvb_subtitle", "hdmv_pgs_subtitle"}, "subrip"};
    if (ext == "ts" || ext == "m2ts" || ext == "mts") return {{"dvb_subtitle", "dvb_teletext"}, ""};
    return {};
}

}  // namespace

SubtitlePlan PlanSubtitles(const std::vector<std::string>& codecs, const std::string& extension) {
    const Container container = ContainerFor(extension);
    SubtitlePlan plan;
    for (size_t i = 0; i < codecs.size(); ++i) {
        const int input = static_cast<int>(i);
        if (container.copied.count(codecs[i])) plan.kept.push_back({input, "copy"});
        else if (IsText(codecs[i]) && !container.text.empty()) plan.kept.push_back({input, container.text});
        else plan.leftOut.push_back(codecs[i]);
    }
    return plan;
}

}  // namespace kvx
