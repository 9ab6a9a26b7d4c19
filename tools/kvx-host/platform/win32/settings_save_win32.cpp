#include <windows.h>

#include <cstring>

#include "errors.h"
#include "files/files.h"
#include "owned_win32.h"
#include "run/settings_save.h"
#include "wide_text.h"

namespace kvx {
namespace {

const std::wstring kFolderPrefix = Widen(kSaveFolderPrefix), kMarkerName = Widen(kSaveMarkerName),
                   kNewName = Widen(kSaveNewName);

std::wstring Beside(const std::string& target) { return Widen(FolderPart(target)); }

// Opens a name itself (never what a link or junction there points to), for its facts and
// owner; `share` 0 fails while anyone else has it open.
HANDLE OpenItself(const std::wstring& path, DWORD access, DWORD share) {
    return CreateFileW(path.c_str(), access | READ_CONTROL, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A real folder or file (no link, no junction) of this user's.
bool OursAndPlain(HANDLE h, bool folder) {
    BY_HANDLE_FILE_INFORMATION info;
    return h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder && OwnedByThisUser(h);
}

// A folder a killed save left: a folder of this user's (no link) that holds a marker with
// kvx-host's words which nobody has open, and besides it at most the new file.
void RemoveIfLeftOver(const std::wstring& folder) {
    HANDLE self = OpenItself(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    const bool plain = OursAndPlain(self, true);
    if (self != INVALID_HANDLE_VALUE) CloseHandle(self);
    if (!plain) return;
    WIN32_FIND_DATAW found;
    HANDLE list = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (list == INVALID_HANDLE_VALUE) return;
    bool onlyOurs = true;
    do {
        const std::wstring name = found.cFileName;
        onlyOurs = onlyOurs && (name == L"." || name == L".." || name == kMarkerName || name == kNewName);
    } while (FindNextFileW(list, &found));
    FindClose(list);
    const std::wstring marker = folder + L"\\" + kMarkerName, newFile = folder + L"\\" + kNewName;
    HANDLE h = onlyOurs ? OpenItself(marker, GENERIC_READ, 0) : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return;  // none, or a live save holds it
    char text[sizeof kSaveMarkerText];
    DWORD n = 0;
    const bool proven = OursAndPlain(h, false) && ReadFile(h, text, sizeof text, &n, nullptr) &&
                        n == sizeof kSaveMarkerText - 1 && std::memcmp(text, kSaveMarkerText, n) == 0;
    CloseHandle(h);
    const DWORD newAttributes = GetFileAttributesW(newFile.c_str());
    if (!proven || (newAttributes != INVALID_FILE_ATTRIBUTES &&
                    (newAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))))
        return;
    DeleteFileW(newFile.c_str());
    DeleteFileW(marker.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

SaveFolder::SaveFolder(const std::string& target) {
    std::wstring folder;
    for (unsigned attempt = 0;; ++attempt) {
        folder = Beside(target) + kFolderPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 1000)
            throw RunError("cannot write into the folder of " + target + " (" + SystemErrorText() + ")");
    }
    folder_ = Narrow(folder);
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_HIDDEN);
    // Open without sharing while the save lives: a marker that can be opened is left over.
    HANDLE h = CreateFileW((folder + L"\\" + kMarkerName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (h != INVALID_HANDLE_VALUE) marker_ = reinterpret_cast<intptr_t>(h);
    if (h == INVALID_HANDLE_VALUE || !WriteFile(h, kSaveMarkerText, sizeof kSaveMarkerText - 1, &written, nullptr) ||
        written != sizeof kSaveMarkerText - 1) {
        const std::string error = SystemErrorText();
        Remove();
        throw RunError("cannot write into the folder of " + target + " (" + error + ")");
    }
}

SaveFolder::~SaveFolder() { Remove(); }

std::string SaveFolder::NewFile() const { return folder_ + "\\" + kSaveNewName; }

void SaveFolder::Remove() {
    const std::wstring folder = Widen(folder_);
    DeleteFileW(Widen(NewFile()).c_str());
    if (marker_ != -1) CloseHandle(reinterpret_cast<HANDLE>(marker_));
    marker_ = -1;
    DeleteFileW((folder + L"\\" + kMarkerName).c_str());
    RemoveDirectoryW(folder.c_str());
}

void RemoveLeftOverSaves(const std::string& target) {
    const std::wstring folder = Beside(target);
    WIN32_FIND_DATAW found;
    HANDLE list = FindFirstFileW((folder + kFolderPrefix + L"*").c_str(), &found);
    if (list == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(list, &found));
    FindClose(list);
    for (const std::wstring& name : names) RemoveIfLeftOver(folder + name);
}

SaveTurn::SaveTurn(const std::string& path) {
    const std::string folder = FolderPart(path);
    const FileIdentity id = IdentifyFile(folder.empty() ? "." : folder);
    if (!id.known) return;
    const std::wstring name = L"Local\\kvx-host-save-" + std::to_wstring(id.volume) + L"-" + std::to_wstring(id.index);
    if (HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str())) lock_ = reinterpret_cast<intptr_t>(mutex);
}

SaveTurn::~SaveTurn() {
    if (lock_ == -1) return;
    HANDLE mutex = reinterpret_cast<HANDLE>(lock_);
    if (held_) ReleaseMutex(mutex);
    CloseHandle(mutex);
}

bool SaveTurn::TryTake(int milliseconds) {
    if (held_ || lock_ == -1) return true;
    const DWORD waited = WaitForSingleObject(reinterpret_cast<HANDLE>(lock_), static_cast<DWORD>(milliseconds));
    if (waited == WAIT_TIMEOUT) return false;
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;  // abandoned: its run was killed
    return true;
}

}  // namespace kvx
