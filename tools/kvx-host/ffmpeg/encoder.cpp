#include "ffmpeg/encoder.h"

#include <cstdio>

#include "console/console_text.h"
#include "ffmpeg/probe.h"
#include "ffmpeg/subtitle_streams.h"
#include "ffmpeg/version_options.h"
#include "ffmpeg/video_files.h"
#include "files/files.h"

namespace kvx {
namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    return text;
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

}  // namespace

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
                                     "-pix_fmt", RawPixelFormat(g),
                                     "-s", std::to_string(g.width) + "x" + std::to_string(g.height),
                                     "-framerate", info.rate, "-itsoffset", Seconds(start), "-i", "-"};
    // IN's audio and subtitles end with the video; the video is never cut to them.
    if (end > 0) args.insert(args.end(), {"-t", Seconds(end)});
    args.insert(args.end(), {"-i", AsFile(in), "-map", "0:v:0", "-map", "1:a?"});
    // ffmpeg before 4.4 (told apart only as older than 5.1) counts that -t, for the streams it
    // copies, from time 0 of IN's timestamps rather than from IN's start, which in a TV
    // recording lies hours in: the sound would run on to IN's end. There OUT as a whole ends
    // half a frame after `end` as well; this -t holds the picture too, whose last frame starts
    // by `end`.
    if (end > 0 && FfmpegBefore51())
        args.insert(args.end(), {"-t", Seconds(end + 0.5 / FramesPerSecond(info.rate))});
    // MP4 and QuickTime take AAC everywhere; other containers keep the source's audio as it is.
    const bool aac = ext == "mp4" || ext == "m4v" || ext == "mov";
    // Every processed frame once, at its own time: the frames are already at the source's rate,
    // and an MP4 that starts its picture after its sound says so in its edit list rather than
    // with copies of the first frame.
    AddPassthroughTiming(args);
    args.insert(args.end(), {"-c:v", "libx264", "-crf", std::to_string(encode.crf), "-preset", encode.preset,
                             "-pix_fmt", "yuv420p", "-c:a", aac ? "aac" : "copy"});
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
