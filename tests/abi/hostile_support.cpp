#include "hostile_support.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvx {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::string ExecutableFolder() {
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
#else
    char path[4096] = {};
    if (readlink("/proc/self/exe", path, sizeof(path) - 1) <= 0) return "./";
#endif
    std::string p(path);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

}  // namespace

std::string SettingsFilePath() { return ExecutableFolder() + "Plugins/KVX_Scaler.ini"; }

bool ReadWholeFile(const std::string& path, std::string* text) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    text->clear();
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text->append(chunk, n);
    std::fclose(f);
    return true;
}

SettingsFileScope::SettingsFileScope(const std::string& text) {
    const std::string folder = ExecutableFolder() + "Plugins";
#if defined(_WIN32)
    CreateDirectoryA(folder.c_str(), nullptr);
#else
    mkdir(folder.c_str(), 0755);
#endif
    WriteWholeFile(SettingsFilePath(), text);
}

void SettingsFileScope::Remove() { std::remove(SettingsFilePath().c_str()); }

std::string ProcessingSettings(int scale, int deinterlace, int interlace) {
    return "[SETTINGS]\r\nCommon=1\r\n[COMMON]\r\nProcEnable=1\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=" +
           std::to_string(scale) + "\r\nScaleY=" + std::to_string(scale) +
           "\r\nKeepAspect=1\r\nInterlace=" + std::to_string(interlace) +
           "\r\nDeinterlace=" + std::to_string(deinterlace) + "\r\n";
}

Picture::Picture(VideoFormat f) : format(f) {
    size_t n = static_cast<size_t>(f.width) * static_cast<size_t>(f.height) *
               static_cast<size_t>(f.bytesPerPixel);
    bytes.resize(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 1440 + 1);
}

bool Picture::TopRowBlack() const {
    for (int32_t x = 0; x < 2 * format.width; ++x)
        if (bytes[x] != (x % 2 ? 128 : 0)) return false;
    return true;
}

#if defined(_WIN32)
BOOL CALLBACK TakeDialog(HWND window, LPARAM out) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}

void* FindThreadDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), TakeDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}
#endif

bool AddressSpaceSqueeze::Available() { return !kSanitized; }

AddressSpaceSqueeze::AddressSpaceSqueeze() {
    if (!Available()) return;
#if defined(_WIN32)
    // Reserve every free stretch of 1 MiB or more: committing nothing, but leaving the heap
    // no room to grow for a large block.
    for (size_t size = size_t{1} << 30; size >= (size_t{1} << 20); size /= 2)
        while (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
            reserved_.push_back(block);
#else
    // Room for a few more megabytes of mappings, no more.
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    rlimit limit;
    if (pages <= 0 || getrlimit(RLIMIT_AS, &limit) != 0) return;
    oldLimit_ = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(pages) * PageSize() + (rlim_t{8} << 20);
    limited_ = setrlimit(RLIMIT_AS, &limit) == 0;
#endif
}

AddressSpaceSqueeze::~AddressSpaceSqueeze() { Release(); }

void AddressSpaceSqueeze::Release() {
#if defined(_WIN32)
    for (void* block : reserved_) VirtualFree(block, 0, MEM_RELEASE);
    reserved_.clear();
#else
    if (limited_) {
        rlimit limit;
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = static_cast<rlim_t>(oldLimit_);
        setrlimit(RLIMIT_AS, &limit);
        limited_ = false;
    }
#endif
}

}  // namespace kvx
