#include <windows.h>

#include "files/files.h"
#include "plugin/module_loading.h"
#include "wide_text.h"

namespace kvx {

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

}  // namespace kvx
