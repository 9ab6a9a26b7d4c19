#include "frames/sampled_recording.h"

#include <cstdio>

#include "console/console_text.h"
#include "console/stop_signal.h"
#include "ffmpeg/video_files.h"

namespace kvx {
namespace {

// The samples leave ffmpeg numbered at this constant rate, one a frame: they go out each once
// whatever IN's rate and gaps, without -fps_mode (ffmpeg 5.1 on) or -vsync (gone in 9.0).
const char kSampleRate[] = "25";

}  // namespace

SampledRecording::SampledRecording(const std::string& path, long long limit) : path_(path), limit_(limit) {
    Launch(limit < 0 ? Form::FilterFromInput : Form::Whole);
}

void SampledRecording::Begin(const FrameGeometry& g, long long frames, double rate) {
    g_ = g;
    const bool thin = limit_ < 0 && frames > 2 * kSampledVideoFrames && rate > 0;
    if (!thin) {
        if (form_ != Form::Whole) Launch(Form::Whole);
    } else {
        char span[32];
        std::snprintf(span, sizeof span, "%.6f", frames / rate / kSampledVideoFrames);
        // The span of time a frame falls in: floor(t / span). A frame in a later span
        // than the last one handed over is handed over. (Should ffmpeg have failed, the
        // first frame read says so.)
        const std::string after = std::string("/") + span + ")";
        select_ = "select=isnan(prev_selected_t)+gt(floor(t" + after + "\\,floor(prev_selected_t" + after + ")" +
                  ",settb=1/" + kSampleRate + ",setpts=N";
        decoder_->SendInput(select_);
    }
    reader_.reset(new Y4mReader(decoder_->Stream(), g_));
}

FrameSource::Result SampledRecording::Next(std::vector<uint8_t>& frame, std::string& error) {
    std::string problem;
    const Y4mReader::Result r = reader_->Next(frame, problem);
    if (r == Y4mReader::Result::Frame) {
        ++framesRead_;
        return Result::Frame;
    }
    if (r == Y4mReader::Result::Error) {
        decoder_->Kill();
        error = problem + " (" + path_ + ")";
        return Result::Error;
    }
    if (StopRequested()) return Result::End;  // the stop, not ffmpeg's end, is reported
    if (decoder_->Finish() != 0) {
        if (form_ == Form::FilterFromInput && framesRead_ == 0) {
            Launch(Form::FilterInArguments);
            reader_.reset(new Y4mReader(decoder_->Stream(), g_));
            return Next(frame, error);
        }
        PutText(stderr, messages_.Tail());
        error = "ffmpeg could not decode " + path_ + " (its message is above)";
        return Result::Error;
    }
    if (framesRead_ == 0) {  // not a raw input's --size or --format at fault
        error = "ffmpeg finds no frame it can decode in " + path_;
        return Result::Error;
    }
    return Result::End;
}

void SampledRecording::Launch(Form form) {
    if (decoder_) decoder_->Kill();
    form_ = form;
    const bool thin = form != Form::Whole;
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin"};
    if (thin) args.insert(args.end(), {"-skip_frame", "noref", "-skip_loop_filter", "all"});
    args.insert(args.end(), {"-i", AsFile(path_), "-map", "0:v:0"});
    if (form == Form::FilterFromInput) args.insert(args.end(), {"-filter_script:v", "pipe:0"});
    if (form == Form::FilterInArguments) args.insert(args.end(), {"-vf", select_});
    if (thin) args.insert(args.end(), {"-r", kSampleRate});
    if (limit_ >= 0) args.insert(args.end(), {"-frames:v", std::to_string(limit_)});
    args.insert(args.end(), {"-pix_fmt", "yuv420p", "-f", "yuv4mpegpipe", "-"});
    decoder_ = StartQuietly(
        args, form == Form::FilterFromInput ? ChildProcess::Pipe::Both : ChildProcess::Pipe::FromOutput, messages_);
}

}  // namespace kvx
