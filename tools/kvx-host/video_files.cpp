#include "video_files.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "console_text.h"
#include "files.h"
#include "options.h"
#include "stop_signal.h"
#include "subtitle_streams.h"

namespace kvx {
namespace {

std::string Extension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || name.find_first_of("/\\", dot) != std::string::npos) return std::string();
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

const char* PixelFormat(const FrameGeometry& g) { return g.format == HostFormat::Yuyv ? "yuyv422" : "bgr24"; }

const char kInstallHint[] = " (kvx-host runs ffmpeg and ffprobe for video files: install ffmpeg and put it on "
                            "PATH, or give raw frames with --input/--output)";

// Why a program could not be started, with the install hint where it was not found or could
// not run; a pipe that could not be made ("cannot make a pipe: Too many open files") has
// nothing to do with ffmpeg's installation.
RunError StartFailure(const std::string& error) {
    return RunError(error.find("cannot start") == 0 ? error + kInstallHint : error);
}

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

// Runs ffprobe with `args` (its log level is set here) and its messages kept back: they are
// shown only when it fails, and then false. Throws RunError when it cannot start.
bool Probe(const std::vector<std::string>& args, std::string& text) {
    std::vector<std::string> command = {"ffprobe", "-v", "error"};
    command.insert(command.end(), args.begin(), args.end());
    ChildMessages messages;
    std::string error;
    if (messages.WhileStarting([&] { return CaptureOutput(command, text, error); })) return true;
    if (StopRequested()) throw RunError(kInterrupted);
    if (!error.empty()) throw StartFailure(error);
    PutText(stderr, messages.Tail());
    return false;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    return text;
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

// The encoder's options for IN's subtitle streams; a note on standard error names those OUT's
// container cannot hold.
void AddSubtitles(const SubtitlePlan& plan, const std::string& in, const std::string& ext,
                  std::vector<std::string>& args) {
    for (size_t i = 0; i < plan.kept.size(); ++i) {
        args.insert(args.end(), {"-map", "1:s:" + std::to_string(plan.kept[i].input)});
        args.insert(args.end(), {"-c:s:" + std::to_string(i), plan.kept[i].codec});
    }
    if (plan.leftOut.empty()) return;
    std::string kinds;
    for (const std::string& codec : plan.leftOut) kinds += (kinds.empty() ? "" : ", ") + codec;
    PrintText(stderr, "kvx-host: note: a .%s file cannot hold the subtitles of %s (%s); they are left out\n",
              ext.c_str(), in.c_str(), kinds.c_str());
}

class DecodedSource : public FrameSource {
public:
    DecodedSource(std::unique_ptr<ChildProcess> decoder, std::unique_ptr<ChildMessages> messages,
                  const FrameGeometry& g, long long limit, long long length, const std::string& path)
        : decoder_(std::move(decoder)),
          messages_(std::move(messages)),
          raw_(MakeRawSource(decoder_->Stream(), false, g, limit, length)),
          path_(path) {}
    Result Next(std::vector<uint8_t>& frame, std::string& error) override {
        Result r = raw_->Next(frame, error);
        if (r == Result::End && decoder_->Finish() != 0 && !StopRequested()) {
            PutText(stderr, messages_->Tail());
            error = "ffmpeg could not decode " + path_ + " (its message is above)";
            return Result::Error;
        }
        return r;
    }
    long long Length() const override { return raw_->Length(); }

private:
    std::unique_ptr<ChildProcess> decoder_;
    std::unique_ptr<ChildMessages> messages_;
    std::unique_ptr<FrameSource> raw_;
    std::string path_;
};

}  // namespace

std::unique_ptr<ChildProcess> StartQuietly(const std::vector<std::string>& args, ChildProcess::Pipe pipe,
                                           ChildMessages& messages) {
    std::unique_ptr<ChildProcess> child(new ChildProcess);
    std::string error;
    if (!messages.WhileStarting([&] { return child->Start(args, pipe, error); })) throw StartFailure(error);
    return child;
}

// Names reach ffmpeg as files: without the prefix a name like "concat:a|b", "tee:x|y" or
// "http://..." would be taken as a protocol and read or write what the user did not name.
std::string AsFile(const std::string& name) { return "file:" + name; }

double FramesPerSecond(const std::string& rate) {
    const size_t slash = rate.find('/');
    const double num = std::atof(rate.substr(0, slash).c_str());
    const double den = slash == std::string::npos ? 1 : std::atof(rate.substr(slash + 1).c_str());
    return den > 0 ? num / den : 0;
}

bool IsRawFileName(const std::string& name) {
    std::string ext = Extension(name);
    return ext == "yuv" || ext == "raw" || ext == "rgb" || ext == "bgr";
}

bool IsWritableContainer(const std::string& name, std::string& why) {
    static const char* const kContainers[] = {"mp4", "m4v", "mov", "mkv", "ts", "m2ts", "mts", "avi", "flv"};
    const std::string ext = Extension(name);
    for (const char* known : kContainers)
        if (ext == known) return true;
    why = "OUT " + name + (ext.empty() ? " has no extension" : ": kvx-host cannot write H.264 into ." + ext + " files") +
          "; name it .mp4, .mkv, .mov, .ts or .avi (or .yuv for raw frames)";
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

std::unique_ptr<FrameSource> MakeDecodedSource(const std::string& path, const FrameGeometry& g,
                                               const VideoInfo& info, long long limit) {
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin", "-i", AsFile(path), "-map", "0:v:0"};
    // The first frame decoded is the first frame given, not held back to IN's start: the
    // encoder puts it where it belongs (see StartEncoder).
    args.insert(args.end(), {"-vf", "setpts=PTS-STARTPTS"});
    // ffmpeg stops by itself after --frames, rather than on a closed pipe.
    if (limit >= 0) args.insert(args.end(), {"-frames:v", std::to_string(limit)});
    args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", PixelFormat(g), "-"});
    std::unique_ptr<ChildMessages> messages(new ChildMessages);
    std::unique_ptr<ChildProcess> decoder = StartQuietly(args, ChildProcess::Pipe::FromOutput, *messages);
    return std::unique_ptr<FrameSource>(
        new DecodedSource(std::move(decoder), std::move(messages), g, limit, info.frames, path));
}

bool VideoEncoder::Finish(std::string& messages) {
    if (ffmpeg_->Finish() == 0) return true;
    // ffmpeg looks into IN's video when it opens IN for the sound, and complains about the
    // frames before the first key frame: never the reason it failed.
    const std::string noise = "[" + inputCodec_ + " @ ";
    messages.clear();
    for (const std::string& line : SplitLines(messages_->Tail()))
        if (line.compare(0, noise.size(), noise) != 0 && line.find("Last message repeated") == std::string::npos)
            messages += line + "\n";
    return false;
}

std::unique_ptr<VideoEncoder> StartEncoder(const std::string& in, const std::string& out, const FrameGeometry& g,
                                           const VideoInfo& info, long long limit, const EncodeChoice& encode) {
    const std::string ext = Extension(out);
    // The decoder drops the frames before IN's first key frame; its first frame is shown this
    // long after IN's start, where IN's audio (and plain ffmpeg's picture) has it.
    const double start = FirstFrameTime(in);
    double end = info.videoEnd;
    const double limitEnd = start + limit / FramesPerSecond(info.rate);
    if (limit >= 0 && (end < 0 || limitEnd < end)) end = limitEnd;
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "rawvideo",
                                     "-pix_fmt", PixelFormat(g),
                                     "-s", std::to_string(g.width) + "x" + std::to_string(g.height),
                                     "-framerate", info.rate, "-itsoffset", Seconds(start), "-i", "-"};
    // IN's audio and subtitles end with the video; the video is never cut to them.
    if (end > 0) args.insert(args.end(), {"-t", Seconds(end)});
    args.insert(args.end(), {"-i", AsFile(in), "-map", "0:v:0", "-map", "1:a?"});
    // MP4 and QuickTime take AAC everywhere; other containers keep the source's audio as it is.
    const bool aac = ext == "mp4" || ext == "m4v" || ext == "mov";
    // Every processed frame once, at its own time: the frames are already at the source's rate,
    // and an MP4 that starts its picture after its sound says so in its edit list rather than
    // with copies of the first frame.
    args.insert(args.end(), {"-fps_mode", "passthrough", "-c:v", "libx264", "-crf", std::to_string(encode.crf),
                             "-preset", encode.preset, "-pix_fmt", "yuv420p", "-c:a", aac ? "aac" : "copy"});
    // An interlaced source stays interlaced, fields in its order, so players deinterlace it as
    // they did the source.
    const bool top = info.fieldOrder == "tt" || info.fieldOrder == "tb";
    if (top || info.fieldOrder == "bb" || info.fieldOrder == "bt")
        args.insert(args.end(), {"-vf", top ? "setfield=tff" : "setfield=bff", "-flags", "+ildct+ilme"});
    AddSubtitles(PlanSubtitles(info.subtitleCodecs, ext), in, ext, args);
    args.push_back(AsFile(out));
    std::unique_ptr<ChildMessages> messages(new ChildMessages);
    std::unique_ptr<ChildProcess> ffmpeg = StartQuietly(args, ChildProcess::Pipe::ToInput, *messages);
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(ffmpeg), std::move(messages), info.codec));
}

}  // namespace kvx
