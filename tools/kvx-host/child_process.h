// Another program (ffmpeg, ffprobe) started with an argument vector, never through a shell,
// with a pipe to its standard input or from its standard output; the rest is inherited.
// The program is looked up in the folders of PATH only, never in the current folder, and it
// dies with kvx-host however kvx-host ends (a death signal on Linux; on Windows the whole
// run is a job that is killed when the program the user started goes).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kvx {

// The full path of `program` in the folders of PATH (absolute folders only; on Windows with
// ".exe" added); "" when it is in none of them.
std::string FindOnPath(const std::string& program);

class ChildProcess {
public:
    enum class Pipe { ToInput, FromOutput };
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `args[0]` (looked up on PATH) with the pipe; false with `error` when it cannot be
    // started (not installed).
    bool Start(const std::vector<std::string>& args, Pipe pipe, std::string& error);
    // This side of the pipe (binary mode).
    FILE* Stream() const { return stream_; }
    // Closes this side of the pipe and waits for the program; its exit code (-1: killed).
    int Finish();
    // Ends the program at once (an interrupted run), then waits for it.
    void Kill();

private:
    bool Launch(const std::string& program, const std::vector<std::string>& args, Pipe pipe, std::string& error);

    FILE* stream_ = nullptr;
    intptr_t process_ = 0;  // the process's handle on Windows, its id elsewhere; 0: none
};

// Runs a program and returns its standard output; false when it cannot run or fails.
bool CaptureOutput(const std::vector<std::string>& args, std::string& output, std::string& error);

}  // namespace kvx
