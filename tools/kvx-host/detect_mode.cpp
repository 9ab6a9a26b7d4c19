#include "detect_mode.h"

#include <cstdio>
#include <cstdlib>

#include "channel_record.h"
#include "child_messages.h"
#include "console_text.h"
#include "files.h"
#include "host/plugin_state.h"
#include "host_session.h"
#include "modes.h"
#include "output_file.h"
#include "progress_line.h"
#include "run_settings.h"
#include "video_files.h"

namespace kvx {

namespace {

// Frames analysed of a long raw input: about ten seconds of television, spread evenly.
constexpr long long kSampledFrames = 250;
// Frames a recording is thinned to, evenly in time.
constexpr long long kSampledVideoFrames = 50;

const char* const kSideNames[4] = {"left", "top", "right", "bottom"};

const char* VerdictWord(const Detection& d) {
    switch (d.border.verdict) {
    case BorderVerdict::NoContent: return "no content";
    case BorderVerdict::NoBorder: return "no border";
    case BorderVerdict::NotSure: return "not sure";
    case BorderVerdict::Found: return d.fit.ok ? "found" : "refused";
    case BorderVerdict::FormatChange: return "format change";
    }
    return "not sure";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c == '\n') out += "\\n";
        else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + JsonString(items[i]);
    return out + "]";
}

std::string SideObject(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return "{\"left\": " + std::to_string(left) + ", \"top\": " + std::to_string(top) + ", \"right\": " +
           std::to_string(right) + ", \"bottom\": " + std::to_string(bottom) + "}";
}

std::string OptionsText(const FitResult& fit) {
    std::string text;
    for (const SettingEdit& e : SuggestedEdits(fit)) {
        const SettingInfo& s = kSettingList[e.field];
        text += (text.empty() ? "" : " ") + std::string(s.option) + " " +
                (s.unit == SettingUnit::kSwitch ? (e.value ? "on" : "off") : PerMilleAsPercent(e.value));
    }
    return text;
}

// A video IN decoded by ffmpeg, `frames` frames of `rate` per second (-1: not known), at
// most `limit` (-1: all). A short one is decoded whole. Of a longer one the decoder skips
// the frames no other frame refers to (they need not be decoded to decode the rest, so
// nothing is broken), and of the others the first at least a sample's interval after the one
// handed over before: whatever the frame types, the samples are even in time. Decoder
// messages are kept back, off the report, and shown only when the decode fails.
class SampledRecording : public FrameSource {
public:
    SampledRecording(const std::string& path, const FrameGeometry& g, long long frames, double rate, long long limit)
        : path_(path) {
        std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin"};
        const bool thin = limit < 0 && frames > 2 * kSampledVideoFrames && rate > 0;
        if (thin) args.insert(args.end(), {"-skip_frame", "noref"});
        args.insert(args.end(), {"-i", AsFile(path), "-map", "0:v:0"});
        if (thin) {
            char interval[32];
            std::snprintf(interval, sizeof interval, "%.4f", (frames - 1) / rate / kSampledVideoFrames);
            args.insert(args.end(), {"-vf", std::string("select=isnan(prev_selected_t)+gte(t-prev_selected_t\\,") +
                                                interval + ")",
                                     "-fps_mode", "passthrough"});
        }
        if (limit >= 0) args.insert(args.end(), {"-frames:v", std::to_string(limit)});
        args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", g.format == HostFormat::Yuyv ? "yuyv422" : "bgr24", "-"});
        std::string error;
        if (!messages_.WhileStarting([&] { return decoder_.Start(args, ChildProcess::Pipe::FromOutput, error); }))
            throw RunError(error + " (kvx-host runs ffmpeg to read video files: install ffmpeg and put it on PATH)");
        raw_ = MakeRawSource(decoder_.Stream(), false, g, limit, -1);
    }
    Result Next(std::vector<uint8_t>& frame, std::string& error) override {
        const Result r = raw_->Next(frame, error);
        if (r == Result::End && decoder_.Finish() != 0) {
            PutText(stderr, messages_.Tail());
            error = "ffmpeg could not decode " + path_ + " (its message is above)";
            return Result::Error;
        }
        return r;
    }
    long long Length() const override { return -1; }

private:
    ChildMessages messages_;
    ChildProcess decoder_;
    std::unique_ptr<FrameSource> raw_;
    std::string path_;
};

double FramesPerSecond(const std::string& rate) {
    const size_t slash = rate.find('/');
    const double num = std::atof(rate.substr(0, slash).c_str());
    const double den = slash == std::string::npos ? 1 : std::atof(rate.substr(slash + 1).c_str());
    return den > 0 ? num / den : 0;
}

}  // namespace

