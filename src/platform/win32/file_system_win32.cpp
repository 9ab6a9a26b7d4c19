#include <windows.h>

#include <climits>
#include <new>

#include "platform/file_system.h"

namespace kvx {
namespace {

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
                                                       : CreateStatus::kFailed;
        bool ok = true;
        while (ok && size > 0) {
            DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
            DWORD written = 0;
            ok = WriteFile(file, data, chunk, &written, nullptr) && written > 0;
            data += written;
            size -= written;
        }
        ok = ok && FlushFileBuffers(file);
        ok = CloseHandle(file) && ok;
        return ok ? CreateStatus::kWritten : CreateStatus::kFailed;
    }

    bool Replace(const std::string& source, const std::string& target) override {
        if (MoveFileExA(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        // Windows 9x has no MoveFileEx: the old file goes first, the complete new one follows.
        if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
        DeleteFileA(target.c_str());
        return MoveFileA(source.c_str(), target.c_str()) != 0;
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
