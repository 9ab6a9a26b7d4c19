#include <chrono>
#include <memory>
#include <vector>

#include "console/console_text.h"
#include "console/progress_line.h"
#include "console/stop_signal.h"
#include "ffmpeg/encoder.h"
#include "ffmpeg/video_files.h"
#include "files/files.h"
#include "files/output_file.h"
#include "frames/comparison_png.h"
#include "frames/decoded_video.h"
#include "frames/frame_source.h"
#include "frames/raw_input.h"
#include "modes/modes.h"
#include "plugin/channel_record.h"
#include "plugin/fit_log.h"
#include "plugin/host_session.h"
#include "run/run_settings.h"

namespace kvx {
namespace {

// Where the processed frames go: nowhere, standard output, a raw file or the encoder.
struct FrameSink {
    OutputFile* file = nullptr;  // OUT or --output FILE, put in place with the run's other outputs
    std::unique_ptr<VideoEncoder> encoder;
    bool encoderStopped = false;  // it took no more frames: it failed, and says why itself
    FILE* stream = nullptr;
    std::string name;
};

FrameSink OpenSink(const RunPlan& plan, const FrameGeometry& g, const VideoInfo& video, const std::string& folder,
                   RunOutputs& outputs) {
    const Options& o = plan.o;
    FrameSink sink;
    if (!o.videoOut.empty()) {
        sink.file = &outputs.Add(o.videoOut, o.overwrite);
        sink.encoder = StartEncoder(o.videoIn, sink.file->TempName(), g, video, o.frames, o.encode, folder);
        sink.stream = sink.encoder->Stream();
        sink.name = o.videoOut;
    } else if (o.output == "-") {
        if (IsTerminal(stdout))
            throw UsageError("will not write raw frames to a terminal: give --output FILE, --output none, "
                             "or pipe them on (... | ffmpeg -f rawvideo ...)");
        sink.stream = stdout;
        sink.name = "standard output";
    } else if (o.output != "none") {
        sink.file = &outputs.Add(o.output, o.overwrite);
        sink.stream = sink.file->Stream();
        sink.name = o.output;
    }
    return sink;
}

// Ends the output: the encoder finishes, or standard output is flushed (a file is finished
// with the run's other outputs).
int CloseSink(FrameSink& sink, int status) {
    std::string messages;
    if (sink.encoder && status != 0 && !sink.encoderStopped) {
        sink.encoder->Kill();
    } else if (sink.encoder) {
        if (!sink.encoder->Finish(messages) || sink.encoderStopped) {
            if (StopRequested()) {  // the encoder ended with the same Ctrl+C: no failure of its own
                PrintText(stderr, "kvx-host: %s\n", kInterrupted);
            } else {
                PutText(stderr, messages);
                PrintText(stderr, "kvx-host: ffmpeg could not encode %s%s\n", sink.name.c_str(),
                          messages.empty() ? "" : " (its message is above)");
            }
            status = 1;
        }
    } else if (sink.stream == stdout) {
        if (std::fflush(stdout) != 0 && status == 0) {
            PrintText(stderr, "kvx-host: cannot write to standard output: %s\n", SystemErrorText().c_str());
            status = 1;
        }
    }
    return status;
}

std::unique_ptr<FrameSource> OpenSource(const RunPlan& plan, const FrameGeometry& g, const VideoInfo& video) {
    const Options& o = plan.o;
    if (o.pattern) return MakePatternSource(g, o.frames);
    if (!o.videoIn.empty()) return MakeDecodedSource(o.videoIn, g, video, o.frames);
    return OpenRawInput(o.input, g, o.frames,
                        "give --input FILE, pipe frames in (ffmpeg -i IN -f rawvideo -pix_fmt yuyv422 - | "
                        "kvx-host ...), or use --pattern");
}

// The channel the host shows at frame `index`.
void SwitchChannel(const RunPlan& plan, long long index, ChannelRecord& channel) {
    for (const ChannelSwitch& c : plan.o.channels)
        if (c.fromFrame == index) channel.Set(static_cast<uint32_t>(c.key), static_cast<uint32_t>(c.key >> 32), c.name);
    if (channel.Empty()) {
        const ChannelSwitch& c = plan.o.channels.front();
        channel.Set(static_cast<uint32_t>(c.key), static_cast<uint32_t>(c.key >> 32), c.name);
    }
}

struct FrameLoop {
    long long frames = 0;
    double processSeconds = 0;
    std::vector<uint8_t> before, frame;  // the last frame before and after the plug-in
};

// Every frame of the source through the plug-in and on to the sink; the exit status.
int ProcessAll(const RunPlan& plan, const FrameGeometry& g, PluginDescriptor& d, FrameSource& source,
               FrameSink& sink, FrameLoop& loop, FitLog* fitLog) {
    const Options& o = plan.o;
    loop.frame.assign(g.FrameBytes(), 0);
    ChannelRecord channel;
    FrameInfo info{};
    std::string error;
    // In a pipeline the terminal shows ffmpeg's own progress line: ours would garble it.
    const bool pipeline = (o.videoIn.empty() && !o.pattern && o.input == "-") || sink.stream == stdout;
    ProgressLine progress(!o.quiet && !pipeline, source.Length());
    int status = 0;
    for (;; ++loop.frames) {
        const FrameSource::Result got = source.Next(loop.frame, error);
        if (StopRequested()) error = kInterrupted;
        if (got == FrameSource::Result::End && error.empty()) break;
        if (got != FrameSource::Result::Frame || StopRequested()) {
            PrintText(stderr, "kvx-host: %s\n", error.c_str());
            status = 1;
            break;
        }
        SwitchChannel(plan, loop.frames, channel);
        if (!o.png.empty()) loop.before = loop.frame;
        info.pixels = loop.frame.data();
        info.channel = channel.info();
        const auto started = std::chrono::steady_clock::now();
        d.ProcessFrame(&info);
        loop.processSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (fitLog) fitLog->AfterFrame(loop.frames, uint64_t{channel.info()->keyHigh} << 32 | channel.info()->keyLow);
        progress.Update(loop.frames + 1);
        if (!sink.stream) continue;
        if (g.format == HostFormat::Bgr24) FlipRows(loop.frame, g);
        if (std::fwrite(loop.frame.data(), 1, loop.frame.size(), sink.stream) != loop.frame.size()) {
            sink.encoderStopped = sink.encoder != nullptr;
            if (!sink.encoderStopped)
                PrintText(stderr, "kvx-host: cannot write output %s: %s\n", sink.name.c_str(), SystemErrorText().c_str());
            status = 1;
            break;
        }
        if (g.format == HostFormat::Bgr24) FlipRows(loop.frame, g);
    }
    progress.Finish(loop.frames);
    return status;
}

void WritePng(const RunPlan& plan, const FrameGeometry& g, const FrameLoop& loop, RunOutputs& outputs) {
    const std::string& png = plan.o.png;
    if (loop.frames == 0) throw RunError("no frame was processed, so there is no picture for " + png);
    WriteComparisonPng(outputs.Add(png, plan.o.overwrite), loop.before, loop.frame, g);
}

}  // namespace

FrameGeometry RunGeometry(const RunPlan& plan, VideoInfo& video) {
    FrameGeometry g = plan.o.geometry;
    if (plan.o.videoIn.empty()) return g;
    video = ProbeVideo(plan.o.videoIn);
    g.width = video.width;
    g.height = video.height;
    CheckGeometry(g);
    return g;
}

int RunFrames(const RunPlan& plan, const std::string& folder) {
    const Options& o = plan.o;
    HostSession session(o.plugin, o.forgetChannels);
    const RunSettings settings = PrepareSettings(plan, folder, session);
    VideoInfo video;
    const FrameGeometry g = RunGeometry(plan, video);
    std::unique_ptr<FrameSource> source = OpenSource(plan, g, video);
    RunOutputs outputs;
    FrameSink sink = OpenSink(plan, g, video, folder, outputs);
    PluginDescriptor& d = session.Plugin();
    session.Init();
    VideoFormat format{g.width, g.height, g.BytesPerPixel(), static_cast<int32_t>(g.format), 0};
    d.FormatChange(&format);
    std::unique_ptr<FitLog> fitLog;
    if (!o.fitLog.empty()) fitLog.reset(new FitLog(o.fitLog, o.overwrite, session.FitState(), o.plugin, outputs));
    FrameLoop loop;
    int status = ProcessAll(plan, g, d, *source, sink, loop, fitLog.get());
    if (o.stats && loop.frames > 0)
        PrintText(stderr, "kvx-host: %lld frames, ProcessFrame %.3f ms per frame (%.0f frames per second)\n",
                  loop.frames, 1000.0 * loop.processSeconds / loop.frames,
                  loop.processSeconds > 0 ? loop.frames / loop.processSeconds : 0.0);
    d.Free();
    d.Deinit();
    source.reset();
    status = CloseSink(sink, status);
    if (status != 0) return status;
    if (!o.png.empty()) WritePng(plan, g, loop, outputs);
    if (fitLog) fitLog->Check();
    // The settings save may still refuse (FILE edited meanwhile): before any output is put in place.
    outputs.Commit(o.settings.save ? o.settings.file : "", [&] {
        if (o.settings.save) SaveSettingsBack(plan, settings);
    });
    return 0;
}

}  // namespace kvx
