// Which of IN's subtitle streams go into OUT, and how: each container takes its own kinds of
// subtitles, and text subtitles can be converted to the kind a container takes.
#pragma once
#include <string>
#include <vector>

namespace kvx {

struct SubtitlePlan {
    struct Kept {
        int input;          // the stream's number among IN's subtitle streams
        std::string codec;  // "copy", or the text format it is converted to
    };
    std::vector<Kept> kept;
    std::vector<std::string> leftOut;  // codec names of the streams OUT cannot hold
};

// `codecs`: ffprobe's codec names of IN's subtitle streams, in order; `extension`: OUT's, in
// lower case.
SubtitlePlan PlanSubtitles(const std::vector<std::string>& codecs, const std::string& extension);

}  // namespace kvx
