#include "video_files.h"

#include <cctype>
#include <cstdlib>

#include "files.h"
#include "options.h"

namespace kvx {
namespace {

std::string Extension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || name.find_first_of("/\\", dot) != std::string::npos) return std::string();
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Names reach ffmpeg as files: without the prefix a name like "concat:a|b", "tee:x|y" or
// "http://..." would be taken as a protocol and read or write what the user did not name.
std::string AsFile(const std::string& name) { return "file:" + name; }

const char* PixelFormat(const FrameGeometry& g) { return g.format == HostFormat::Yuyv ? "yuyv422" : "bgr24"; }

const char kInstallHint[] = " (kvx-host runs ffmpeg and ffprobe for video files: install ffmpeg and put it on "
                            "PATH, or give raw frames with --input/--output)";

double Rate(const std::string& rate) {
    size_t slash = rate.find('/');
    double num = std::atof(rate.substr(0, slash).c_str());
    double den = slash == std::string::npos ? 1 : std::atof(rate.substr(slash + 1).c_str());
    return den > 0 ? num / den : 0;
}

class DecodedSource : public FrameSource {
public:
    DecodedSource(std::unique_ptr<ChildProcess> decoder, const FrameGeometry& g, long long limit, long long length,
                  const std::string& path)
        : decoder_(std::move(decoder)), raw_(MakeRawSource(decoder_->Stream(), false, g, limit, length)), path_(path) {}
    Result Next(std::vector<uint8_t>& frame, std::string& error) override {
        Result r = raw_->Next(frame, error);
        if (r == Result::End && decoder_->Finish() != 0) {
            error = "ffmpeg could not decode " + path_ + " (its message is above)";
            return Result::Error;
        }
        return r;
    }
    long long Length() const override { return raw_->Length(); }

private:
    std::unique_ptr<ChildProcess> decoder_;
    std::unique_ptr<FrameSource> raw_;
    std::string path_;
};

}  // namespace

bool IsRawFileName(const std::string& name) {
    std::string ext = Extension(name);
    return ext == "yuv" || ext == "raw" || ext == "rgb" || ext == "bgr";
}

bool IsWritableContainer(const std::string& name, std::string& why) {
    static const char* const kContainers[] = {"mp4", "m4v", "mov", "mkv", "ts", "m2ts", "mts", "avi", "flv"};
    const std::string ext = Extension(name);
    for (const char* known : kContainers)
        if (ext == known) return true;
    why = "OUT " + name + (ext.empty() ? " has no extension" : ": kvx-host cannot write H.264 into ." + ext + " files") +
          "; name it .mp4, .mkv, .mov, .ts or .avi (or .yuv for raw frames)";
    return false;
}

VideoInfo ProbeVideo(const std::string& path) {
    std::string text, error;
    if (!CaptureOutput({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                        "stream=width,height,r_frame_rate,avg_frame_rate,field_order,nb_frames:format=duration",
                        "-of", "default=noprint_wrappers=1", AsFile(path)},
                       text, error))
        throw RunError(error.find("cannot start") == 0 ? error + kInstallHint
                                                       : "ffprobe cannot read " + path + " as a video (its message is above)");
    VideoInfo info;
    std::string avgRate, duration, frames;
    for (const std::string& line : SplitLines(text)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "width") info.width = std::atoi(value.c_str());
        else if (key == "height") info.height = std::atoi(value.c_str());
        else if (key == "r_frame_rate") info.rate = value;
        else if (key == "avg_frame_rate") avgRate = value;
        else if (key == "field_order" && value != "unknown") info.fieldOrder = value;
        else if (key == "nb_frames") frames = value;
        else if (key == "duration") duration = value;
    }
    if (info.width <= 0 || info.height <= 0) throw RunError(path + " holds no video stream that ffprobe can read");
    if (Rate(info.rate) <= 0) info.rate = avgRate;
    if (Rate(info.rate) <= 0) throw RunError("ffprobe gives no frame rate for " + path);
    if (!frames.empty() && frames.find_first_not_of("0123456789") == std::string::npos)
        info.frames = std::atoll(frames.c_str());
    else if (std::atof(duration.c_str()) > 0)
        info.frames = static_cast<long long>(std::atof(duration.c_str()) * Rate(info.rate) + 0.5);
    return info;
}

std::unique_ptr<FrameSource> MakeDecodedSource(const std::string& path, const FrameGeometry& g,
                                               const VideoInfo& info, long long limit, DecodedFrames which) {
    std::unique_ptr<ChildProcess> decoder(new ChildProcess);
    std::string error;
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin"};
    const bool skipping = which == DecodedFrames::WithoutBidirectional;
    if (skipping) args.insert(args.end(), {"-skip_frame", "bidir"});
    args.insert(args.end(), {"-i", AsFile(path), "-map", "0:v:0"});
    // The frames not decoded must not come back as copies of their neighbours.
    if (skipping) args.insert(args.end(), {"-fps_mode", "passthrough"});
    // ffmpeg stops by itself after --frames, rather than on a closed pipe.
    if (limit >= 0) args.insert(args.end(), {"-frames:v", std::to_string(limit)});
    args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", PixelFormat(g), "-"});
    if (!decoder->Start(args, ChildProcess::Pipe::FromOutput, error))
        throw RunError(error + kInstallHint);
    return std::unique_ptr<FrameSource>(
        new DecodedSource(std::move(decoder), g, limit, skipping ? -1 : info.frames, path));
}

std::unique_ptr<ChildProcess> StartEncoder(const std::string& in, const std::string& out, const FrameGeometry& g,
                                           const VideoInfo& info) {
    const std::string ext = Extension(out);
    // MP4 and QuickTime take AAC everywhere; other containers keep the source's audio as it is.
    const bool aac = ext == "mp4" || ext == "m4v" || ext == "mov";
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", PixelFormat(g),
                                     "-s", std::to_string(g.width) + "x" + std::to_string(g.height),
                                     "-framerate", info.rate, "-i", "-", "-i", AsFile(in),
                                     "-map", "0:v:0", "-map", "1:a?", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                                     "-c:a", aac ? "aac" : "copy", "-shortest"};
    // An interlaced source stays interlaced, fields in its order, so players deinterlace it as
    // they did the source.
    const bool top = info.fieldOrder == "tt" || info.fieldOrder == "tb";
    if (top || info.fieldOrder == "bb" || info.fieldOrder == "bt")
        args.insert(args.end(), {"-vf", top ? "setfield=tff" : "setfield=bff", "-flags", "+ildct+ilme"});
    args.push_back(AsFile(out));
    std::unique_ptr<ChildProcess> encoder(new ChildProcess);
    std::string error;
    if (!encoder->Start(args, ChildProcess::Pipe::ToInput, error)) throw RunError(error + kInstallHint);
    return encoder;
}

}  // namespace kvx
