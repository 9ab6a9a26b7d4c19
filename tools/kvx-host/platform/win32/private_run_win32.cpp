#include <windows.h>

#include "errors.h"
#include "files/files.h"
#include "run/private_run.h"
#include "wide_text.h"

namespace kvx {
namespace {

const wchar_t kFolderPrefix[] = L"kvx-host-";
const wchar_t kLockName[] = L"run.lock";

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

// Removes a folder and what is in it. A link or junction inside is removed itself, never
// followed: what it points to is not the run's.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            const DWORD a = found.dwFileAttributes;
            if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveTree(path);
            } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(path.c_str());  // the link alone
            } else {
                // The copy's image may stay mapped a moment after it exits.
                for (int tries = 0; !DeleteFileW(path.c_str()) && tries < 50; ++tries) Sleep(20);
            }
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

// A folder of an earlier run is left over when its lock file can be opened: a live run
// holds it open without sharing.
void RemoveLeftOvers(const std::wstring& temp) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((temp + kFolderPrefix + L"*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const DWORD a = found.dwFileAttributes;
        if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring folder = temp + found.cFileName;
        HANDLE lock = CreateFileW((folder + L"\\" + kLockName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (lock == INVALID_HANDLE_VALUE) continue;
        CloseHandle(lock);
        RemoveTree(folder);
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

// The copy and every program it starts are in one job that ends when this program ends,
// however it ends (its handle to the job is the last one).
HANDLE MakeRunJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

int RunCopy(const std::wstring& folder, const std::wstring& program) {
    SetEnvironmentVariableW(Widen(kPrivateFolderVariable).c_str(), folder.c_str());
    std::wstring line = L"\"" + program + L"\"" + ArgumentsAsGiven();
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError})
        if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    HANDLE job = MakeRunJob();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &start,
                        &process))
        throw RunError("cannot start " + Narrow(program) + ": " + SystemErrorText());
    if (job) AssignProcessToJobObject(job, process.hProcess);  // may fail inside another job
    ResumeThread(process.hThread);
    SetConsoleCtrlHandler(nullptr, TRUE);  // Ctrl+C reaches the copy, which ends; then we clean up
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job) CloseHandle(job);  // ends whatever the copy left running
    return static_cast<int>(code);
}

struct RemovedAtEnd {
    const std::wstring& folder;
    ~RemovedAtEnd() { RemoveTree(folder); }
};

}  // namespace

bool PathIsInside(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size() + 1) return false;
    const char sep = path[folder.size()];
    if (sep != '/' && sep != '\\') return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), static_cast<int>(folder.size()),
                          folder.c_str(), static_cast<int>(folder.size())) == CSTR_EQUAL;
}

std::string ThisProgramFile() { return Narrow(ThisProgramWide()); }

int RunInPrivateFolder(const std::vector<std::string>&) {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n > MAX_PATH) throw RunError("cannot find the temporary folder: " + SystemErrorText());
    // The plug-in takes the host program's path in the ANSI code page: a folder that page
    // cannot spell would hide its settings file from it.
    std::string inPluginTerms;
    if (!Utf8ToPluginPath(Narrow(temp), inPluginTerms))
        throw RunError("the temporary folder " + Narrow(temp) + " has letters the system's code page "
                       "cannot spell, so the plug-in could not find its settings there; set TMP to "
                       "a folder with a plain name (e.g. set TMP=C:\\Temp)");
    RemoveLeftOvers(temp);
    std::wstring folder;
    for (unsigned attempt = 0;; ++attempt) {
        folder = std::wstring(temp) + kFolderPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 1000)
            throw RunError("cannot create a private folder in " + Narrow(temp) + ": " + SystemErrorText() +
                           "; check that TMP names a folder you can write");
    }
    RemovedAtEnd removed{folder};
    // Held open without sharing until this program ends: a folder whose lock can be opened
    // is left over from a run that was killed.
    HANDLE lock = CreateFileW((folder + L"\\" + kLockName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, 0, nullptr);
    if (lock == INVALID_HANDLE_VALUE)
        throw RunError("cannot lock the private folder " + Narrow(folder) + ": " + SystemErrorText());
    const std::wstring self = ThisProgramWide();
    const std::wstring program = folder + L"\\kvx-host.exe";
    // A copy, not a hard link: the link would share this running program's file, which cannot
    // be deleted while it runs.
    if (!CopyFileW(self.c_str(), program.c_str(), TRUE))
        throw RunError("cannot place a copy of kvx-host in " + Narrow(folder) + ": " + SystemErrorText());
    const int code = RunCopy(folder, program);
    CloseHandle(lock);
    return code;
}

}  // namespace kvx
