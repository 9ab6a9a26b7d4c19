#include "private_run.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "files.h"
#include "platform/host_environment.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace kvx {
namespace {

const char kFolderVariable[] = "KVX_HOST_PRIVATE_DIR";

std::string Folder(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// This program's path as the plug-in sees it (on Windows through the ANSI call), so the
// private folder is compared in the plug-in's own terms.
std::string ThisProgram() { return QueryHostEnvironment().hostExecutable; }

#if defined(_WIN32)
std::wstring ThisProgramWide() {
    std::wstring path(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(n < path.size() ? n : 0);
    return path;
}

// The command line after the program name, exactly as this program received it.
std::wstring ArgumentsAsGiven() {
    const wchar_t* line = GetCommandLineW();
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    return line;
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                // The copy's image may stay mapped a moment after it exits.
                for (int tries = 0; !DeleteFileW(path.c_str()) && tries < 50; ++tries) Sleep(20);
            }
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

int RunCopy(const std::wstring& folder, const std::wstring& program) {
    SetEnvironmentVariableW(Widen(kFolderVariable).c_str(), folder.c_str());
    std::wstring line = L"\"" + program + L"\"" + ArgumentsAsGiven();
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError})
        if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process))
        throw std::runtime_error("cannot start " + Narrow(program) + ": " + SystemErrorText());
    SetConsoleCtrlHandler(nullptr, TRUE);  // Ctrl+C reaches the copy, which ends; then we clean up
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
#else
void RemoveTree(const std::string& folder) {
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::string path = folder + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(path);
            else unlink(path.c_str());
        }
        closedir(dir);
    }
    rmdir(folder.c_str());
}

bool CopyProgram(const std::string& from, const std::string& to) {
    if (link(from.c_str(), to.c_str()) == 0) return true;  // same file system: no copy needed
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
    bool ok = in >= 0 && out >= 0;
    char block[65536];
    ssize_t n;
    while (ok && (n = read(in, block, sizeof block)) != 0) ok = n > 0 && write(out, block, static_cast<size_t>(n)) == n;
    if (in >= 0) close(in);
    if (out >= 0 && close(out) != 0) ok = false;
    return ok;
}

volatile sig_atomic_t g_copy = 0;
void PassOn(int signal) {
    if (g_copy > 0) kill(static_cast<pid_t>(g_copy), signal);
}

int RunCopy(const std::string& folder, const std::string& program, const std::vector<std::string>& args) {
    setenv(kFolderVariable, folder.c_str(), 1);
    // With the machine-wide switch on, the plug-in keeps its file under XDG_CONFIG_HOME.
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Signals to this process are passed on to the copy (Ctrl+C reaches both anyway); either
    // way the copy ends first and the folder is removed.
    struct sigaction pass {};
    pass.sa_handler = PassOn;
    sigemptyset(&pass.sa_mask);
    for (int s : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaction(s, &pass, nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + program + ": " + SystemErrorText());
    g_copy = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_copy = 0;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}
#endif

// The private folder goes however the run ends (the copy's exit, a failure to start it).
template <class Path>
struct RemovedAtEnd {
    const Path& folder;
    ~RemovedAtEnd() { RemoveTree(folder); }
};

}  // namespace

bool PathIsInside(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size() + 1) return false;
    const char sep = path[folder.size()];
    if (sep != '/' && sep != '\\') return false;
#if defined(_WIN32)
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), static_cast<int>(folder.size()),
                          folder.c_str(), static_cast<int>(folder.size())) == CSTR_EQUAL;
#else
    return path.compare(0, folder.size(), folder) == 0;
#endif
}

std::string PrivateFolderOfThisRun() {
    const char* folder = std::getenv(kFolderVariable);
    if (!folder || !*folder) return std::string();
    // A variable left in the environment by someone else does not make a run private.
    return Folder(ThisProgram()) == folder ? std::string(folder) : std::string();
}

#if defined(_WIN32)
int RunInPrivateFolder(const std::vector<std::string>&) {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("cannot find the temporary folder: " + SystemErrorText());
    // The plug-in takes the host program's path in the ANSI code page: a folder that page
    // cannot spell would hide its settings file from it.
    std::string inPluginTerms;
    if (!Utf8ToPluginPath(Narrow(temp), inPluginTerms))
        throw std::runtime_error("the temporary folder " + Narrow(temp) + " has letters the system's code page "
                                 "cannot spell, so the plug-in could not find its settings there; set TMP to "
                                 "a folder with a plain name (e.g. set TMP=C:\\Temp)");
    std::wstring folder;
    for (unsigned attempt = 0;; ++attempt) {
        folder = std::wstring(temp) + L"kvx-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 1000)
            throw std::runtime_error("cannot create a private folder in " + Narrow(temp) + ": " + SystemErrorText() +
                                     "; check that TMP names a folder you can write");
    }
    const std::wstring self = ThisProgramWide();
    const std::wstring program = folder + L"\\kvx-host.exe";
    // A copy, not a hard link: the link would share this running program's file, which cannot
    // be deleted while it runs.
    RemovedAtEnd<std::wstring> removed{folder};
    if (!CopyFileW(self.c_str(), program.c_str(), TRUE))
        throw std::runtime_error("cannot place a copy of kvx-host in " + Narrow(folder) + ": " + SystemErrorText());
    return RunCopy(folder, program);
}
#else
int RunInPrivateFolder(const std::vector<std::string>& args) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvx-host-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw std::runtime_error("cannot create a private folder like " + pattern + ": " + SystemErrorText() +
                                 "; check that TMPDIR names a folder you can write");
    const std::string folder = pattern, program = folder + "/kvx-host";
    const std::string self = ThisProgram();
    RemovedAtEnd<std::string> removed{folder};
    if (self.empty() || !CopyProgram(self, program))
        throw std::runtime_error("cannot place a copy of kvx-host in " + folder + ": " + SystemErrorText());
    return RunCopy(folder, program, args);
}
#endif

}  // namespace kvx
