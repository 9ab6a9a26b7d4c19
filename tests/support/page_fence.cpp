#include "support/page_fence.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <cstring>

namespace kvx {

namespace {

bool NoAccess(uint8_t* page, size_t bytes) {
#if defined(_WIN32)
    DWORD old;
    return VirtualProtect(page, bytes, PAGE_NOACCESS, &old) != 0;
#else
    return mprotect(page, bytes, PROT_NONE) == 0;
#endif
}

const char* fencedCase = nullptr;

void SayFault() {
    static const char prefix[] = "\nfault at a no-access page while running: ";
    const char* what = fencedCase ? fencedCase : "(unnamed)";
#if defined(_WIN32)
    DWORD written;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    WriteFile(err, prefix, sizeof prefix - 1, &written, nullptr);
    WriteFile(err, what, static_cast<DWORD>(std::strlen(what)), &written, nullptr);
    WriteFile(err, "\n", 1, &written, nullptr);
#else
    (void)!write(2, prefix, sizeof prefix - 1);
    (void)!write(2, what, std::strlen(what));
    (void)!write(2, "\n", 1);
#endif
}

#if defined(_WIN32)
LONG WINAPI OnFault(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) SayFault();
    return EXCEPTION_CONTINUE_SEARCH;
}
#else
void OnFault(int signal) {
    SayFault();
    ::signal(signal, SIG_DFL);
    raise(signal);
}
#endif

}  // namespace

size_t PageSize() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

void NameFencedCase(const char* what) {
    static const bool installed = [] {
#if defined(_WIN32)
        SetUnhandledExceptionFilter(OnFault);
#else
        signal(SIGSEGV, OnFault);
        signal(SIGBUS, OnFault);
#endif
        return true;
    }();
    (void)installed;
    fencedCase = what;
}

PageFence::PageFence(size_t bytes) {
    const size_t page = PageSize();
    const size_t dataPages = (bytes + page - 1) / page + 1;
    mapped_ = (dataPages + 2) * page;
#if defined(_WIN32)
    base_ = VirtualAlloc(nullptr, mapped_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    base_ = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base_ == MAP_FAILED) base_ = nullptr;
#endif
    if (!base_) return;
    uint8_t* const first = static_cast<uint8_t*>(base_);
    if (!NoAccess(first, page) || !NoAccess(first + (dataPages + 1) * page, page)) return;
    begin_ = first + page;
    end_ = first + (dataPages + 1) * page;
}

PageFence::~PageFence() {
#if defined(_WIN32)
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
#else
    if (base_) munmap(base_, mapped_);
#endif
}

}  // namespace kvx
