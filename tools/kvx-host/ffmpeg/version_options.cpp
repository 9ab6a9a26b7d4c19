#include "ffmpeg/version_options.h"

#include "console/stop_signal.h"
#include "errors.h"
#include "ffmpeg/child_process.h"
#include "ffmpeg/video_files.h"

namespace kvx {

bool FfmpegBefore51() {
    // ffmpeg refuses an option it does not know while it splits its command line, before it
    // acts on -version; with one it knows it prints its version and ends. One more start of
    // ffmpeg per run, about 40 ms of CPU, mostly while the decoder starts.
    static int before = -1;
    if (before < 0) {
        std::string output, error;
        const bool knows =
            CaptureOutput({"ffmpeg", "-v", "quiet", "-fps_mode", "passthrough", "-version"}, output, error);
        if (!error.empty()) throw StartFailure(error);
        if (!knows && StopRequested()) throw RunError(kInterrupted);  // the stop ended it, not the option
        before = !knows;
    }
    return before != 0;
}

void AddPassthroughTiming(std::vector<std::string>& args) {
    args.insert(args.end(), {FfmpegBefore51() ? "-vsync" : "-fps_mode", "passthrough"});
}

}  // namespace kvx
