// The plug-in's own module: its file's base name (the settings file is named after it)
// and, on Windows, its handle (dialog templates and bitmaps are looked up there).
#pragma once
#include <string>

namespace kvx {

// The module file's name without folder and extension, e.g. "KVX_Scaler".
std::string ModuleBaseName();

// A file path's name without folder (either slash) and extension: "C:\\a\\KVX_Scaler.dll" gives
// "KVX_Scaler".
std::string FileBaseName(const std::string& path);

// The module handle (an HMODULE on Windows, null natively).
void* ModuleHandle();

}  // namespace kvx
