#include "ffmpeg/video_files.h"

#include <cstdio>
#include <cstdlib>

#include "console/console_text.h"
#include "errors.h"
#include "files/files.h"

namespace kvx {
namespace {

const char kInstallHint[] = " (kvx-host runs ffmpeg and ffprobe for video files: install ffmpeg and put it on "
                            "PATH, or give raw frames with --input/--output)";

}  // namespace

RunError StartFailure(const std::string& error) {
    return RunError(error.find("cannot start") == 0 ? error + kInstallHint : error);
}

const char* RawPixelFormat(const FrameGeometry& g) { return g.format == HostFormat::Yuyv ? "yuyv422" : "bgr24"; }

std::unique_ptr<ChildProcess> StartQuietly(const std::vector<std::string>& args, ChildProcess::Pipe pipe,
                                           ChildMessages& messages) {
    std::unique_ptr<ChildProcess> child(new ChildProcess);
    std::string error;
    if (!messages.WhileStarting([&] { return child->Start(args, pipe, error); })) throw StartFailure(error);
    return child;
}

// Names reach ffmpeg as files: without the prefix a name like "concat:a|b", "tee:x|y" or
// "http://..." would be taken as a protocol and read or write what the user did not name.
std::string AsFile(const std::string& name) { return "file:" + name; }

double FramesPerSecond(const std::string& rate) {
    const size_t slash = rate.find('/');
    const double num = std::atof(rate.substr(0, slash).c_str());
    const double den = slash == std::string::npos ? 1 : std::atof(rate.substr(slash + 1).c_str());
    return den > 0 ? num / den : 0;
}

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

}  // namespace kvx