bool SampleBorders(FrameSource& source, const FrameGeometry& g, int32_t black, bool progress,
                   BorderSample& sample, std::string& error) {
    BorderDetector detector(g, black);
    const long long length = source.Length();
    ProgressLine line(progress, length);
    std::vector<uint8_t> frame(g.FrameBytes());
    // Known length: frame k * length / kSampledFrames for every k. Unknown length: every
    // stride-th frame, the stride doubling (and every other frame forgotten) whenever twice
    // the wanted number have been kept, so the frames kept stay evenly spread.
    long long index = 0, nextSampled = 0, stride = 1, k = 0;
    for (;; ++index) {
        const FrameSource::Result got = source.Next(frame, error);
        if (got == FrameSource::Result::Error) return false;
        if (got == FrameSource::Result::End) break;
        line.Update(index + 1);
        bool analyse;
        if (length > kSampledFrames) {
            analyse = index == nextSampled;
            if (analyse) nextSampled = ++k * length / kSampledFrames;
        } else {
            analyse = length >= 0 || index % stride == 0;
        }
        if (!analyse) continue;
        detector.AddFrame(frame.data());
        sample.lastFrame = frame;
        if (length < 0 && detector.FramesSampled() >= 2 * kSampledFrames) {
            detector.KeepEveryOther();
            stride *= 2;
        }
    }
    line.Finish(index);
    if (index == 0) {
        error = "the input holds no whole frame: are --size " + std::to_string(g.width) + "x" +
                std::to_string(g.height) + " and --format right?";
        return false;
    }
    sample.border = detector.Decide();
    return true;
}

std::vector<SettingEdit> SuggestedEdits(const FitResult& fit) {
    return {{kScaleX, fit.scaleX},   {kScaleY, fit.scaleY},
            {kOffsetX, fit.offsetX}, {kOffsetY, fit.offsetY},
            {kKeepAspect, fit.keepAspect ? 1 : 0}};
}

int Detection::ExitCode() const {
    switch (border.verdict) {
    case BorderVerdict::NoBorder: return kExitNoBorder;
    case BorderVerdict::NoContent: return kExitNotSure;
    case BorderVerdict::NotSure: return kExitNotSure;
    case BorderVerdict::Found: return fit.ok ? kExitFound : kExitNotSure;
    case BorderVerdict::FormatChange: return kExitNotSure;
    }
    return kExitNotSure;
}

Detection Detect(const FrameGeometry& g, int32_t black, const BorderResult& border, const FitRequest& request,
                 int32_t take) {
    Detection d;
    d.geometry = g;
    d.black = black;
    d.border = border;
    d.request = request;
    if (border.verdict == BorderVerdict::FormatChange) {
        for (const FormatPart& part : border.formats)
            d.formatFits.push_back(part.border.verdict == BorderVerdict::Found
                                       ? FitSettings(g.width, g.height, part.border.picture, request)
                                       : FitResult());
        if (take > 0 && take <= static_cast<int32_t>(border.formats.size())) {
            d.taken = take;
            d.border = border.formats[take - 1].border;
            d.border.framesSampled = border.framesSampled;
            d.border.barLevel = border.barLevel;
        }
    }
    if (d.border.verdict == BorderVerdict::Found)
        d.fit = FitSettings(g.width, g.height, d.border.picture, request);
    d.notes = DetectionNotes(d);
    if (take > 0 && !d.taken)
        d.notes.push_back("--take " + std::to_string(take) + " is not used: the picture's format does not change");
    return d;
}

std::vector<std::string> DetectionNotes(const Detection& d) {
    std::vector<std::string> notes;
    if (d.border.barLevel >= 0 && d.border.barLevel + 8 >= d.black)
        notes.push_back("the bars (Y " + std::to_string(d.border.barLevel) + ") are close to --black " +
                        std::to_string(d.black) + "; if they are not found whole, try --black " +
                        std::to_string(d.border.barLevel + 12));
    if (!d.fit.ok) return notes;
    for (const SettingEdit& e : SuggestedEdits(d.fit)) {
        const SettingInfo& s = kSettingList[e.field];
        if (s.unit != SettingUnit::kPerMille || (e.value >= s.dialogLow && e.value <= s.dialogHigh)) continue;
        notes.push_back(std::string(s.key) + " " + PerMilleAsPercent(e.value) + " % is beyond the dialog's " +
                        PerMilleAsPercent(s.dialogLow) + " to " + PerMilleAsPercent(s.dialogHigh) +
                        " %: it shows the value, but the first click on its arrows jumps to the range end");
    }
    return notes;
}

