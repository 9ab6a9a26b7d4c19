// kvx-host's own file access with UTF-8 paths: on Windows through the wide-character calls,
// so any path works whatever the code page.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace kvx {

#if defined(_WIN32)
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
#endif

// Paths as the plug-in takes them (in the ANSI code page on Windows, as its host hands them
// over) turned into kvx-host's own UTF-8 ones, for kvx-host's file calls and messages; the
// same text on other systems.
std::string PluginPathToUtf8(const std::string& pluginPath);
// The other way: kvx-host's UTF-8 text in the plug-in's terms; false when the ANSI code page
// cannot spell it.
bool Utf8ToPluginPath(const std::string& utf8, std::string& pluginPath);

FILE* OpenFile(const std::string& path, const char* mode);
bool IsTerminal(FILE* file);
bool FileExists(const std::string& path);
// The whole file; false when it cannot be read (missing, a folder, denied).
bool ReadWholeFile(const std::string& path, std::string& bytes);
// Writes `bytes` to a new file beside `path` and puts it in place of `path` in one step, with
// the permissions `path` had: `path` is either the old or the new file. False (with `error`)
// leaves `path` as it was. Its own code, not the plug-in's file layer: kvx-host's paths are
// UTF-8 and go through the wide calls on Windows, the plug-in's are in the ANSI code page.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
// Whether a new file can be made beside `path` (tries one and removes it).
bool CanCreateBeside(const std::string& path, std::string& error);
// The lines of a text, without their line ends (LF or CR LF).
std::vector<std::string> SplitLines(const std::string& text);
// The last system error as text.
std::string SystemErrorText();

}  // namespace kvx
