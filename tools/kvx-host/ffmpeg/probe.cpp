#include "ffmpeg/probe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "console/console_text.h"
#include "console/stop_signal.h"
#include "errors.h"
#include "ffmpeg/child_messages.h"
#include "ffmpeg/child_process.h"
#include "ffmpeg/video_files.h"
#include "files/files.h"

namespace kvx {
namespace {

// One section of ffprobe's default output ("[STREAM]" ... "[/STREAM]"): its kind and values.
struct ProbeSection {
    std::string kind;
    std::map<std::string, std::string> values;
    std::string Get(const std::string& key) const {
        auto it = values.find(key);
        return it == values.end() || it->second == "N/A" ? std::string() : it->second;
    }
};

// The top-level sections; those inside a [PROGRAM] repeat streams listed again on their own.
// The values of a section within one ([SIDE_DATA] in a [STREAM]) are kept in it under their
// section's name: "SIDE_DATA:rotation".
std::vector<ProbeSection> ProbeSections(const std::string& text) {
    std::vector<ProbeSection> sections;
    int depth = 0;
    std::string inner;
    for (const std::string& line : SplitLines(text)) {
        const size_t equals = line.find('=');
        if (line.size() > 2 && line[0] == '[' && line[1] == '/') {
            --depth;
        } else if (!line.empty() && line[0] == '[') {
            const std::string kind = line.substr(1, line.size() - 2);
            if (depth == 0) sections.push_back({kind, {}});
            if (depth++ == 1) inner = kind + ":";
        } else if ((depth == 1 || depth == 2) && equals != std::string::npos) {
            sections.back().values[(depth == 2 ? inner : "") + line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return sections;
}

// "64:45" when `ratio` is such a ratio of two positive whole numbers, else "" ("0:1", "N/A").
std::string Ratio(const std::string& ratio) {
    unsigned long a = 0, b = 0;
    char end = 0;
    return std::sscanf(ratio.c_str(), "%lu:%lu%c", &a, &b, &end) == 2 && a > 0 && b > 0 ? ratio : std::string();
}

// The quarter turn the display matrix's `rotation` (degrees counterclockwise) is, as 0, 90,
// 180 or 270; within a degree of one, as ffmpeg takes it. Throws RunError for other angles.
int QuarterTurn(const std::string& path, const std::string& rotation) {
    const long degrees = ((std::lround(std::atof(rotation.c_str())) % 360) + 360) % 360;
    const long quarter = (degrees + 45) / 90 * 90;
    if (std::labs(degrees - quarter) > 1)
        throw RunError(path + " is shown turned by " + std::to_string(degrees) +
                       " degrees; kvx-host turns pictures by quarter turns only: turn it first, e.g. "
                       "ffmpeg -i IN upright.mp4");
    return static_cast<int>(quarter % 360);
}

// "01:02:03.5" as seconds (3723.5); 0 when it is no such time.
double ClockSeconds(const std::string& clock) {
    int hours = 0, minutes = 0;
    double seconds = 0;
    return std::sscanf(clock.c_str(), "%d:%d:%lf", &hours, &minutes, &seconds) == 3 ? hours * 3600.0 + minutes * 60.0 + seconds
                                                                                    : 0;
}

VideoInfo VideoInfoFromProbe(const std::string& path, const std::vector<ProbeSection>& sections) {
    const ProbeSection* video = nullptr;
    ProbeSection format;
    VideoInfo info;
    for (const ProbeSection& section : sections) {
        if (section.kind == "FORMAT") format = section;
        if (section.kind != "STREAM") continue;
        if (section.Get("codec_type") == "video" && !video) video = &section;
        if (section.Get("codec_type") == "audio") info.audioCodecs.push_back(section.Get("codec_name"));
        if (section.Get("codec_type") == "subtitle") info.subtitleCodecs.push_back(section.Get("codec_name"));
    }
    if (video) {
        info.width = std::atoi(video->Get("width").c_str());
        info.height = std::atoi(video->Get("height").c_str());
        info.aspect = Ratio(video->Get("sample_aspect_ratio"));
        info.turn = QuarterTurn(path, video->Get("SIDE_DATA:rotation"));
        if (info.turn % 180 != 0) {  // on its side: shown the other way round, its samples too
            std::swap(info.width, info.height);
            const size_t colon = info.aspect.find(':');
            if (colon != std::string::npos)
                info.aspect = info.aspect.substr(colon + 1) + ":" + info.aspect.substr(0, colon);
        }
        info.rate = video->Get("r_frame_rate");
        info.codec = video->Get("codec_name");
        if (video->Get("field_order") != "unknown") info.fieldOrder = video->Get("field_order");
    }
    if (info.width <= 0 || info.height <= 0) throw RunError(path + " holds no video stream that ffprobe can read");
    if (FramesPerSecond(info.rate) <= 0) info.rate = video->Get("avg_frame_rate");
    const double rate = FramesPerSecond(info.rate);
    if (rate <= 0) throw RunError("ffprobe gives no frame rate for " + path);
    const std::string frames = video->Get("nb_frames"), start = video->Get("start_time");
    double length = std::atof(video->Get("duration").c_str());
    if (length <= 0) length = ClockSeconds(video->Get("TAG:DURATION"));  // Matroska keeps it as a tag
    if (!frames.empty() && frames.find_first_not_of("0123456789") == std::string::npos)
        info.frames = std::atoll(frames.c_str());
    else if (length > 0)
        info.frames = static_cast<long long>(length * rate + 0.5);
    else if (std::atof(format.Get("duration").c_str()) > 0)
        info.frames = static_cast<long long>(std::atof(format.Get("duration").c_str()) * rate + 0.5);
    // ffmpeg starts what it reads from IN at the file's start time.
    if (length > 0 && !start.empty())
        info.videoEnd = std::atof(start.c_str()) + length - std::atof(format.Get("start_time").c_str());
    return info;
}

}  // namespace

// Runs ffprobe with `args` (its log level is set here) and its messages kept back: they are
// shown only when it fails, and then false. Throws RunError when it cannot start.
bool Probe(const std::vector<std::string>& args, std::string& text) {
    std::vector<std::string> command = {"ffprobe", "-v", "error"};
    command.insert(command.end(), args.begin(), args.end());
    ChildMessages messages;
    std::string error;
    const bool ran = messages.WhileStarting([&] { return CaptureOutput(command, text, error); });
    // A stopped ffprobe may end "successfully" with part of its answer: never read it as IN's.
    if (StopRequested()) throw RunError(kInterrupted);
    if (ran) return true;
    if (!error.empty()) throw StartFailure(error);
    PutText(stderr, messages.Tail());
    return false;
}

VideoInfo ProbeVideo(const std::string& path) {
    // Reading the start of a recording that begins mid-GOP, the decoder complains about every
    // frame before the first key frame: what ffprobe says is shown only when it fails.
    std::string text;
    if (!Probe({"-show_entries",
                "stream=codec_type,codec_name,width,height,sample_aspect_ratio,r_frame_rate,avg_frame_rate,"
                "field_order,nb_frames,start_time,duration:stream_tags=DURATION:stream_side_data=rotation:"
                "format=start_time,duration",
                "-of", "default", AsFile(path)},
               text))
        throw RunError("ffprobe cannot read " + path + " as a video (its message is above)");
    return VideoInfoFromProbe(path, ProbeSections(text));
}

// When IN's first decodable frame is shown, in seconds from IN's start (where ffmpeg puts time
// 0 of what it reads from IN), by the frame's own timestamp: ffmpeg's command line misplaces
// the first frames of a recording that starts mid-GOP (by 50 ms in a test clip, more in real
// recordings), and its raw frames carry no time at all. The first seconds are enough to find
// it in any usual recording; the whole file is read only when they hold no key frame.
double FirstFrameTime(const std::string& path) {
    for (const char* span : {"%+10", "%"}) {
        std::string text;
        if (!Probe({"-select_streams", "v:0", "-read_intervals", span, "-show_entries",
                    "frame=best_effort_timestamp_time:format=start_time", "-of", "default=noprint_wrappers=1",
                    AsFile(path)},
                   text))
            throw RunError("ffprobe cannot read the frames of " + path + " (its message is above)");
        std::string first, start;
        for (const std::string& line : SplitLines(text)) {
            const std::string key = line.substr(0, line.find('=')), value = line.substr(line.find('=') + 1);
            if (key == "best_effort_timestamp_time" && first.empty() && value != "N/A") first = value;
            if (key == "start_time" && value != "N/A") start = value;
        }
        if (!first.empty()) return std::atof(first.c_str()) - std::atof(start.c_str());
    }
    throw RunError("ffmpeg finds no frame it can decode in " + path);
}

}  // namespace kvx
