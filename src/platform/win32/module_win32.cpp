#include <windows.h>

#include "platform/module.h"

namespace kvx {

void* ModuleHandle() {
    HMODULE module = nullptr;
    // Any address inside this module identifies it (no reference count taken).
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleHandle), &module);
    return module;
}

std::string ModuleBaseName() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(static_cast<HMODULE>(ModuleHandle()), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "KVX_Scaler";
    return FileBaseName(std::string(path, n));
}

}  // namespace kvx
