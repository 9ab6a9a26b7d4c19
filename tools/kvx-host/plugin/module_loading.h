// Loading a library and finding its exports: LoadLibraryW / GetProcAddress on Windows,
// dlopen / dlsym elsewhere.
#pragma once
#include <string>

namespace kvx {

void* LoadModule(const std::string& path);  // null on failure, then LoadError() says why
void* FindSymbol(void* module, const char* name);
void UnloadModule(void* module);
std::string LoadError();

}  // namespace kvx
