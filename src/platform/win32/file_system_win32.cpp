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

// ReplaceFileA, looked up when first needed: Windows 9x has none, and a static import
// would keep the library from loading there.
using ReplaceFileProc = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, DWORD, LPVOID, LPVOID);
ReplaceFileProc ReplaceFileFunction() {
    static const ReplaceFileProc replace = reinterpret_cast<ReplaceFileProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ReplaceFileA")));
    return replace;
}

class Win32Files final : public FileSystem {
public:
    ReadStatus ReadWhole(const std::string& path, std::vector<char>* bytes) override {
        bytes->clear();
        // No sharing: another instance saving at the same moment cannot mix its bytes in.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES
                       ? ReadStatus::kUnreadable
                       : ReadStatus::kMissing;
        ReadStatus status = ReadOpen(file, bytes);
        CloseHandle(file);
        if (status != ReadStatus::kRead) bytes->clear();
        return status;
    }

    CreateStatus WriteNew(const std::string& path, const char* data, size_t size) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError() == ERROR_FILE_EXISTS ? CreateStatus::kExists
                                                       : CreateStatus::kNotCreated;
        bool ok = WriteAt(file, data, size, 0) && FlushFileBuffers(file);
        ok = CloseHandle(file) && ok;
        return ok ? CreateStatus::kWritten : CreateStatus::kFailed;
    }

    bool Replace(const std::string& source, const std::string& target) override {
        // ReplaceFile keeps the old file's attributes, security and creation time.
        const DWORD attributes = GetFileAttributesA(target.c_str());
        ReplaceFileProc replace = ReplaceFileFunction();
        bool done = replace && replace(target.c_str(), source.c_str(), nullptr,
                                       REPLACEFILE_WRITE_THROUGH, nullptr, nullptr);
        // Where it is missing or fails (no old file yet, a file system it cannot handle),
        // a plain move, with the old attributes put back. Windows 9x has no MoveFileEx
        // either: the old file goes first, the complete new one follows.
        if (!done) done = MoveFileExA(source.c_str(), target.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!done && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
            DeleteFileA(target.c_str());
            done = MoveFileA(source.c_str(), target.c_str());
        }
        if (done && attributes != INVALID_FILE_ATTRIBUTES &&
            GetFileAttributesA(target.c_str()) != attributes)
            SetFileAttributesA(target.c_str(), attributes);
        return done;
    }

    bool Overwrite(const std::string& path, const char* data, size_t size) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

    void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }

    void CreateFolder(const std::string& path) override { CreateDirectoryA(path.c_str(), nullptr); }

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
    static Win32Files files;
    return files;
}

}  // namespace kvx
