#include "files.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvx {

#if defined(_WIN32)
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
bool FileExists(const std::string& path) { return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

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

namespace {
bool FlushToDisk(FILE* f) { return std::fflush(f) == 0 && _commit(_fileno(f)) == 0; }
bool PutInPlace(const std::string& from, const std::string& to) {
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
void RemoveFile(const std::string& path) { DeleteFileW(Widen(path).c_str()); }
unsigned long ThisProcess() { return GetCurrentProcessId(); }
}  // namespace
#else
std::string PluginPathToUtf8(const std::string& pluginPath) { return pluginPath; }
bool Utf8ToPluginPath(const std::string& utf8, std::string& pluginPath) {
    pluginPath = utf8;
    return true;
}
FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
bool IsTerminal(FILE* file) { return isatty(fileno(file)) != 0; }
bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
std::string SystemErrorText() { return std::strerror(errno); }

namespace {
bool FlushToDisk(FILE* f) { return std::fflush(f) == 0 && fsync(fileno(f)) == 0; }
// The new file takes the old one's permissions, as the plug-in's own save does, so a
// settings file kept private stays private; the folder is flushed so that the new name,
// too, survives a crash.
bool PutInPlace(const std::string& from, const std::string& to) {
    struct stat old;
    if (stat(to.c_str(), &old) == 0 && chmod(from.c_str(), old.st_mode & 07777) != 0) return false;
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    const size_t slash = to.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return true;
}
void RemoveFile(const std::string& path) { std::remove(path.c_str()); }
unsigned long ThisProcess() { return static_cast<unsigned long>(getpid()); }
}  // namespace
#endif

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    FILE* f = OpenFile(path, "rb");
    if (!f) return false;
    bytes.clear();
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
    bool ok = !std::ferror(f);  // a folder opens but cannot be read
    std::fclose(f);
    return ok;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
        start = end + 1;
    }
    return lines;
}

bool CanCreateBeside(const std::string& path, std::string& error) {
    const std::string probe = path + ".kvx-host-" + std::to_string(ThisProcess()) + ".tmp";
    FILE* f = OpenFile(probe, "wb");
    if (!f) {
        error = "cannot create files beside it (" + SystemErrorText() + ")";
        return false;
    }
    std::fclose(f);
    RemoveFile(probe);
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    const std::string temp = path + ".kvx-host-" + std::to_string(ThisProcess()) + ".tmp";
    FILE* f = OpenFile(temp, "wb");
    if (!f) {
        error = "cannot create " + temp + ": " + SystemErrorText();
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && FlushToDisk(f);
    written = std::fclose(f) == 0 && written;
    if (!written || !PutInPlace(temp, path)) {
        error = std::string(written ? "cannot replace " + path : "cannot write " + temp) + ": " + SystemErrorText();
        RemoveFile(temp);
        return false;
    }
    return true;
}

}  // namespace kvx
