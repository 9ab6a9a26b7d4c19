#define _CRT_RAND_S  // rand_s: random numbers from the system, for names nobody can guess
#include <stdlib.h>
#include <io.h>
#include <windows.h>

#include <cctype>
#include <cstring>
#include <cwctype>

#include "files/files.h"
#include "files/run_marker.h"
#include "wide_text.h"

namespace kvx {
namespace {

std::wstring WideFrom(UINT codePage, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], n);
    return wide;
}

// `lossy`, when given, says whether the code page lacks a letter of `wide` (not for UTF-8,
// which has them all).
std::string BytesFrom(UINT codePage, const std::wstring& wide, BOOL* lossy = nullptr) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    const DWORD flags = lossy ? WC_NO_BEST_FIT_CHARS : 0;
    int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, lossy);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, &text[0], n, nullptr, nullptr);
    return text;
}

// Random letters for names nobody can guess ahead of a run.
std::string RandomLetters() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string text;
    for (int i = 0; i < 10; ++i) {
        unsigned int r = 0;
        rand_s(&r);
        text += kLetters[r % 36];
    }
    return text;
}

// Opens a name for its facts only: no reading or writing, sharing everything, folders too.
HANDLE OpenForFacts(const std::string& path) {
    return CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The identity of an open file (not known when the system does not say).
FileIdentity Identity(HANDLE h) {
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return id;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.known = true;
    return id;
}

}  // namespace

std::wstring Widen(const std::string& utf8) { return WideFrom(CP_UTF8, utf8); }
std::string Narrow(const std::wstring& wide) { return BytesFrom(CP_UTF8, wide); }

std::string PluginPathToUtf8(const std::string& pluginPath) { return Narrow(WideFrom(CP_ACP, pluginPath)); }

bool Utf8ToPluginPath(const std::string& utf8, std::string& pluginPath) {
    BOOL lossy = FALSE;
    pluginPath = BytesFrom(CP_ACP, Widen(utf8), &lossy);
    return !lossy;
}

FILE* OpenFile(const std::string& path, const char* mode) { return _wfopen(Widen(path).c_str(), Widen(mode).c_str()); }
bool IsTerminal(FILE* file) { return _isatty(_fileno(file)) != 0; }

bool IsDeviceName(const std::string& path) {
    if (path.compare(0, 4, "\\\\.\\") == 0) return true;  // \\.\COM1, \\.\pipe\...
    // The name's stem up to its first dot, trailing spaces dropped, in upper case.
    std::string stem = NamePart(path);
    stem = stem.substr(0, stem.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}
bool FileExists(const std::string& path) { return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string EnvironmentValue(const char* name) {
    const wchar_t* value = _wgetenv(Widen(name).c_str());
    return value ? Narrow(value) : "";
}

std::string SystemErrorText() {
    DWORD code = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text ? Narrow(text) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(code)
                           : message + " (Windows error " + std::to_string(code) + ")";
}

FileIdentity IdentifyFile(const std::string& path) {
    std::string name;
    HANDLE h = OpenForFacts(path);
    if (h == INVALID_HANDLE_VALUE) {
        const std::string folder = FolderPart(path);
        if (NamePart(path).empty()) return FileIdentity();
        h = OpenForFacts(folder.empty() ? "." : folder);
        if (h == INVALID_HANDLE_VALUE) return FileIdentity();
        // Names are compared as the file system does: without regard to case.
        std::wstring wide = Widen(NamePart(path));
        CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
        name = Narrow(wide);
    }
    FileIdentity id = Identity(h);
    id.newName = name;
    CloseHandle(h);
    return id;
}

FileIdentity IdentifyStandardOutput() {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    BY_HANDLE_FILE_INFORMATION info;
    if (!h || h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileIdentity();
    return Identity(h);
}

FileFacts InspectFile(const std::string& path) {
    FileFacts facts;
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return facts;
    facts.symlink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    HANDLE h = OpenForFacts(path);
    if (h == INVALID_HANDLE_VALUE) return facts;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
        facts.exists = true;
        facts.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts.regular = !facts.folder && GetFileType(h) == FILE_TYPE_DISK;
        facts.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        facts.links = info.nNumberOfLinks;
        facts.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    CloseHandle(h);
    return facts;
}

std::string ResolveLinks(const std::string& path) {
    HANDLE h = OpenForFacts(path);
    if (h == INVALID_HANDLE_VALUE) return path;
    // Windows Vista and later; on XP, where links to files are rare, the name as given.
    using FinalPath = DWORD(WINAPI*)(HANDLE, wchar_t*, DWORD, DWORD);
    const auto finalPath = reinterpret_cast<FinalPath>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    std::wstring resolved(32768, L'\0');
    DWORD n = finalPath ? finalPath(h, &resolved[0], static_cast<DWORD>(resolved.size()), 0) : 0;
    CloseHandle(h);
    if (n == 0 || n >= resolved.size()) return path;
    resolved.resize(n);
    if (resolved.compare(0, 4, L"\\\\?\\") == 0 && resolved.compare(0, 8, L"\\\\?\\UNC\\") != 0) resolved.erase(0, 4);
    return Narrow(resolved);
}

std::string MakePrivateFolder(const std::string& parent, const std::string& prefix, std::string& error) {
    // No access list of its own: the files made in it keep the one they get here when they
    // are moved out, so they get their folder's, as any new file there would.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = parent + prefix + RandomLetters();
        const std::wstring wide = Widen(folder);
        if (CreateDirectoryW(wide.c_str(), nullptr)) {
            SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN);
            return folder;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = "its folder takes no new files (" + SystemErrorText() + ")";
    return std::string();
}

void RemoveFolder(const std::string& path) { RemoveDirectoryW(Widen(path).c_str()); }

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::wstring pattern = Widen(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((pattern + L'*').c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(Narrow(name));
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

FILE* CreateNewFile(const std::string& path, FileIdentity& made) {
    // CREATE_NEW fails on any name already taken, a link planted there included. Shared for
    // reading and writing: ffmpeg and the PNG writer open it by name while it is open here.
    HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    made = Identity(h);
    return _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(h), 0), "wb");
}

bool IsStillFile(const std::string& path, const FileIdentity& made) {
    HANDLE h = CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool file = GetFileInformationByHandle(h, &info) &&
                      !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    const bool same = file && Identity(h) == made;
    CloseHandle(h);
    return same;
}

bool MoveInto(const std::string& from, const std::string& to, bool replace) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), flags) != 0;
}

