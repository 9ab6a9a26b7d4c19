#include <dlfcn.h>

#include "platform/module.h"

namespace kvx {

void* ModuleHandle() { return nullptr; }

std::string ModuleBaseName() {
    Dl_info info{};
    // The shared object that holds this very function is the plug-in (or the test binary).
    if (!dladdr(reinterpret_cast<void*>(&ModuleBaseName), &info) || !info.dli_fname)
        return "KVX_Scaler";
    return FileBaseName(info.dli_fname);
}

}  // namespace kvx
