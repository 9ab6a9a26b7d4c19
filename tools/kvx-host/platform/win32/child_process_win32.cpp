#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "console/stop_signal.h"
#include "ffmpeg/child_process.h"
#include "files/files.h"
#include "wide_text.h"

namespace kvx {
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

std::string FindOnPath(const std::string& program) {
    if (program.find_first_of("/\\:") != std::string::npos) return std::string();
    std::wstring path(32767, L'\0');
    const DWORD n = GetEnvironmentVariableW(L"PATH", &path[0], static_cast<DWORD>(path.size()));
    path.resize(n < path.size() ? n : 0);
    const std::wstring name = Widen(program) + L".exe";
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
        // Only full paths (C:\..., \\server\...): a relative entry would mean the current folder.
        const bool full = (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                          folder.compare(0, 2, L"\\\\") == 0;
        if (!full) continue;
        if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
        const std::wstring candidate = folder + name;
        const DWORD attributes = GetFileAttributesW(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Narrow(candidate);
    }
    return std::string();
}

bool ChildProcess::Launch(const std::string& program, const std::vector<std::string>& args, Pipe pipe,
                          std::string& error) {
    // The program's full path as the application name: CreateProcessW would otherwise look
    // in the current folder first, where a recording's folder may hold anything.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 1 << 20)) {
        error = "cannot make a pipe: " + SystemErrorText();
        return false;
    }
    HANDLE ours = pipe == Pipe::ToInput ? write : read, theirs = pipe == Pipe::ToInput ? read : write;
    SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
    HANDLE inputRead = nullptr, inputWrite = nullptr;
    if (pipe == Pipe::Both && !CreatePipe(&inputRead, &inputWrite, &inherit, 0)) {
        error = "cannot make a pipe: " + SystemErrorText();
        CloseHandle(ours);
        CloseHandle(theirs);
        return false;
    }
    if (inputWrite) SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    std::wstring line;
    for (const std::string& a : args) line += (line.empty() ? L"" : L" ") + Quote(Widen(a));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = pipe == Pipe::ToInput ? theirs : pipe == Pipe::Both ? inputRead : GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = pipe == Pipe::ToInput ? GetStdHandle(STD_OUTPUT_HANDLE) : theirs;
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const std::wstring application = Widen(program);
    BOOL started = CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                                  &process);
    if (!started) error = "cannot start " + program + ": " + SystemErrorText();
    CloseHandle(theirs);
    if (inputRead) CloseHandle(inputRead);
    if (inputWrite) input_ = reinterpret_cast<intptr_t>(inputWrite);
    if (!started) {
        CloseHandle(ours);
        CloseInput();
        return false;
    }
    CloseHandle(process.hThread);
    process_ = reinterpret_cast<intptr_t>(process.hProcess);
    WatchChild(process_);
    // Binary: frames are bytes, never text with line ends to translate.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(ours), _O_BINARY | (pipe == Pipe::ToInput ? 0 : _O_RDONLY));
    stream_ = _fdopen(fd, pipe == Pipe::ToInput ? "wb" : "rb");
    return true;
}

bool ChildProcess::SendInput(const std::string& text) {
    bool sent = input_ != -1;
    for (size_t done = 0; sent && done < text.size();) {
        DWORD n = 0;
        sent = WriteFile(reinterpret_cast<HANDLE>(input_), text.data() + done, static_cast<DWORD>(text.size() - done),
                         &n, nullptr) &&
               n > 0;
        done += n;
    }
    CloseInput();
    return sent;
}

void ChildProcess::CloseInput() {
    if (input_ != -1) CloseHandle(reinterpret_cast<HANDLE>(input_));
    input_ = -1;
}

int ChildProcess::Finish() {
    CloseInput();
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (!process_) return -1;
    const HANDLE process = reinterpret_cast<HANDLE>(process_);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    ForgetChild(process_);
    CloseHandle(process);
    process_ = 0;
    return static_cast<int>(code);
}

void ChildProcess::Kill() {
    if (process_) TerminateProcess(reinterpret_cast<HANDLE>(process_), 1);
    Finish();
}

}  // namespace kvx
