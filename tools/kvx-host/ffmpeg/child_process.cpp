#include "ffmpeg/child_process.h"

#include "console/stop_signal.h"

namespace kvx {

ChildProcess::~ChildProcess() { Finish(); }

bool ChildProcess::Start(const std::vector<std::string>& args, Pipe pipe, std::string& error) {
    if (StopRequested()) {  // nothing new starts once the run is stopping
        error = kInterrupted;
        return false;
    }
    const std::string program = FindOnPath(args[0]);
    if (program.empty()) {
        error = "cannot start " + args[0] + ": it is in no folder of PATH";
        return false;
    }
    return Launch(program, args, pipe, error);
}

bool CaptureOutput(const std::vector<std::string>& args, std::string& output, std::string& error) {
    ChildProcess child;
    if (!child.Start(args, ChildProcess::Pipe::FromOutput, error)) return false;
    output.clear();
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, child.Stream())) > 0) output.append(block, n);
    return child.Finish() == 0;
}

}  // namespace kvx
