#include "ffmpeg/encoder.h"

#include <cstdio>
#include <set>

#include "console/console_text.h"
#include "console/stop_signal.h"
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

// Whether a container other than MP4 and QuickTime (which get AAC whatever IN has) takes a
// sound of this codec as it is.
bool TakesAudio(const std::string& ext, const std::string& codec) {
    static const std::set<std::string> mkv = {"aac", "ac3", "eac3", "dts", "truehd", "mp2", "mp3", "opus", "vorbis",
                                              "flac", "alac", "pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_f32le"};
    static const std::set<std::string> ts = {"aac", "aac_latm", "ac3", "eac3", "dts", "truehd", "mp2", "mp3", "opus"};
    static const std::set<std::string> avi = {"mp2", "mp3", "ac3", "dts", "pcm_s16le", "pcm_u8"};
    static const std::set<std::string> flv = {"aac"};  // FLV's MP3 and PCM take no 48 kHz
    const std::set<std::string>& taken = ext == "mkv" ? mkv : ext == "avi" ? avi : ext == "flv" ? flv : ts;
    return taken.count(codec) > 0;
}

// IN's sound streams that OUT's container cannot hold as they are (Opus in an AVI) are
// encoded, as plain ffmpeg does, into a codec it takes, with one of ffmpeg's own encoders:
// AC-3 in AVI, AAC elsewhere. The rest are copied.
void AddAudio(const std::vector<std::string>& codecs, const std::string& ext, std::vector<std::string>& args) {
    for (size_t i = 0; i < codecs.size(); ++i)
        if (!TakesAudio(ext, codecs[i]))
            args.insert(args.end(), {"-c:a:" + std::to_string(i), ext == "avi" ? "ac3" : "aac"});
}

// Converts the subtitle streams that OUT's container takes only in another format (text into
// an MP4's mov_text) up to `end` (0: IN's end), into a file in `folder`, before the encoder
// starts: were the encoder to convert them, its cut at the video's end would lose the last
// one (ffmpeg 5.1 never flushes the bitstream filters of streams it encodes into subtitles).
// The file's name, or "" when nothing needs converting. Throws RunError.
std::string ConvertSubtitles(const SubtitlePlan& plan, const std::string& in, double end, const std::string& folder) {
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
    if (end > 0) args.insert(args.end(), {"-t", Seconds(end)});
    args.insert(args.end(), {"-i", AsFile(in)});
    std::string codec;
    for (const SubtitlePlan::Kept& kept : plan.kept)
        if (kept.codec != "copy") {
            args.insert(args.end(), {"-map", "0:s:" + std::to_string(kept.input)});
            codec = kept.codec;  // one text format per container
        }
    if (codec.empty()) return std::string();
    const std::string path = folder + (codec == "mov_text" ? "/subtitles.mp4" : "/subtitles.mkv");
    args.insert(args.end(), {"-c:s", codec, AsFile(path)});
    ChildMessages messages;
    if (StartQuietly(args, ChildProcess::Pipe::ToInput, messages)->Finish() == 0) return path;
    if (StopRequested()) throw RunError(kInterrupted);
    PutText(stderr, messages.Tail());
    throw RunError("ffmpeg could not convert the subtitles of " + in + " (its message is above)");
}

// The encoder's options for IN's subtitle streams that OUT's container takes: each copied from
// IN, or from the encoder's third input, `converted`, in order, and cut at `end` (the video's
// end, 0: not known) rather than shown on after the picture. A note on standard error names
// those it cannot hold.
void AddSubtitles(const SubtitlePlan& plan, const std::string& in, const std::string& ext, double end,
                  std::vector<std::string>& args) {
    int converted = 0;
    for (const SubtitlePlan::Kept& kept : plan.kept)
        args.insert(args.end(), {"-map", kept.codec == "copy" ? "1:s:" + std::to_string(kept.input)
                                                             : "2:s:" + std::to_string(converted++)});
    if (!plan.kept.empty()) args.insert(args.end(), {"-c:s", "copy"});
    if (!plan.kept.empty() && end > 0)
        args.insert(args.end(), {"-bsf:s", "setts=duration=min(DURATION\\," + Seconds(end) + "/TB-PTS)"});
    if (plan.leftOut.empty()) return;
    std::string kinds;
    for (const std::string& codec : plan.leftOut) kinds += (kinds.empty() ? "" : ", ") + codec;
    PrintText(stderr, "kvx-host: note: a .%s file cannot hold the subtitles of %s (%s); they are left out\n",
              ext.c_str(), in.c_str(), kinds.c_str());
}

}  // namespace

