// kvx-host's own file access with UTF-8 paths: on Windows through the wide-character calls,
// so any path works whatever the code page. The system-specific halves live in
// platform/posix/files_posix.cpp and platform/win32/files_win32.cpp.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kvx {

// Paths as the plug-in takes them (in the ANSI code page on Windows, as its host hands them
// over) turned into kvx-host's own UTF-8 ones, for kvx-host's file calls and messages; the
// same text on other systems.
std::string PluginPathToUtf8(const std::string& pluginPath);
// The other way: kvx-host's UTF-8 text in the plug-in's terms; false when the ANSI code page
// cannot spell it.
bool Utf8ToPluginPath(const std::string& utf8, std::string& pluginPath);

FILE* OpenFile(const std::string& path, const char* mode);
bool IsTerminal(FILE* file);
// A name Windows takes as a device in every folder (NUL, CON, AUX, PRN, COM1-9, LPT1-9, with
// any extension): never a file. Always false on other systems.
bool IsDeviceName(const std::string& path);
bool FileExists(const std::string& path);
// An environment variable's value in UTF-8 ("" when it is not set).
std::string EnvironmentValue(const char* name);
// The last system error as text.
std::string SystemErrorText();

// What a name is: two names are the same file when their identities are equal (device and
// inode; on Windows the volume serial number and file index, which also makes `A` and `a`,
// short names and full paths one file). A name that does not exist yet is known by its
// folder's identity and its last component, so `./new.mp4` and `new.mp4` are one too.
struct FileIdentity {
    uint64_t volume = 0, index = 0;
    std::string newName;  // "" for an existing file; else its last component (lower case on Windows)
    bool known = false;   // false: neither the file nor its folder exists
    bool operator==(const FileIdentity& o) const {
        return known && o.known && volume == o.volume && index == o.index && newName == o.newName;
    }
};
FileIdentity IdentifyFile(const std::string& path);
// Standard output's identity when it is a regular file (`known` false otherwise).
FileIdentity IdentifyStandardOutput();

struct FileFacts {
    bool exists = false, regular = false, folder = false;
    bool symlink = false;   // the name itself is a symbolic link (the rest describe its target)
    bool readOnly = false;  // the file refuses writing (its permissions, the read-only attribute)
    unsigned links = 1;     // hard links to the file
    uint64_t size = 0;
};
FileFacts InspectFile(const std::string& path);

// The file a symbolic link finally points to (an absolute path); `path` itself otherwise.
std::string ResolveLinks(const std::string& path);

// The folder part of `path` with its separator ("" for a bare name).
std::string FolderPart(const std::string& path);
// The last component of `path`.
std::string NamePart(const std::string& path);
// A name's extension in lower case ("" without one).
std::string Extension(const std::string& name);

// Makes a new folder inside `parent` (a folder part as FolderPart gives it) under an
// unpredictable name that starts with `prefix`, for this user alone: 0700 (on Windows it
// keeps its parent's permissions, so what is made in it gets those, and is hidden). Returns
// its path; "" with `error` when the folder refuses.
std::string MakePrivateFolder(const std::string& parent, const std::string& prefix, std::string& error);
// Removes an empty folder.
void RemoveFolder(const std::string& path);
// The names in a folder, without "." and "..".
std::vector<std::string> FolderNames(const std::string& folder);

// Creates the file `path`, which must not exist yet (a link planted there included),
// readable and writable by the user only; other programs of the user may still open it by
// its name and write it, as ffmpeg does. Returns it open for writing, and what it is in
// `made`; null when that fails.
FILE* CreateNewFile(const std::string& path, FileIdentity& made);
// Whether the name `path` itself (not what a link there points to) is the regular file `made`.
bool IsStillFile(const std::string& path, const FileIdentity& made);

// Puts the finished file `from` in place of `to`. `replace`: an existing `to` is replaced
// in one step and `from` takes its permissions; otherwise an existing `to` makes it fail.
// The folder is flushed so the new name survives a crash. False leaves `to` as it was.
bool MoveInto(const std::string& from, const std::string& to, bool replace);
void RemoveFile(const std::string& path);
// Flushes a file written through `file` to the disk.
bool FlushToDisk(FILE* file);

// Reads a file of at most `limit` bytes that must be a regular file; false with `error`
// (what is wrong, in words for the user) otherwise. Never blocks on a FIFO or a device.
bool ReadRegularFile(const std::string& path, uint64_t limit, std::string& bytes, std::string& error);
// The whole file; false when it cannot be read (missing, a folder, denied).
bool ReadWholeFile(const std::string& path, std::string& bytes);
// Writes `bytes` as the new content of `path` in one step, with the plug-in's own atomic
// replace (ReplaceFileContent): `path` is either the old or the new file, with the
// attributes and permissions it had. False (with `error`) leaves `path` as it was.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
// The lines of a text, without their line ends (LF or CR LF).
std::vector<std::string> SplitLines(const std::string& text);
// `text` with its ASCII letters in lower case.
std::string Lower(std::string text);

}  // namespace kvx
