#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "files/files.h"
#include "files/run_marker.h"

namespace kvx {
namespace {

// Random letters for names nobody can guess ahead of a run.
std::string RandomLetters() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[10];
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    ssize_t got = fd >= 0 ? read(fd, bytes, sizeof bytes) : -1;
    if (fd >= 0) close(fd);
    if (got != static_cast<ssize_t>(sizeof bytes))
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(std::rand());
    std::string text;
    for (unsigned char b : bytes) text += kLetters[b % 36];
    return text;
}

void FlushFolderOf(const std::string& path) {
    const std::string folder = FolderPart(path);
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

FileIdentity Identity(const struct stat& st) {
    FileIdentity id;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.index = static_cast<uint64_t>(st.st_ino);
    id.known = true;
    return id;
}

}  // namespace

std::string PluginPathToUtf8(const std::string& pluginPath) { return pluginPath; }
bool Utf8ToPluginPath(const std::string& utf8, std::string& pluginPath) {
    pluginPath = utf8;
    return true;
}
FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
bool IsTerminal(FILE* file) { return isatty(fileno(file)) != 0; }
bool IsDeviceName(const std::string&) { return false; }
bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
std::string SystemErrorText() { return std::strerror(errno); }

FileIdentity IdentifyFile(const std::string& path) {
    struct stat st;
    std::string name;
    if (stat(path.c_str(), &st) != 0) {
        const std::string folder = FolderPart(path);
        name = NamePart(path);
        if (name.empty() || stat(folder.empty() ? "." : folder.c_str(), &st) != 0) return FileIdentity();
    }
    FileIdentity id = Identity(st);
    id.newName = name;
    return id;
}

FileIdentity IdentifyStandardOutput() {
    struct stat st;
    return fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) ? Identity(st) : FileIdentity();
}

FileFacts InspectFile(const std::string& path) {
    FileFacts facts;
    struct stat st;
    facts.symlink = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (stat(path.c_str(), &st) != 0) return facts;
    facts.exists = true;
    facts.regular = S_ISREG(st.st_mode);
    facts.folder = S_ISDIR(st.st_mode);
    facts.links = static_cast<unsigned>(st.st_nlink);
    facts.size = static_cast<uint64_t>(st.st_size);
    facts.readOnly = access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
    return facts;
}

std::string ResolveLinks(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string text = resolved;
    std::free(resolved);
    return text;
}

std::string MakePrivateFolder(const std::string& parent, const std::string& prefix, std::string& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = parent + prefix + RandomLetters();
        if (mkdir(folder.c_str(), 0700) == 0) return folder;
        if (errno != EEXIST) break;
    }
    error = "its folder takes no new files (" + SystemErrorText() + ")";
    return std::string();
}

void RemoveFolder(const std::string& path) { rmdir(path.c_str()); }

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

FILE* CreateNewFile(const std::string& path, FileIdentity& made) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        return nullptr;
    }
    made = Identity(st);
    return fdopen(fd, "wb");
}

bool IsStillFile(const std::string& path, const FileIdentity& made) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && Identity(st) == made;
}

bool MoveInto(const std::string& from, const std::string& to, bool replace) {
    // The new file takes the old one's permissions, as the plug-in's own save does, so a
    // file kept private stays private; a new one those a file made by the user would have.
    struct stat old;
    mode_t mode;
    if (replace && stat(to.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (chmod(from.c_str(), mode) != 0) return false;
    if (replace) {
        if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    } else if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        // File systems without that flag: a hard link, which fails as well when `to` exists.
        if ((errno != EINVAL && errno != ENOSYS) || link(from.c_str(), to.c_str()) != 0) return false;
        unlink(from.c_str());
    }
    FlushFolderOf(to);
    return true;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

bool FlushToDisk(FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

RunMarker::RunMarker(const std::string& folder) : path_(folder + "/" + kRunMarkerName) {
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) lock_ = fd;
    if (!Append(kRunMarkerText)) {
        if (fd >= 0) close(fd);
        if (fd >= 0) unlink(path_.c_str());
        lock_ = -1;
    }
}

RunMarker::~RunMarker() {
    if (lock_ == -1) return;
    unlink(path_.c_str());  // still locked: a run looking meanwhile sees the lock, or no marker
    close(static_cast<int>(lock_));
}

bool RunMarker::Append(const std::string& text) {
    return lock_ != -1 && write(static_cast<int>(lock_), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::string AbandonedRunMarker(const std::string& folder) {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return std::string();
    const int fd = open((folder + "/" + kRunMarkerName).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string();
    char text[4096];
    const ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                              flock(fd, LOCK_EX | LOCK_NB) == 0
                          ? read(fd, text, sizeof text)
                          : -1;
    close(fd);
    const std::string marker(text, n > 0 ? static_cast<size_t>(n) : 0);
    return marker.compare(0, sizeof kRunMarkerText - 1, kRunMarkerText) == 0 ? marker : std::string();
}

bool ReadRegularFile(const std::string& path, uint64_t limit, std::string& bytes, std::string& error) {
    // Non-blocking, so a FIFO cannot stall the open; its type is checked before any read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = SystemErrorText();
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) error = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
    else if (ok && static_cast<uint64_t>(st.st_size) > limit)
        error = "it is " + std::to_string(st.st_size >> 20) + " MiB, far more than any settings file";
    ok = ok && error.empty();
    bytes.clear();
    char block[65536];
    while (ok) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || bytes.size() + static_cast<size_t>(n) > limit) {
            if (n < 0) error = SystemErrorText();
            else if (n > 0) error = "it grew past " + std::to_string(limit >> 20) + " MiB while being read";
            ok = n == 0;
            break;
        }
        bytes.append(block, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

}  // namespace kvx
