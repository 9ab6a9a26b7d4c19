#include "frames/decoded_video.h"

#include "console/console_text.h"
#include "console/stop_signal.h"
#include "ffmpeg/child_messages.h"
#include "ffmpeg/child_process.h"
#include "ffmpeg/video_files.h"

namespace kvx {
namespace {

class DecodedSource : public FrameSource {
public:
    DecodedSource(std::unique_ptr<ChildProcess> decoder, std::unique_ptr<ChildMessages> messages,
                  const FrameGeometry& g, long long limit, long long length, const std::string& path)
        : decoder_(std::move(decoder)),
          messages_(std::move(messages)),
          raw_(MakeRawSource(decoder_->Stream(), false, g, limit, length)),
          path_(path) {}
    Result Next(std::vector<uint8_t>& frame, std::string& error) override {
        Result r = raw_->Next(frame, error);
        if (r == Result::Frame) ++frames_;
        if (r != Result::End || StopRequested()) return r;
        if (decoder_->Finish() != 0) {
            PutText(stderr, messages_->Tail());
            error = "ffmpeg could not decode " + path_ + " (its message is above)";
            return Result::Error;
        }
        if (frames_ == 0) {  // an OUT of sound alone is no result
            error = "ffmpeg finds no frame it can decode in " + path_;
            return Result::Error;
        }
        return r;
    }
    long long Length() const override { return raw_->Length(); }

private:
    std::unique_ptr<ChildProcess> decoder_;
    std::unique_ptr<ChildMessages> messages_;
    std::unique_ptr<FrameSource> raw_;
    std::string path_;
    long long frames_ = 0;
};

// The filters that turn a picture stored on its side upright, as ffmpeg would show it: done
// here rather than left to ffmpeg, so the frames always have the size kvx-host reads.
std::string Upright(int turn) {
    return turn == 90 ? "transpose=cclock," : turn == 180 ? "hflip,vflip," : turn == 270 ? "transpose=clock," : "";
}

}  // namespace

std::unique_ptr<FrameSource> MakeDecodedSource(const std::string& path, const FrameGeometry& g,
                                               const VideoInfo& info, long long limit) {
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin", "-noautorotate", "-i", AsFile(path),
                                     "-map", "0:v:0"};
    // The first frame decoded is the first frame given, not held back to IN's start: the
    // encoder puts it where it belongs (see StartEncoder).
    args.insert(args.end(), {"-vf", Upright(info.turn) + "setpts=PTS-STARTPTS"});
    // ffmpeg stops by itself after --frames, rather than on a closed pipe.
    if (limit >= 0) args.insert(args.end(), {"-frames:v", std::to_string(limit)});
    args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", RawPixelFormat(g), "-"});
    std::unique_ptr<ChildMessages> messages(new ChildMessages);
    std::unique_ptr<ChildProcess> decoder = StartQuietly(args, ChildProcess::Pipe::FromOutput, *messages);
    return std::unique_ptr<FrameSource>(
        new DecodedSource(std::move(decoder), std::move(messages), g, limit, info.frames, path));
}

}  // namespace kvx
