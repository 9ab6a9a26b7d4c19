#include <windows.h>

#include <climits>
#include <new>

#include "platform/file_system.h"

namespace kvx {
namespace {

// Writes all bytes at `offset`; false on any error (a full disk, a quota).
bool WriteAt(HANDLE file, const char* data, size_t size, DWORD offset) {
    if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Cuts the file at `size` bytes.
bool EndAt(HANDLE file, DWORD size) {
    return SetFilePointer(file, static_cast<LONG>(size), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           SetEndOfFile(file);
}

// Paths in the ANSI code page, as the host hands them to the plug-in, through the A calls
// (which Windows 9x has too).
struct AnsiNames {
    using Char = char;
    static std::string Native(const std::string& path) { return path; }
    static constexpr const char* kReplaceFile = "ReplaceFileA";
    static HANDLE Create(const std::string& p, DWORD access, DWORD disposition) {
        return CreateFileA(p.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static DWORD Attributes(const std::string& p) { return GetFileAttributesA(p.c_str()); }
    static BOOL SetAttributes(const std::string& p, DWORD a) { return SetFileAttributesA(p.c_str(), a); }
    static BOOL MoveEx(const std::string& from, const std::string& to, DWORD flags) {
        return MoveFileExA(from.c_str(), to.c_str(), flags);
    }
    static BOOL Move(const std::string& from, const std::string& to) { return MoveFileA(from.c_str(), to.c_str()); }
    static BOOL Delete(const std::string& p) { return DeleteFileA(p.c_str()); }
    static BOOL MakeFolder(const std::string& p) { return CreateDirectoryA(p.c_str(), nullptr); }
};

// UTF-8 paths (kvx-host's) through the wide calls, so any path works whatever the code page.
struct Utf8Names {
    using Char = wchar_t;
    static std::wstring Native(const std::string& path) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(n), L'\0');
        if (n > 0) MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0], n);
        return wide;
    }
    static constexpr const char* kReplaceFile = "ReplaceFileW";
    static HANDLE Create(const std::string& p, DWORD access, DWORD disposition) {
        return CreateFileW(Native(p).c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static DWORD Attributes(const std::string& p) { return GetFileAttributesW(Native(p).c_str()); }
    static BOOL SetAttributes(const std::string& p, DWORD a) { return SetFileAttributesW(Native(p).c_str(), a); }
    static BOOL MoveEx(const std::string& from, const std::string& to, DWORD flags) {
        return MoveFileExW(Native(from).c_str(), Native(to).c_str(), flags);
    }
    static BOOL Move(const std::string& from, const std::string& to) {
        return MoveFileW(Native(from).c_str(), Native(to).c_str());
    }
    static BOOL Delete(const std::string& p) { return DeleteFileW(Native(p).c_str()); }
    static BOOL MakeFolder(const std::string& p) { return CreateDirectoryW(Native(p).c_str(), nullptr); }
};

// ReplaceFile, looked up when first needed: Windows 9x has none, and a static import
// would keep the library from loading there.
template <class Names>
BOOL ReplaceWithFile(const std::string& target, const std::string& source) {
    using Char = typename Names::Char;
    using ReplaceFileProc = BOOL(WINAPI*)(const Char*, const Char*, const Char*, DWORD, LPVOID, LPVOID);
    static const ReplaceFileProc replace = reinterpret_cast<ReplaceFileProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), Names::kReplaceFile)));
    return replace && replace(Names::Native(target).c_str(), Names::Native(source).c_str(), nullptr,
                              REPLACEFILE_WRITE_THROUGH, nullptr, nullptr);
}

template <class Names>
class Win32Files final : public FileSystem {
public:
    ReadStatus ReadWhole(const std::string& path, std::vector<char>* bytes) override {
        bytes->clear();
        // No sharing: another instance saving at the same moment cannot mix its bytes in.
        HANDLE file = Names::Create(path, GENERIC_READ, OPEN_ALWAYS);
        if (file == INVALID_HANDLE_VALUE)
            return Names::Attributes(path) != INVALID_FILE_ATTRIBUTES
                       ? ReadStatus::kUnreadable
                       : ReadStatus::kMissing;
        ReadStatus status = ReadOpen(file, bytes);
        CloseHandle(file);
        if (status != ReadStatus::kRead) bytes->clear();
        return status;
    }

