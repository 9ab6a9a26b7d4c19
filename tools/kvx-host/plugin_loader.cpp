#include "plugin_loader.h"

#include "files.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kvx {

namespace {

#if defined(_WIN32)
// UTF-8 path through the wide call: any path works whatever the code page.
void* LoadModule(const std::string& path) { return LoadLibraryW(Widen(path).c_str()); }
void* FindSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
void UnloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
std::string LoadError() {
    DWORD code = GetLastError();
    std::string text = SystemErrorText();
    if (code == ERROR_MOD_NOT_FOUND) text += ": the file or a library it needs was not found";
    if (code == ERROR_BAD_EXE_FORMAT) text += ": not a 32-bit Windows DLL";
    return text;
}
#else
void* LoadModule(const std::string& path) {
    // A bare file name would make dlopen search the library path, not the current folder.
    std::string p = path.find('/') == std::string::npos ? "./" + path : path;
    return dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* FindSymbol(void* module, const char* name) { return dlsym(module, name); }
void UnloadModule(void* module) { dlclose(module); }
std::string LoadError() {
    const char* e = dlerror();
    return e ? e : "unknown error";
}
#endif

}  // namespace

bool PluginLibrary::Open(const std::string& path, std::string& error) {
    Close();
    handle_ = LoadModule(path);
    if (!handle_) {
        error = "cannot load plug-in " + path + ": " + LoadError();
        return false;
    }
    auto version = reinterpret_cast<PluginVersionProc>(FindSymbol(handle_, "Korvanta_Plugin_Version"));
    auto describe = reinterpret_cast<PluginDescriptorProc>(FindSymbol(handle_, "Korvanta_Plugin_PR"));
    if (!version || !describe) {
        error = path + " is not a plug-in: it does not export Korvanta_Plugin_Version and Korvanta_Plugin_PR";
        Close();
        return false;
    }
    version_ = version();
    if (version_ != kPluginInterfaceVersion) {
        error = path + " has interface version " + std::to_string(version_) + ", expected " +
                std::to_string(kPluginInterfaceVersion);
        Close();
        return false;
    }
    descriptor_ = describe();
    if (!descriptor_) {
        error = path + " returned no callback table";
        Close();
        return false;
    }
    return true;
}

void PluginLibrary::Close() {
    if (handle_) UnloadModule(handle_);
    handle_ = nullptr;
    descriptor_ = nullptr;
    version_ = 0;
}

}  // namespace kvx
