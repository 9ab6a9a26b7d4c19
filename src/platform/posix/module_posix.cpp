#include <dlfcn.h>

#include "platform/module.h"

namespace kvx {

void* ModuleHandle() { return nullptr; }

std::string ModuleBaseName() {
    Dl_info info{};
    // The shared object that holds this very function is the plug-in (or the test binary).
    if (!dladdr(reinterpret_cast<void*>(&ModuleBaseName), &info) || !info.dli_fname)
        return "KVX_Scaler";
    std::string name = info.dli_fname;
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

}  // namespace kvx
