#include "ffmpeg/probe.h"

#include <cstdio>
#include <cstdlib>
#include <map>

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
std::vector<ProbeSection> ProbeSections(const std::string& text) {
    std::vector<ProbeSection> sections;
    int depth = 0;
    for (const std::string& line : SplitLines(text)) {
        if (line.size() > 2 && line[0] == '[' && line[1] == '/') {
            --depth;
        } else if (!line.empty() && line[0] == '[') {
            if (depth++ == 0) sections.push_back({line.substr(1, line.size() - 2), {}});
        } else if (depth == 1 && line.find('=') != std::string::npos) {
            sections.back().values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }
    return sections;
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
        if (section.Get("codec_type") == "subtitle") info.subtitleCodecs.push_back(section.Get("codec_name"));
    }
    if (video) {
        info.width = std::atoi(video->Get("width").c_str());
        info.height = std::atoi(video->Get("height").c_str());
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
                "stream=codec_type,codec_name,width,height,r_frame_rate,avg_frame_rate,field_order,"
                "nb_frames,start_time,duration:stream_tags=DURATION:format=start_time,duration",
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
