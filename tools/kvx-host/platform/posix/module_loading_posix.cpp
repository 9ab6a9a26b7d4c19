#include <dlfcn.h>

#include "plugin/module_loading.h"

namespace kvx {

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

}  // namespace kvx
