#include "detect/detect_mode.h"

#include <cstdio>
#include <cstdlib>

#include "console/console_text.h"
#include "console/progress_line.h"
#include "console/stop_signal.h"
#include "ffmpeg/video_files.h"
#include "files/files.h"
#include "files/output_file.h"
#include "frames/comparison_png.h"
#include "frames/raw_input.h"
#include "frames/sampled_recording.h"
#include "host/target_rect.h"
#include "modes/modes.h"
#include "plugin/channel_record.h"
#include "plugin/host_session.h"
#include "run/run_settings.h"

namespace kvx {

namespace {

// Frames analysed of a long raw input: about ten seconds of television, spread evenly.
constexpr long long kSampledFrames = 250;

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
        if (StopRequested()) error = kInterrupted;  // even when the input ended cleanly
        if (got == FrameSource::Result::Error || StopRequested()) return false;
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
        if (source.Planar())
            detector.AddLuma(frame.data());
        else
            detector.AddFrame(frame.data());
        sample.lastFrame = frame;
        if (length < 0 && detector.FramesSampled() >= 2 * kSampledFrames) {
            detector.KeepEveryOther();
            stride *= 2;
        }
    }
    line.Finish(index);
    if (source.Planar() && !sample.lastFrame.empty()) sample.lastFrame = FromPlanar(sample.lastFrame, g);
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
        d.notes.push_back("--take " + std::to_string(take) + " is not used: " +
                          (border.formats.empty() ? std::string("the picture's format does not change")
                                                  : "the picture has " + std::to_string(border.formats.size()) +
                                                        " formats"));
    return d;
}


namespace {

// The border found in the input: a recording through `recording` (started already), raw
// frames from a file or a pipe.
BorderSample SampleInput(const RunPlan& plan, const FrameGeometry& g, const VideoInfo& video,
                         std::unique_ptr<SampledRecording> recording) {
    const Options& o = plan.o;
    std::unique_ptr<FrameSource> source;
    if (recording) {
        recording->Begin(g, video.frames, FramesPerSecond(video.rate));
        source = std::move(recording);
    } else {
        source = OpenRawInput(o.input, g, o.frames, "give IN or --input FILE, or pipe frames in");
    }
    BorderSample sample;
    std::string error;
    if (!SampleBorders(*source, g, o.black, !o.quiet, sample, error)) throw RunError(error);
    return sample;
}

// The last sampled frame before and after the suggested settings, side by side.
void WriteComparison(const RunPlan& plan, HostSession& session, const FrameGeometry& g, const BorderSample& sample,
                     OutputFile& png) {
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
    WriteComparisonPng(png, sample.lastFrame, after, g);
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

    // ffmpeg starts on a recording while ffprobe measures it.
    std::unique_ptr<SampledRecording> recording;
    if (!o.videoIn.empty()) recording.reset(new SampledRecording(o.videoIn, o.frames));
    VideoInfo video;
    const FrameGeometry g = RunGeometry(plan, video);
    const BorderSample sample = SampleInput(plan, g, video, std::move(recording));
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
    RunOutputs outputs;
    if (!o.png.empty()) WriteComparison(plan, session, g, sample, outputs.Add(o.png, o.overwrite));
    session.Plugin().Deinit();
    outputs.Commit(o.settings.save ? o.settings.file : "", [&] {
        if (o.settings.save) SaveSettingsBack(plan, settings);
    });
    std::string more;
    if (o.settings.save) {
        detection.saved = o.settings.file + ", " +
                          (store.IsPerChannel() ? "the record of channel " + std::to_string(static_cast<long long>(key))
                                                : std::string("[COMMON] (one set for all channels)"));
        more = "saved      " + detection.saved + "\n";
    }
    Report(o, detection, more);
    return kExitFound;
}

}  // namespace kvx
