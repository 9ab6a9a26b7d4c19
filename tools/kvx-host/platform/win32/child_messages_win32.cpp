#include <windows.h>

#include <algorithm>
#include <vector>

#include "ffmpeg/child_messages.h"

namespace kvx {

// Deleted by the system when the last handle (ours or the child's) is closed.
struct ChildMessages::File {
    HANDLE handle = INVALID_HANDLE_VALUE, saved = INVALID_HANDLE_VALUE;
    File() {
        wchar_t folder[MAX_PATH + 1], name[MAX_PATH + 1];
        if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"kvx", 0, name)) return;
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) DeleteFileW(name);
    }
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    void Swap() {
        if (handle == INVALID_HANDLE_VALUE) return;
        if (saved == INVALID_HANDLE_VALUE) {
            saved = GetStdHandle(STD_ERROR_HANDLE);
            SetStdHandle(STD_ERROR_HANDLE, handle);
        } else {
            SetStdHandle(STD_ERROR_HANDLE, saved);
            saved = INVALID_HANDLE_VALUE;
        }
    }
    std::string Tail() const {
        LARGE_INTEGER size{}, from{};
        if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &size)) return std::string();
        from.QuadPart = std::max<LONGLONG>(0, size.QuadPart - ChildMessages::kTailBytes);
        std::vector<char> bytes(static_cast<size_t>(size.QuadPart - from.QuadPart));
        DWORD got = 0;
        if (!SetFilePointerEx(handle, from, nullptr, FILE_BEGIN) ||
            !ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
            return std::string();
        return std::string(bytes.data(), got);
    }
};

ChildMessages::ChildMessages() : file_(new File) {}
ChildMessages::~ChildMessages() = default;
void ChildMessages::Swap() { file_->Swap(); }
std::string ChildMessages::RawTail() const { return file_->Tail(); }

}  // namespace kvx