bool VideoEncoder::Finish(std::string& messages) {
    const bool ended = ffmpeg_->Finish() == 0;
    // ffmpeg looks into IN's video when it opens IN for the sound, and complains about the
    // frames before the first key frame: never the reason it failed.
    const std::string noise = "[" + inputCodec_ + " @ ";
    messages.clear();
    bool unfinished = false;
    for (const std::string& line : SplitLines(messages_->Tail())) {
        if (line.compare(0, noise.size(), noise) == 0 || line.find("Last message repeated") != std::string::npos)
            continue;
        messages += line + "\n";
        // A writer whose end fails (a full disk) still ends with exit 0 (ffmpeg 5.1's Matroska
        // and MPEG-TS): OUT would be short.
        unfinished |= line.compare(0, 21, "Error writing trailer") == 0 || line.compare(0, 18, "Error closing file") == 0;
    }
    return ended && !unfinished;
}

std::unique_ptr<VideoEncoder> StartEncoder(const std::string& in, const std::string& out, const FrameGeometry& g,
                                           const VideoInfo& info, long long limit, const EncodeChoice& encode,
                                           const std::string& folder) {
    const std::string ext = Extension(out);
    // The decoder drops the frames before IN's first key frame; its first frame is shown this
    // long after IN's start, where IN's audio (and plain ffmpeg's picture) has it.
    const double start = FirstFrameTime(in);
    double end = info.videoEnd;
    const double limitEnd = start + limit / FramesPerSecond(info.rate);
    if (limit >= 0 && (end < 0 || limitEnd < end)) end = limitEnd;
    const SubtitlePlan subtitles = PlanSubtitles(info.subtitleCodecs, ext);
    const std::string converted = ConvertSubtitles(subtitles, in, end, folder);
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "rawvideo",
                                     "-pix_fmt", RawPixelFormat(g),
                                     "-s", std::to_string(g.width) + "x" + std::to_string(g.height),
                                     "-framerate", info.rate, "-itsoffset", Seconds(start), "-i", "-"};
    // IN's audio and subtitles end with the video; the video is never cut to them.
    if (end > 0) args.insert(args.end(), {"-t", Seconds(end)});
    args.insert(args.end(), {"-i", AsFile(in)});
    if (!converted.empty()) args.insert(args.end(), {"-i", AsFile(converted)});
    args.insert(args.end(), {"-map", "0:v:0", "-map", "1:a?"});
    // ffmpeg before 4.4 (told apart only as older than 5.1) counts that -t, for the streams it
    // copies, from time 0 of IN's timestamps rather than from IN's start, which in a TV
    // recording lies hours in: the sound would run on to IN's end. There OUT as a whole ends
    // half a frame after `end` as well; this -t holds the picture too, whose last frame starts
    // by `end`. (It also cuts the subtitles there, which such an ffmpeg cannot shorten.)
    const bool old = FfmpegBefore51();
    if (end > 0 && old) args.insert(args.end(), {"-t", Seconds(end + 0.5 / FramesPerSecond(info.rate))});
    // MP4 and QuickTime take AAC everywhere; other containers keep the source's audio where
    // they can hold it (AddAudio).
    const bool aac = ext == "mp4" || ext == "m4v" || ext == "mov";
    // Every processed frame once, at its own time: the frames are already at the source's rate,
    // and an MP4 that starts its picture after its sound says so in its edit list rather than
    // with copies of the first frame.
    AddPassthroughTiming(args);
    args.insert(args.end(), {"-c:v", "libx264", "-crf", std::to_string(encode.crf), "-preset", encode.preset,
                             "-pix_fmt", "yuv420p", "-c:a", aac ? "aac" : "copy"});
    // Players show OUT as they showed IN: in its shape (a 16:9 broadcast's 720x576 frames have
    // samples 64:45 wide) and, for an interlaced source, as fields in its order, which they
    // deinterlace as they did the source.
    std::string filters;
    const bool top = info.fieldOrder == "tt" || info.fieldOrder == "tb";
    if (top || info.fieldOrder == "bb" || info.fieldOrder == "bt") {
        filters = top ? "setfield=tff" : "setfield=bff";
        args.insert(args.end(), {"-flags", "+ildct+ilme"});
    }
    if (!info.aspect.empty()) {
        std::string ratio = info.aspect;
        ratio[ratio.find(':')] = '/';  // ':' would end the filter's option
        filters += (filters.empty() ? "setsar=" : ",setsar=") + ratio;
    }
    if (!filters.empty()) args.insert(args.end(), {"-vf", filters});
    if (!aac) AddAudio(info.audioCodecs, ext, args);
    // Subtitles are cut at the picture's end by a filter of ffmpeg 4.4 and later; an older one
    // ends them where they end in IN.
    AddSubtitles(subtitles, in, ext, old ? 0 : end, args);
    if (old && end > 0 && !subtitles.kept.empty())
        PrintText(stderr, "kvx-host: note: this ffmpeg (before 4.4) cannot end the subtitles of %s with the "
                          "picture; one shown at its end may stay on after it (ffmpeg 4.4 or later ends it)\n",
                  in.c_str());
    args.push_back(AsFile(out));
    std::unique_ptr<ChildMessages> messages(new ChildMessages);
    std::unique_ptr<ChildProcess> ffmpeg = StartQuietly(args, ChildProcess::Pipe::ToInput, *messages);
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(ffmpeg), std::move(messages), info.codec));
}

}  // namespace kvx