void RemoveFile(const std::string& path) { DeleteFileW(Widen(path).c_str()); }

bool FlushToDisk(FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

RunMarker::RunMarker(const std::string& folder) : path_(folder + "\\" + kRunMarkerName) {
    // Opened without sharing from its creation on: that is the lock.
    HANDLE h = CreateFileW(Widen(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) lock_ = reinterpret_cast<intptr_t>(h);
    if (!Append(kRunMarkerText) && h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        DeleteFileW(Widen(path_).c_str());
        lock_ = -1;
    }
}

RunMarker::~RunMarker() {
    if (lock_ == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(lock_));
    DeleteFileW(Widen(path_).c_str());
}

bool RunMarker::Append(const std::string& text) {
    const DWORD size = static_cast<DWORD>(text.size());
    DWORD written = 0;
    return lock_ != -1 && WriteFile(reinterpret_cast<HANDLE>(lock_), text.data(), size, &written, nullptr) &&
           written == size;
}

std::string AbandonedRunMarker(const std::string& folder) {
    const DWORD a = GetFileAttributesW(Widen(folder).c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT))
        return std::string();
    // Opens only when no live run holds it.
    HANDLE h = CreateFileW(Widen(folder + "\\" + kRunMarkerName).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    BY_HANDLE_FILE_INFORMATION info;
    char text[4096];
    DWORD n = 0;
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !ReadFile(h, text, sizeof text, &n, nullptr))
        n = 0;
    CloseHandle(h);
    const std::string marker(text, n);
    return marker.compare(0, sizeof kRunMarkerText - 1, kRunMarkerText) == 0 ? marker : std::string();
}

bool ReadRegularFile(const std::string& path, uint64_t limit, std::string& bytes, std::string& error) {
    // Sharing delete too, so that reading never keeps another run from replacing the file.
    HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = SystemErrorText();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (ok && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) error = "it is a folder";
    else if (ok && GetFileType(h) != FILE_TYPE_DISK) error = "it is not a regular file";
    else if (ok && size > limit) error = "it is " + std::to_string(size >> 20) + " MiB, far more than any settings file";
    ok = ok && error.empty();
    bytes.clear();
    char block[65536];
    while (ok) {
        DWORD n = 0;
        if (!ReadFile(h, block, sizeof block, &n, nullptr)) {
            error = SystemErrorText();
            ok = false;
        } else if (n == 0) {
            break;
        } else if (bytes.size() + n > limit) {
            error = "it grew past " + std::to_string(limit >> 20) + " MiB while being read";
            ok = false;
        } else {
            bytes.append(block, n);
        }
    }
    CloseHandle(h);
    return ok;
}

}  // namespace kvx