namespace {

std::string RectText(const Rect& p, const FrameGeometry& g) {
    return "left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " + std::to_string(p.right) +
           ", bottom " + std::to_string(p.bottom) + " (" + std::to_string(p.right - p.left) + "x" +
           std::to_string(p.bottom - p.top) + " of " + std::to_string(g.width) + "x" + std::to_string(g.height) + ")";
}

// "frames 21 to 50 of 50 (60 %)": part `i` of a format change.
std::string PartText(const BorderResult& whole, size_t i) {
    const long long n = whole.framesWithContent, first = whole.formats[i].firstFrame;
    const long long count = whole.formats[i].border.framesWithContent;
    return "frames " + std::to_string(first + 1) + " to " + std::to_string(first + count) + " of " + std::to_string(n) +
           " (" + std::to_string((count * 100 + n / 2) / n) + " %)";
}

std::string SettingsText(const Detection& d) {
    const FitResult& fit = d.fit;
    if (!fit.ok) return "no suggestion: " + fit.refusal + "; settings unchanged\n";
    const char* mode = d.request.mode == FitMode::Aspect ? "aspect" : "fill";
    std::string text = std::string("settings   ScaleX ") + PerMilleAsPercent(fit.scaleX) + " %, ScaleY " + PerMilleAsPercent(fit.scaleY) +
                       " %, OffsetX " + PerMilleAsPercent(fit.offsetX) + " %, OffsetY " + PerMilleAsPercent(fit.offsetY) +
                       " %, KeepAspect " + (fit.keepAspect ? "on" : "off") + " (--fit " + mode +
                       (d.request.trim ? ", --trim " + PerMilleAsPercent(d.request.trim) : std::string()) +
                       (d.request.interlaced ? ", field by field" : "") + ")\n";
    text += "cut        left " + std::to_string(fit.cut.left) + ", top " + std::to_string(fit.cut.top) +
            ", right " + std::to_string(fit.cut.right) + ", bottom " + std::to_string(fit.cut.bottom) +
            " lines of the frame\n";
    return text + "options    " + OptionsText(fit) + "\n";
}

std::string FormatChangeText(const Detection& d) {
    const BorderResult& b = d.border;
    std::string text;
    for (size_t i = 0; i < b.formats.size(); ++i) {
        const BorderResult& part = b.formats[i].border;
        text += "format " + std::to_string(i + 1) + "   " + PartText(b, i) + ": ";
        if (part.verdict == BorderVerdict::NoBorder) text += "no border\n";
        else if (!d.formatFits[i].ok) text += "picture " + RectText(part.picture, d.geometry) + "; no suggestion: " +
                                              d.formatFits[i].refusal + "\n";
        else text += "picture " + RectText(part.picture, d.geometry) + "; options " + OptionsText(d.formatFits[i]) + "\n";
    }
    return text + "not sure: " + b.reasons.front() + "; give --take 1 or --take 2 for the settings of one format; "
                  "settings unchanged\n";
}

}  // namespace

std::string DescribeDetection(const Detection& d) {
    const FrameGeometry& g = d.geometry;
    const BorderResult& border = d.border;
    const std::string frames = std::to_string(border.framesSampled) + " sampled frames, " +
                               std::to_string(border.framesWithContent) + " with picture content";
    if (border.verdict == BorderVerdict::NoContent)
        return "not sure: none of the " + std::to_string(border.framesSampled) +
               " sampled frames has a row and a column with most of it at or above --black " + std::to_string(d.black) +
               " (black, or dark all over: a night scene, credits); settings unchanged\n";
    std::string text = "frames     " + frames + "\n";
    if (d.taken) text += "format     " + std::to_string(d.taken) + " of 2 (--take " + std::to_string(d.taken) + ")\n";
    if (border.verdict == BorderVerdict::FormatChange) return text + FormatChangeText(d);
    if (border.verdict == BorderVerdict::NoBorder) {
        text += "no border found; settings unchanged\n";
    } else {
        const Rect& p = border.picture;
        text += std::string(border.verdict == BorderVerdict::NotSure ? "band       " : "picture    ") + RectText(p, g) + "\n";
        text += "borders    left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " +
                std::to_string(g.width - p.right) + ", bottom " + std::to_string(g.height - p.bottom) + "\n";
        if (border.verdict == BorderVerdict::Found) {
            text += "evidence  ";
            for (int i = 0; i < 4; ++i)
                if (border.evidence[i])
                    text += std::string(" ") + kSideNames[i] + " edge sharp in " + std::to_string(border.evidence[i]) +
                            " frames,";
            text.back() = '\n';
        }
        if (border.barLevel >= 0)
            text += "bars       Y " + std::to_string(border.barLevel) + " (--black " + std::to_string(d.black) + ")\n";
    }
    for (const std::string& note : d.notes) text += "note       " + note + "\n";
    if (border.verdict == BorderVerdict::NoBorder) return text;
    if (border.verdict == BorderVerdict::NotSure) {
        text += "not sure: ";
        for (size_t i = 0; i < border.reasons.size(); ++i) text += (i ? "; " : "") + border.reasons[i];
        return text + "; settings unchanged\n";
    }
    return text + SettingsText(d);
}

