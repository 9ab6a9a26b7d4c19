// ffmpeg encoding the processed frames, with IN's audio, into a file that plays everywhere
// (H.264 yuv420p at the source's frame rate).
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "ffmpeg/child_messages.h"
#include "ffmpeg/child_process.h"
#include "ffmpeg/encode_choice.h"
#include "ffmpeg/probe.h"
#include "video/frame_geometry.h"

namespace kvx {

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

// ffmpeg encoding raw frames of `g` into OUT, in IN's shape and field order, with IN's audio
// and the subtitles OUT's container takes (converted where it takes them in another format,
// in the run's private `folder`), in step with IN's timing and ending with the video; `limit`
// as for the decoder. Says on standard error which subtitle streams are left out. Throws
// RunError.
std::unique_ptr<VideoEncoder> StartEncoder(const std::string& in, const std::string& out, const FrameGeometry& g,
                                           const VideoInfo& info, long long limit, const EncodeChoice& encode,
                                           const std::string& folder);

}  // namespace kvx
