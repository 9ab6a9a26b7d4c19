#include <windows.h>

#include <cstring>

#include "console/console_text.h"
#include "console/stop_signal.h"
#include "errors.h"
#include "files/files.h"
#include "owned_win32.h"
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
// followed: what it points to is not the run's. `last`, a name in the folder, goes only once
// all else has: a run's folder that cannot be removed whole (a file still in use) keeps its
// marked lock file, so that a later run still knows it and removes it.
bool RemoveTree(const std::wstring& folder, const wchar_t* last = nullptr) {
    bool gone = true;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L".." || (last && name == last)) continue;
            std::wstring path = folder + L"\\" + name;
            const DWORD a = found.dwFileAttributes;
            if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
                gone = RemoveTree(path) && gone;
            } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
                gone = RemoveDirectoryW(path.c_str()) && gone;  // the link alone
            } else {
                // The copy's image may stay mapped a moment after it exits.
                bool deleted = false;
                for (int tries = 0; !(deleted = DeleteFileW(path.c_str())) && tries < 50; ++tries) Sleep(20);
                gone = deleted && gone;
            }
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    if (gone && last) DeleteFileW((folder + L"\\" + last).c_str());
    return gone && RemoveDirectoryW(folder.c_str());
}

// Whether `folder` is one an earlier run left (see run/private_run.h): a folder of this
// user's, no link, whose lock file is this user's regular file holding the marker and can
// be opened without sharing, so no live run holds it. A user's folder of the same name,
// the unpacked release and the like are not kvx-host's to remove.
bool LeftOver(const std::wstring& folder) {
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE h = CreateFileW(folder.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ours = GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && OwnedByThisUser(h);
    CloseHandle(h);
    if (!ours) return false;
    h = CreateFileW((folder + L"\\" + kLockName).c_str(), GENERIC_READ | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const DWORD size = sizeof kRunMarker - 1;
    char text[sizeof kRunMarker];
    DWORD got = 0;
    ours = GetFileInformationByHandle(h, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           info.nNumberOfLinks == 1 && info.nFileSizeHigh == 0 && info.nFileSizeLow == size && OwnedByThisUser(h) &&
           ReadFile(h, text, sizeof text, &got, nullptr) && got == size && std::memcmp(text, kRunMarker, size) == 0;
    CloseHandle(h);
    return ours;
}

void RemoveLeftOvers(const std::wstring& temp) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((temp + kFolderPrefix + L"*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring folder = temp + found.cFileName;
        if (LeftOver(folder)) RemoveTree(folder, kLockName);
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

// The copy and every program it starts are in one job that ends when this program ends,
// however it ends (its handle to the job is the last one). This program joins the job
// first, so that each process it starts belongs to it from its first instant: a copy put
// in the job only after its start would outlive a kill of this program in between. `joined`
// says whether it could (not inside another job before Windows 8).
HANDLE MakeRunJob(bool& joined) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    joined = false;
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    joined = AssignProcessToJobObject(job, GetCurrentProcess()) != FALSE;
    return job;
}

HANDLE g_stopped = nullptr;  // set by a stop (Ctrl+C, the console closed)
BOOL WINAPI NoteStop(DWORD) {
    SetEvent(g_stopped);
    return TRUE;  // the copy, which got the same event, ends first; then we clean up
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
    bool joined = false;
    HANDLE job = MakeRunJob(joined);
    g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_stopped) SetConsoleCtrlHandler(NoteStop, TRUE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &start,
                        &process))
        throw RunError("cannot start " + Narrow(program) + ": " + SystemErrorText());
    if (job && !joined) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    // After a stop the copy has its grace to end; then it is ended (what it started goes
    // with the job).
    HANDLE waits[] = {process.hProcess, g_stopped};
    if (g_stopped && WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1 &&
        WaitForSingleObject(process.hProcess, kCopyGraceMs) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, kCopyExitBase + 1);  // as if it had said it was interrupted
        PrintText(stderr, "kvx-host: %s\n", kInterrupted);  // the copy could not say it
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Ends whatever the copy left running: now, or, with this program in the job (which
    // closing the handle would end too), as this program exits.
    if (job && !joined) CloseHandle(job);
    return static_cast<int>(code);
}

struct RemovedAtEnd {
    const std::wstring& folder;
    ~RemovedAtEnd() { RemoveTree(folder, kLockName); }
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
    // Held open without sharing until this program ends (and the job with it): a folder
    // whose marked lock can be opened is left over from a run that was killed.
    HANDLE lock = CreateFileW((folder + L"\\" + kLockName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    if (lock == INVALID_HANDLE_VALUE ||
        !WriteFile(lock, kRunMarker, sizeof kRunMarker - 1, &written, nullptr) || written != sizeof kRunMarker - 1)
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
