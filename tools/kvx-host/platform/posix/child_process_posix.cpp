#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console/stop_signal.h"
#include "ffmpeg/child_process.h"
#include "files/files.h"

extern char** environ;

namespace kvx {

std::string FindOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return std::string();
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        start = end + 1;
        // An empty or relative entry means the current folder: never searched.
        if (folder.empty() || folder[0] != '/') continue;
        const std::string candidate = folder + "/" + program;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

bool ChildProcess::Launch(const std::string& program, const std::vector<std::string>& args, Pipe pipe,
                          std::string& error) {
    int fds[2] = {-1, -1}, input[2] = {-1, -1}, report[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC) != 0 || (pipe == Pipe::Both && pipe2(input, O_CLOEXEC) != 0) ||
        pipe2(report, O_CLOEXEC) != 0) {
        error = "cannot make a pipe: " + SystemErrorText() + "; raise the limit on open files (ulimit -n)";
        for (int fd : {fds[0], fds[1], input[0], input[1], report[0], report[1]})
            if (fd >= 0) close(fd);  // the pipes made before the one that failed
        return false;
    }
    const int ours = pipe == Pipe::ToInput ? fds[1] : fds[0], theirs = pipe == Pipe::ToInput ? fds[0] : fds[1];
#ifdef F_SETPIPE_SZ
    // Frames are megabytes: a pipe that holds one lets ffmpeg and kvx-host work at the same
    // time instead of taking turns every 64 KiB. Only a hint: the system may keep its size.
    fcntl(ours, F_SETPIPE_SZ, 1 << 20);
#endif
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec. The program dies with kvx-host.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(theirs, pipe == Pipe::ToInput ? 0 : 1);
        if (pipe == Pipe::Both) dup2(input[0], 0);
        execve(program.c_str(), argv.data(), environ);
        const int failure = errno;
        ssize_t ignored = write(report[1], &failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }
    if (pid > 0) WatchChild(pid);
    close(theirs);
    close(report[1]);
    if (pipe == Pipe::Both) close(input[0]);
    input_ = input[1];
    int failure = 0;
    ssize_t got;
    while ((got = pid > 0 ? read(report[0], &failure, sizeof failure) : -1) < 0 && errno == EINTR) {
    }
    const bool started = pid > 0 && got == 0;
    close(report[0]);
    if (!started) {
        error = "cannot start " + program + ": " + std::strerror(pid > 0 ? failure : errno);
        if (pid > 0) {
            ForgetChild(pid);  // it has ended: its exec failed
            waitpid(pid, nullptr, 0);
        }
        close(ours);
        CloseInput();
        return false;
    }
    process_ = pid;
    stream_ = fdopen(ours, pipe == Pipe::ToInput ? "wb" : "rb");
    return true;
}

bool ChildProcess::SendInput(const std::string& text) {
    bool sent = input_ >= 0;
    for (size_t done = 0; sent && done < text.size();) {
        const ssize_t n = write(static_cast<int>(input_), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        sent = n > 0;
        if (sent) done += static_cast<size_t>(n);
    }
    CloseInput();
    return sent;
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) close(static_cast<int>(input_));
    input_ = -1;
}

int ChildProcess::Finish() {
    CloseInput();
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (process_ <= 0) return -1;
    const pid_t pid = static_cast<pid_t>(process_);
    // Waited for without reaping it, so that a stop can still end it meanwhile and its id
    // is no other program's until it is forgotten.
    siginfo_t ended;
    while (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    ForgetChild(pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    process_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::Kill() {
    if (process_ > 0) kill(static_cast<pid_t>(process_), SIGKILL);
    Finish();
}

}  // namespace kvx
