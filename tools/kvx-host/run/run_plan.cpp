#include "run/run_plan.h"

#include "ffmpeg/video_files.h"
#include "files/files.h"

namespace kvx {
namespace {

bool IsFileName(const std::string& name) { return !name.empty() && name != "-" && name != "none"; }

void PlanDetect(RunPlan& p) {
    Options& o = p.o;
    if (o.pattern) throw UsageError("--detect needs a recording (IN, --input FILE or a pipe), not --pattern");
    if (!o.output.empty()) throw UsageError("--detect writes no frames: leave out --output");
    if (o.files.size() > 1) throw UsageError("--detect reads one recording: give IN alone, without OUT");
    if (o.frames == 0) throw UsageError("--frames 0 leaves --detect no frame to look at: leave it out or give more");
    if (o.files.size() == 1) {
        if (!o.input.empty()) throw UsageError("IN takes the place of --input: give one or the other");
        (IsRawFileName(o.files[0]) || o.files[0] == "-" ? o.input : o.videoIn) = o.files[0];
        o.files.clear();
    }
    if (o.videoIn.empty() && o.input.empty()) o.input = "-";
    o.output = "none";
}

void PlanInOut(Options& o) {
    if (o.files.size() != 2)
        throw UsageError(o.files.size() < 2
                             ? "give both IN and OUT (OUT may be 'none'), e.g. kvx-host --plugin P in.ts out.mp4"
                             : "one IN and one OUT only: '" + o.files[2] + "' is a third file name");
    if (o.pattern || !o.input.empty() || !o.output.empty())
        throw UsageError("IN OUT take the place of --pattern, --input and --output: give one or the other");
    const std::string &in = o.files[0], &out = o.files[1];
    (IsRawFileName(in) || in == "-" ? o.input : o.videoIn) = in;
    (IsRawFileName(out) || out == "-" || out == "none" ? o.output : o.videoOut) = out;
    if (!o.videoOut.empty() && o.videoIn.empty())
        throw UsageError("a video OUT takes its frame rate and audio from a video IN; for raw frames in, "
                         "pipe them into ffmpeg yourself (see --help)");
    if (!o.videoIn.empty() && o.frames == 0)
        throw UsageError("--frames 0 leaves no frame of IN to process: leave it out or give more");
    if (!o.videoOut.empty()) {
        o.output = "none";  // no raw output beside the encoder
        std::string why;
        if (!IsWritableContainer(o.videoOut, why)) throw UsageError(why);
    }
}

void ListFiles(RunPlan& p) {
    const Options& o = p.o;
    p.reads = {{"--plugin", o.plugin}, {"--settings", o.settings.file}, {"IN", o.videoIn}, {"--input", o.input}};
    p.writes = {{"OUT", o.videoOut}, {"--output", o.output}, {"the PNG", o.png}, {"--fit-log", o.fitLog}};
    for (auto* list : {&p.reads, &p.writes})
        for (size_t i = list->size(); i-- > 0;)
            if (!IsFileName((*list)[i].second)) list->erase(list->begin() + static_cast<long>(i));
    if (o.settings.save) p.writes.push_back({"--settings", o.settings.file});
}

}  // namespace

void CheckGeometry(const FrameGeometry& g) {
    if (g.format == HostFormat::Yuyv && g.width % 2 != 0)
        throw UsageError("width " + std::to_string(g.width) +
                         " is odd: YUY2 frames hold pixels in pairs (ffmpeg pads such rows, so "
                         "they would be misread); use --format bgr24, or crop or scale to an even "
                         "width first, e.g. ffmpeg -vf crop=" + std::to_string(g.width - 1) + ":" +
                         std::to_string(g.height) + ":0:0");
    // 64-bit arithmetic in every build: 65536 x 32769 must not wrap into a small size.
    const uint64_t bytes = static_cast<uint64_t>(g.width < 0 ? 0 : g.width) * static_cast<uint64_t>(g.height < 0 ? 0 : g.height) *
                           static_cast<uint64_t>(g.BytesPerPixel());
    if (g.width <= 0 || g.height <= 0 || bytes > kMaxFrameBytes)
        throw UsageError("frames of " + std::to_string(g.width) + "x" + std::to_string(g.height) + " would take " +
                         std::to_string(bytes >> 20) + " MiB each; kvx-host takes frames of at most " +
                         std::to_string(kMaxFrameBytes >> 20) + " MiB, each side 1 to 32767");
}

RunPlan MakeRunPlan(const Options& parsed) {
    RunPlan p;
    p.o = parsed;
    Options& o = p.o;
    p.channelGiven = !o.channels.empty();
    if (o.channels.empty()) o.channels.push_back({0, 1, "Channel 1"});
    if (o.plugin.empty()) throw UsageError("--plugin FILE is required (see --help)");
    if (o.settings.save && o.settings.file.empty())
        throw UsageError("--save writes back to the --settings FILE: give --settings FILE too");
    if (o.pattern && !o.input.empty()) throw UsageError("--pattern and --input exclude each other");
    if (o.fitGiven && !o.detect) throw UsageError("--fit, --trim, --black, --take and --json go with --detect");
    if (!o.fitLog.empty() && (o.fitLog == "-" || o.fitLog == "none"))
        throw UsageError("--fit-log needs a file name (the frames may go to standard output)");
    if (o.detect) PlanDetect(p);
    if (!o.files.empty()) PlanInOut(o);
    if (o.encode.given && o.videoOut.empty())
        throw UsageError("--crf and --preset set how a video OUT is encoded: give IN and a video OUT");
    // --show-settings and --save without anything about frames (not even --size for frames on
    // standard input) work on the settings only.
    const bool framesWanted = o.pattern || !o.input.empty() || !o.output.empty() || !o.png.empty() || o.stats ||
                              !o.fitLog.empty() ||
                              !o.videoIn.empty() || o.haveSize || !(o.showSettings || o.settings.save);
    p.mode = o.detect ? RunMode::Detect : framesWanted ? RunMode::Frames : RunMode::SettingsOnly;
    if (!o.fitLog.empty() && p.mode != RunMode::Frames)
        throw UsageError("--fit-log logs the live fit of frames run through the plug-in; --detect runs none");
    // A settings file and setting options alone, without --save, would run frames from a
    // terminal; what was missing is most likely --save.
    const bool framesNamed = o.pattern || !o.input.empty() || !o.output.empty() || !o.png.empty() || o.stats ||
                             !o.files.empty() || o.haveSize || o.detect || !o.fitLog.empty();
    if (!framesNamed && !o.settings.file.empty() && !o.showSettings && !o.settings.save)
        throw UsageError("--settings FILE without --save changes nothing in FILE: add --save to store the "
                         "settings there, --show-settings to see them, or give frames to try them on (IN OUT, "
                         "or --size WxH with --pattern or raw frames)");
    if (framesWanted && !o.videoIn.empty()) {
        if (o.haveSize) throw UsageError("--size is read from the video IN; leave it out");
        if (o.output.empty()) o.output = "none";
    } else if (framesWanted) {
        if (!o.haveSize) throw UsageError("--size WxH is required for raw frames and the pattern (see --help)");
        CheckGeometry(o.geometry);
        if (o.pattern && o.frames < 0) o.frames = 1;
        if (o.output.empty()) o.output = "-";
        if (o.input.empty() && !o.pattern) o.input = "-";
    }
    ListFiles(p);
    return p;
}

}  // namespace kvx
