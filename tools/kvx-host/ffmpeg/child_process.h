// Another program (ffmpeg, ffprobe) started with an argument vector, never through a shell,
// with a pipe to its standard input, from its standard output, or both; the rest is inherited.
// The program is looked up in the folders of PATH only, never in the current folder, and it
// dies with kvx-host however kvx-host ends (a death signal on Linux; on Windows the whole
// run is a job that is killed when the program the user started goes). A stop of the run
// ends it too (console/stop_signal.h), so no wait on it outlasts the stop by long.
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
    // Both: Stream() reads the output; SendInput gives the input its only text.
    enum class Pipe { ToInput, FromOutput, Both };
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `args[0]` (looked up on PATH) with the pipe; false with `error` when it cannot be
    // started (not installed, or the run is stopping).
    bool Start(const std::vector<std::string>& args, Pipe pipe, std::string& error);
    // This side of the pipe (binary mode).
    FILE* Stream() const { return stream_; }
    // With Pipe::Both: writes `text` to the program's standard input and closes it; false
    // when the program no longer reads it.
    bool SendInput(const std::string& text);
    // Closes this side of the pipes and waits for the program; its exit code (-1: killed).
    int Finish();
    // Ends the program at once (an interrupted run), then waits for it.
    void Kill();

private:
    bool Launch(const std::string& program, const std::vector<std::string>& args, Pipe pipe, std::string& error);
    void CloseInput();

    FILE* stream_ = nullptr;
    intptr_t input_ = -1;  // Pipe::Both: the program's standard input, until sent (fd or HANDLE)
    intptr_t process_ = 0;  // the process's handle on Windows, its id elsewhere; 0: none
};

// Runs a program and returns its standard output; false when it cannot be started (`error`
// says why) or fails (`error` left empty: the program's own messages say why).
bool CaptureOutput(const std::vector<std::string>& args, std::string& output, std::string& error);

}  // namespace kvx