std::string DetectionJson(const Detection& d) {
    const BorderResult& b = d.border;
    const FrameGeometry& g = d.geometry;
    const bool picture = b.verdict != BorderVerdict::NoContent;
    std::vector<std::string> reasons = b.reasons;
    if (b.verdict == BorderVerdict::Found && !d.fit.ok) reasons.push_back(d.fit.refusal);
    std::string j = "{\n";
    j += "  \"verdict\": " + JsonString(VerdictWord(d)) + ",\n";
    j += "  \"exit_code\": " + std::to_string(d.ExitCode()) + ",\n";
    j += "  \"frame\": {\"width\": " + std::to_string(g.width) + ", \"height\": " + std::to_string(g.height) + "},\n";
    j += "  \"frames\": {\"sampled\": " + std::to_string(b.framesSampled) +
         ", \"with_content\": " + std::to_string(b.framesWithContent) + "},\n";
    const Rect& p = b.picture;
    j += "  \"picture\": " + (picture ? SideObject(p.left, p.top, p.right, p.bottom) : "null") + ",\n";
    j += "  \"borders\": " +
         (picture ? SideObject(p.left, p.top, g.width - p.right, g.height - p.bottom) : "null") + ",\n";
    j += "  \"confidence\": {\"sure\": " + std::string(b.verdict == BorderVerdict::NotSure ? "false" : "true") +
         ", \"edge_frames\": " + SideObject(static_cast<int32_t>(b.evidence[0]), static_cast<int32_t>(b.evidence[1]),
                                            static_cast<int32_t>(b.evidence[2]), static_cast<int32_t>(b.evidence[3])) +
         ", \"reasons\": " + JsonList(reasons) + "},\n";
    j += "  \"bar_level\": " + (b.barLevel >= 0 ? std::to_string(b.barLevel) : std::string("null")) +
         ", \"black\": " + std::to_string(d.black) + ",\n";
    if (d.fit.ok) {
        const FitResult& f = d.fit;
        j += "  \"settings\": {\"ScaleX\": " + PerMilleAsPercent(f.scaleX) + ", \"ScaleY\": " + PerMilleAsPercent(f.scaleY) +
             ", \"OffsetX\": " + PerMilleAsPercent(f.offsetX) + ", \"OffsetY\": " + PerMilleAsPercent(f.offsetY) +
             ", \"KeepAspect\": " + (f.keepAspect ? "true" : "false") + "},\n";
        j += "  \"cut\": " + SideObject(f.cut.left, f.cut.top, f.cut.right, f.cut.bottom) + ",\n";
        j += "  \"options\": " + JsonString(OptionsText(f)) + ",\n";
    } else {
        j += "  \"settings\": null,\n  \"cut\": null,\n  \"options\": null,\n";
    }
    j += "  \"formats\": [";
    for (size_t i = 0; i < b.formats.size(); ++i) {
        const BorderResult& part = b.formats[i].border;
        const Rect& q = part.picture;
        j += std::string(i ? ", " : "") + "{\"first_frame\": " + std::to_string(b.formats[i].firstFrame) +
             ", \"frames\": " + std::to_string(part.framesWithContent) + ", \"verdict\": " +
             JsonString(part.verdict == BorderVerdict::NoBorder ? "no border" : "found") + ", \"picture\": " +
             SideObject(q.left, q.top, q.right, q.bottom) + ", \"options\": " +
             (d.formatFits[i].ok ? JsonString(OptionsText(d.formatFits[i])) : std::string("null")) + "}";
    }
    j += "], \"taken\": " + (d.taken ? std::to_string(d.taken) : std::string("null")) + ",\n";
    j += "  \"notes\": " + JsonList(d.notes) + ",\n";
    j += "  \"saved\": " + (d.saved.empty() ? std::string("null") : JsonString(d.saved)) + "\n}\n";
    return j;
}