    CreateStatus WriteNew(const std::string& path, const char* data, size_t size) override {
        HANDLE file = Names::Create(path, GENERIC_WRITE, CREATE_NEW);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError() == ERROR_FILE_EXISTS ? CreateStatus::kExists
                                                       : CreateStatus::kNotCreated;
        bool ok = WriteAt(file, data, size, 0) && FlushFileBuffers(file);
        ok = CloseHandle(file) && ok;
        return ok ? CreateStatus::kWritten : CreateStatus::kFailed;
    }

    bool Replace(const std::string& source, const std::string& target) override {
        // ReplaceFile keeps the old file's attributes, security and creation time.
        const DWORD attributes = Names::Attributes(target);
        bool done = ReplaceWithFile<Names>(target, source) != 0;
        // Where it is missing or fails (no old file yet, a file system it cannot handle),
        // a plain move, with the old attributes put back. Windows 9x has no MoveFileEx
        // either: the old file goes first, the complete new one follows.
        if (!done) done = Names::MoveEx(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        if (!done && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
            Names::Delete(target);
            done = Names::Move(source, target) != 0;
        }
        if (done && attributes != INVALID_FILE_ATTRIBUTES && Names::Attributes(target) != attributes)
            Names::SetAttributes(target, attributes);
        return done;
    }

    bool Overwrite(const std::string& path, const char* data, size_t size) override {
        HANDLE file = Names::Create(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
        if (file == INVALID_HANDLE_VALUE) return false;
        std::vector<char> old;
        bool ok = ReadOpen(file, &old) == ReadStatus::kRead && size < static_cast<size_t>(INT_MAX);
        const DWORD oldSize = static_cast<DWORD>(old.size());
        // The part past the old end first: when the disk or a quota stops it, cutting the
        // file back to its old length leaves it as it was.
        if (ok && size > old.size()) {
            ok = WriteAt(file, data + old.size(), size - old.size(), oldSize) && FlushFileBuffers(file);
            if (!ok) EndAt(file, oldSize);
        }
        // Then the old extent, which needs no new room, and the end cut to the new length.
        if (ok) {
            const size_t head = size < old.size() ? size : old.size();
            ok = WriteAt(file, data, head, 0) && EndAt(file, static_cast<DWORD>(size)) &&
                 FlushFileBuffers(file);
            if (!ok && WriteAt(file, old.data(), old.size(), 0)) EndAt(file, oldSize);
        }
        ok = CloseHandle(file) && ok;
        return ok;
    }

    void Remove(const std::string& path) override { Names::Delete(path); }

    void CreateFolder(const std::string& path) override { Names::MakeFolder(path); }

private:
    static ReadStatus ReadOpen(HANDLE file, std::vector<char>* bytes) {
        DWORD high = 0;
        DWORD size = GetFileSize(file, &high);
        if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return ReadStatus::kUnreadable;
        if (high != 0 || size >= static_cast<DWORD>(INT_MAX)) return ReadStatus::kUnreadable;
        try {
            bytes->resize(size);
        } catch (const std::bad_alloc&) {
            return ReadStatus::kUnreadable;
        }
        DWORD done = 0;
        while (done < size) {
            DWORD n = 0;
            if (!ReadFile(file, bytes->data() + done, size - done, &n, nullptr) || n == 0)
                return ReadStatus::kUnreadable;
            done += n;
        }
        return ReadStatus::kRead;
    }
};

}  // namespace

FileSystem& SystemFiles() {
    static Win32Files<AnsiNames> files;
    return files;
}

FileSystem& Utf8Files() {
    static Win32Files<Utf8Names> files;
    return files;
}

}  // namespace kvx
