// Whole-file operations used by the settings file, behind one replaceable instance so
// tests can inject failures (a locked file, a full disk, a failed replace).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace kvx {

enum class ReadStatus {
    kRead,        // the bytes were read; a missing file was created empty (no bytes)
    kMissing,     // there is no file and none could be created (the folder is missing)
    kUnreadable,  // something is there but could not be read (locked, denied, a folder, too big)
};

enum class CreateStatus {
    kWritten,     // created, written whole and flushed to disk
    kExists,      // the name is taken; nothing was touched
    kNotCreated,  // the folder refuses a new file (denied, read-only); nothing was touched
    kFailed,      // writing or flushing failed; a partial file may be left behind
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Reads the whole file, creating an empty one when there is none. Files of 2 GiB and
    // more count as unreadable (sizes are 32-bit signed).
    virtual ReadStatus ReadWhole(const std::string& path, std::vector<char>* bytes) = 0;
    // Creates a file that must not exist yet, writes all bytes and flushes them to disk.
    virtual CreateStatus WriteNew(const std::string& path, const char* data, size_t size) = 0;
    // Puts `source` in place of `target` in one step, durably, keeping the attributes and
    // permissions `target` had; false leaves both as they were.
    virtual bool Replace(const std::string& source, const std::string& target) = 0;
    // Rewrites an existing file in place with all bytes and flushes them to disk; false
    // leaves the file with its old content (and creates none).
    virtual bool Overwrite(const std::string& path, const char* data, size_t size) = 0;
    virtual void Remove(const std::string& path) = 0;
    // Creates one folder, the last component of `path`; callers ignore failures.
    virtual void CreateFolder(const std::string& path) = 0;
};

// The system's own file operations, with paths as the host hands them to the plug-in (in
// the ANSI code page on Windows).
FileSystem& SystemFiles();
// The same with UTF-8 paths (on Windows through the wide calls): kvx-host's own files.
FileSystem& Utf8Files();
// The instance in use: the system's own unless a test installed another.
FileSystem& Files();
// Installs `files` (null puts the system's own back) and returns the one in use before.
FileSystem* SetFiles(FileSystem* files);

// Writes `data` as the new content of `path` without ever leaving a partial file there:
// the text goes to a fresh temporary file beside it (created exclusively), reaches the
// disk, and only then takes the old file's place, keeping its attributes and permissions.
// On any failure the old file stays and the temporary goes. A folder that lets the file
// be rewritten but no file be created (a locked-down Plugins folder) gets the file
// rewritten in place, whole or not at all.
bool ReplaceFileContent(FileSystem& files, const std::string& path, const char* data, size_t size);

}  // namespace kvx
