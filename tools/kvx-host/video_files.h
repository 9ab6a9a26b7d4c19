// Video files as IN and OUT: ffprobe reads the frame size, rate and field order, ffmpeg
// decodes IN to raw frames for the plug-in and encodes the processed frames, with IN's audio,
// into a file that plays everywhere (H.264 yuv420p at the source's frame rate).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "child_messages.h"
#include "child_process.h"
#include "encode_choice.h"
#include "frame_source.h"

namespace kvx {

// A name for ffmpeg that it takes as a file, never as a protocol (concat:, tee:, http:).
std::string AsFile(const std::string& name);

// Names kvx-host takes as raw frames rather than video files.
bool IsRawFileName(const std::string& name);

// Frames per second from ffprobe's "25/1" or "30000/1001" (0 when it is no rate).
double FramesPerSecond(const std::string& rate);

// Whether kvx-host's encode (H.264 video, the source's audio) can be written into a file of
// this name's container; false with `why` (what to do instead) otherwise.
bool IsWritableContainer(const std::string& name, std::string& why);

struct VideoInfo {
    int32_t width = 0, height = 0;
    std::string rate;        // frames per second as ffprobe gives it, e.g. "25/1", "30000/1001"
    std::string fieldOrder;  // "progressive", "tt", "bb", ... or "" when not known
    std::string codec;       // ffmpeg's name of the video's codec, e.g. "h264"
    long long frames = -1;   // -1: not known
    // Seconds from IN's start (where ffmpeg puts time 0 of what it reads from IN) to the end
    // of the video stream; -1: not known.
    double videoEnd = -1;
    std::vector<std::string> subtitleCodecs;  // codec names of IN's subtitle streams, in order
};


// Starts `args` (ffmpeg, ffprobe) with its messages kept back in `messages`; throws RunError,
// with how to install ffmpeg, when it cannot start.
std::unique_ptr<ChildProcess> StartQuietly(const std::vector<std::string>& args, ChildProcess::Pipe pipe,
                                           ChildMessages& messages);

// Asks ffprobe about IN's first video stream; throws RunError.
VideoInfo ProbeVideo(const std::string& path);

// IN decoded by ffmpeg to raw frames of `g` (at most `limit`, -1: all); throws RunError.
std::unique_ptr<FrameSource> MakeDecodedSource(const std::string& path, const FrameGeometry& g,
                                               const VideoInfo& info, long long limit);

// ffmpeg encoding raw frames into OUT. Its messages are kept back and shown only when it fails.
class VideoEncoder {
public:
    VideoEncoder(std::unique_ptr<ChildProcess> ffmpeg, std::unique_ptr<ChildMessages> messages,
                 const std::string& inputCodec)
        : ffmpeg_(std::move(ffmpeg)), messages_(std::move(messages)), inputCodec_(inputCodec) {}
    // Where the frames go (raw, in the geometry the encoder was started with).
    FILE* Stream() const { return ffmpeg_->Stream(); }
    // Closes the frames' pipe and waits for ffmpeg; false when it failed, with its last lines
    // in `messages`.
    bool Finish(std::string& messages);
    // Ends ffmpeg at once (an interrupted run), then waits for it.
    void Kill() { ffmpeg_->Kill(); }

private:
    std::unique_ptr<ChildProcess> ffmpeg_;
    std::unique_ptr<ChildMessages> messages_;
    std::string inputCodec_;  // of IN's video, which this ffmpeg only looks at, never decodes
};

// ffmpeg encoding raw frames of `g` into OUT, with IN's audio and the subtitles OUT's container
// takes, in step with IN's timing; `limit` as for the decoder. Says on standard error which
// subtitle streams are left out. Throws RunError.
std::unique_ptr<VideoEncoder> StartEncoder(const std::string& in, const std::string& out, const FrameGeometry& g,
                                           const VideoInfo& info, long long limit, const EncodeChoice& encode);

}  // namespace kvx
