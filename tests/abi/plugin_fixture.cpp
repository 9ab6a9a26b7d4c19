#include "plugin_fixture.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kvx {

std::string PluginPath() {
    if (const char* env = std::getenv("KVX_PLUGIN")) return env;
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + "KVX_Scaler.dll";
#else
    char path[4096] = {};
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string dir(path, n > 0 ? n : 0);
    return dir.substr(0, dir.find_last_of('/') + 1) + "KVX_Scaler.so";
#endif
}

}  // namespace kvx