namespace {

// The border found in the input: a recording through SampledRecording, raw frames from a
// file or a pipe.
BorderSample SampleInput(const RunPlan& plan, const FrameGeometry& g, const VideoInfo& video) {
    const Options& o = plan.o;
    std::unique_ptr<FrameSource> source;
    if (!o.videoIn.empty()) {
        source.reset(new SampledRecording(o.videoIn, g, video.frames, FramesPerSecond(video.rate), o.frames));
    } else {
        FILE* in = o.input == "-" ? stdin : OpenFile(o.input, "rb");
        if (!in) throw RunError("cannot open input " + o.input + ": " + SystemErrorText());
        if (in == stdin && IsTerminal(stdin))
            throw UsageError("will not read raw frames from a terminal: give IN or --input FILE, or pipe frames in");
        source = MakeRawSource(in, in != stdin, g, o.frames);
    }
    BorderSample sample;
    std::string error;
    if (!SampleBorders(*source, g, o.black, !o.quiet, sample, error)) throw RunError(error);
    return sample;
}

// The last sampled frame before and after the suggested settings, side by side.
void WriteComparison(const RunPlan& plan, HostSession& session, const FrameGeometry& g, const BorderSample& sample) {
    PluginDescriptor& d = session.Plugin();
    std::vector<uint8_t> after = sample.lastFrame;
    VideoFormat format{g.width, g.height, g.BytesPerPixel(), static_cast<int32_t>(g.format), 0};
    d.FormatChange(&format);
    const ChannelSwitch& c = plan.o.channels.front();
    ChannelRecord channel(static_cast<uint32_t>(c.key), static_cast<uint32_t>(c.key >> 32), c.name);
    FrameInfo info{};
    info.pixels = after.data();
    info.channel = channel.info();
    d.ProcessFrame(&info);
    d.Free();
    WriteComparisonPng(plan.o.png, plan.o.overwrite, sample.lastFrame, after, g);
}

void Report(const Options& o, const Detection& detection, const std::string& more) {
    PutText(stdout, o.json ? DetectionJson(detection) : DescribeDetection(detection) + more);
    std::fflush(stdout);
}

}  // namespace

// Samples the input, prints the picture found and the settings that fill the frame with it;
// with a suggestion, --compare processes the last sampled frame with them and --save writes
// them back through the plug-in's own save. Only a suggestion exits 0.
int RunDetect(const RunPlan& plan, const std::string& folder) {
    const Options& o = plan.o;
    HostSession session(o.plugin, o.forgetChannels);
    const RunSettings settings = PrepareSettings(plan, folder, session);
    const uint64_t key = plan.SettingsKey();
    SettingsStore store;
    store.LoadFile(settings.pluginPath, 0, nullptr);
    if (store.IsPerChannel()) store.SelectChannel(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32));
    const ChannelProfile current = store.Current();

    VideoInfo video;
    const FrameGeometry g = RunGeometry(plan, video);
    const BorderSample sample = SampleInput(plan, g, video);
    FitRequest request;
    request.mode = o.fit;
    request.trim = o.trim;
    request.interlaced = current.interlace && g.height >= kInterlaceMinHeight;
    Detection detection = Detect(g, o.black, sample.border, request, o.take);
    if (!detection.fit.ok) {
        std::string more;
        if (o.settings.save) more += "nothing saved: " + o.settings.file + " is left as it was\n";
        if (!o.png.empty()) more += "no picture written to " + o.png + ": there is no suggestion\n";
        Report(o, detection, more);
        return detection.ExitCode();
    }
    SettingRequest suggestion;
    suggestion.edits = SuggestedEdits(detection.fit);
    StoreSettings(settings.pluginPath, suggestion, key);
    session.Init();
    if (!o.png.empty()) WriteComparison(plan, session, g, sample);
    session.Plugin().Deinit();
    std::string more;
    if (o.settings.save) {
        SaveSettingsBack(plan, settings);
        detection.saved = o.settings.file + ", " +
                          (store.IsPerChannel() ? "the record of channel " + std::to_string(static_cast<long long>(key))
                                                : std::string("[COMMON] (one set for all channels)"));
        more = "saved      " + detection.saved + "\n";
    }
    Report(o, detection, more);
    return kExitFound;
}

}  // namespace kvx
