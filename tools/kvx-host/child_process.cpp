#include "child_process.h"

#include "files.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace kvx {

#if defined(_WIN32)
namespace {

// One argument quoted so that the C runtime's parser gives it back unchanged.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < arg.size() && arg[i] == L'\\') ++i, ++backslashes;
        if (i == arg.size()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        quoted.append(arg[i] == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted += arg[i];
    }
    return quoted + L"\"";
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& args, Pipe pipe, std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 1 << 20)) {
        error = "cannot make a pipe: " + SystemErrorText();
        return false;
    }
    HANDLE ours = pipe == Pipe::ToInput ? write : read, theirs = pipe == Pipe::ToInput ? read : write;
    SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
    std::wstring line;
    for (const std::string& a : args) line += (line.empty() ? L"" : L" ") + Quote(Widen(a));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = pipe == Pipe::ToInput ? theirs : GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = pipe == Pipe::FromOutput ? theirs : GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process);
    if (!started) error = "cannot start " + args[0] + ": " + SystemErrorText();
    CloseHandle(theirs);
    if (!started) {
        CloseHandle(ours);
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(ours), pipe == Pipe::ToInput ? 0 : _O_RDONLY);
    stream_ = _fdopen(fd, pipe == Pipe::ToInput ? "wb" : "rb");
    return true;
}

int ChildProcess::Finish() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (!process_) return -1;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    return static_cast<int>(code);
}
#else
bool ChildProcess::Start(const std::vector<std::string>& args, Pipe pipe, std::string& error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "cannot make a pipe: " + SystemErrorText();
        return false;
    }
    const int ours = pipe == Pipe::ToInput ? fds[1] : fds[0], theirs = pipe == Pipe::ToInput ? fds[0] : fds[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs, pipe == Pipe::ToInput ? 0 : 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(theirs);
    if (failed) {
        error = "cannot start " + args[0] + ": " + std::strerror(failed);
        close(ours);
        return false;
    }
    pid_ = pid;
    stream_ = fdopen(ours, pipe == Pipe::ToInput ? "wb" : "rb");
    return true;
}

int ChildProcess::Finish() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (pid_ < 0) return -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

ChildProcess::~ChildProcess() { Finish(); }

bool CaptureOutput(const std::vector<std::string>& args, std::string& output, std::string& error) {
    ChildProcess child;
    if (!child.Start(args, ChildProcess::Pipe::FromOutput, error)) return false;
    output.clear();
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, child.Stream())) > 0) output.append(block, n);
    int code = child.Finish();
    if (code != 0) error = args[0] + " failed (exit code " + std::to_string(code) + ")";
    return code == 0;
}

}  // namespace kvx
