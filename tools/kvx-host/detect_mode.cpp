#include "detect_mode.h"

#include <cstdio>

#include "channel_record.h"
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

// Frames analysed of a long input: about ten seconds of television, spread evenly.
constexpr long long kSampledFrames = 250;

std::string Tenths(int32_t thousandths) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", thousandths / 10.0);
    return text;
}

}  // namespace

bool SampleBorders(FrameSource& source, const FrameGeometry& g, bool progress, BorderSample& sample,
                   std::string& error) {
    BorderDetector detector(g);
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
    return {{SettingEdit::ScaleX, fit.scaleX},   {SettingEdit::ScaleY, fit.scaleY},
            {SettingEdit::OffsetX, fit.offsetX}, {SettingEdit::OffsetY, fit.offsetY},
            {SettingEdit::KeepAspect, fit.keepAspect ? 1 : 0}};
}

std::string DescribeDetection(const FrameGeometry& g, const BorderResult& border, const FitRequest& request,
                              const FitResult& fit) {
    const std::string frames = std::to_string(border.framesSampled) + " sampled frames, " +
                               std::to_string(border.framesWithContent) + " with picture content";
    if (border.verdict == BorderVerdict::NoContent)
        return "no border found: no picture content in the " + std::to_string(border.framesSampled) +
               " sampled frames (all black); settings unchanged\n";
    if (border.verdict == BorderVerdict::NoBorder)
        return "no border found (" + frames + "); settings unchanged\n";
    const Rect& p = border.picture;
    std::string text = "frames     " + frames + "\n";
    text += "picture    left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " +
            std::to_string(p.right) + ", bottom " + std::to_string(p.bottom) + " (" +
            std::to_string(p.right - p.left) + "x" + std::to_string(p.bottom - p.top) + " of " +
            std::to_string(g.width) + "x" + std::to_string(g.height) + ")\n";
    text += "borders    left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " +
            std::to_string(g.width - p.right) + ", bottom " + std::to_string(g.height - p.bottom) + "\n";
    if (!fit.ok) return text + "no suggestion: " + fit.refusal + "; settings unchanged\n";
    const char* mode = request.mode == FitMode::Aspect ? "aspect" : "fill";
    text += std::string("settings   ScaleX ") + Tenths(fit.scaleX) + " %, ScaleY " + Tenths(fit.scaleY) +
            " %, OffsetX " + Tenths(fit.offsetX) + " %, OffsetY " + Tenths(fit.offsetY) +
            " %, KeepAspect " + (fit.keepAspect ? "on" : "off") + " (--fit " + mode +
            (request.trim ? ", --trim " + Tenths(request.trim) : std::string()) +
            (request.interlaced ? ", field by field" : "") + ")\n";
    text += "cut        left " + std::to_string(fit.cut.left) + ", top " + std::to_string(fit.cut.top) +
            ", right " + std::to_string(fit.cut.right) + ", bottom " + std::to_string(fit.cut.bottom) +
            " lines of the frame\n";
    text += "options    --scale-x " + Tenths(fit.scaleX) + " --scale-y " + Tenths(fit.scaleY) +
            " --offset-x " + Tenths(fit.offsetX) + " --offset-y " + Tenths(fit.offsetY) +
            " --keep-aspect " + (fit.keepAspect ? "on" : "off") + "\n";
    return text;
}

namespace {

// Samples the input. A recording read without its B-frames may give too few frames to
// judge by (a short clip, a long distance between reference frames): then every frame is read.
BorderSample SampleInput(const RunPlan& plan, const FrameGeometry& g, const VideoInfo& video) {
    const Options& o = plan.o;
    std::unique_ptr<FrameSource> source;
    if (!o.videoIn.empty()) {
        // Detection needs a spread of frames, not every one: without --frames it reads only
        // the frames the decoder gets without decoding B-frames.
        source = MakeDecodedSource(o.videoIn, g, video, o.frames,
                                   o.frames < 0 ? DecodedFrames::WithoutBidirectional : DecodedFrames::All);
    } else {
        FILE* in = o.input == "-" ? stdin : OpenFile(o.input, "rb");
        if (!in) throw RunError("cannot open input " + o.input + ": " + SystemErrorText());
        if (in == stdin && IsTerminal(stdin))
            throw UsageError("will not read raw frames from a terminal: give IN or --input FILE, or pipe frames in");
        source = MakeRawSource(in, in != stdin, g, o.frames);
    }
    BorderSample sample;
    std::string error;
    if (!SampleBorders(*source, g, !o.quiet, sample, error)) throw RunError(error);
    source.reset();
    constexpr long long kFewestFrames = 25;
    if (!o.videoIn.empty() && o.frames < 0 && sample.border.framesSampled < kFewestFrames &&
        (video.frames < 0 || video.frames > sample.border.framesSampled)) {
        source = MakeDecodedSource(o.videoIn, g, video, o.frames, DecodedFrames::All);
        sample = BorderSample();
        if (!SampleBorders(*source, g, !o.quiet, sample, error)) throw RunError(error);
    }
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

}  // namespace

// Samples the input, prints the picture found and the settings that fill the frame with it;
// with a suggestion, --compare processes the last sampled frame with them and --save writes
// them back through the plug-in's own save.
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
    FitResult fit;
    if (sample.border.verdict == BorderVerdict::Found) fit = FitSettings(g.width, g.height, sample.border.picture, request);
    PutText(stdout, DescribeDetection(g, sample.border, request, fit));
    std::fflush(stdout);
    if (!fit.ok) {
        if (o.settings.save) PrintText(stdout, "nothing saved: %s is left as it was\n", o.settings.file.c_str());
        if (!o.png.empty()) PrintText(stdout, "no picture written to %s: there is no suggestion\n", o.png.c_str());
        return 0;
    }
    if (fit.scaleX > 1300 || fit.scaleY > 1300)
        PrintText(stderr, "kvx-host: warning: a scale over 130 %% is beyond the settings dialog's range; "
                          "the plug-in takes it as it would from a hand-edited file\n");
    SettingRequest suggestion;
    suggestion.edits = SuggestedEdits(fit);
    StoreSettings(settings.pluginPath, suggestion, key);
    session.Init();
    if (!o.png.empty()) WriteComparison(plan, session, g, sample);
    session.Plugin().Deinit();
    if (o.settings.save) {
        SaveSettingsBack(plan, settings);
        PrintText(stdout, "saved      %s, %s\n", o.settings.file.c_str(),
                  store.IsPerChannel() ? ("the record of channel " + std::to_string(static_cast<long long>(key))).c_str()
                                       : "[COMMON] (one set for all channels)");
    }
    return 0;
}

}  // namespace kvx
