#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors.h"
#include "files/files.h"
#include "run/settings_save.h"

namespace kvx {
namespace {

std::string Beside(const std::string& target) {
    const std::string folder = FolderPart(target);
    return folder.empty() ? "./" : folder;
}

// A folder a killed save left: a folder of this user's (no link) that holds an unlocked
// marker with kvx-host's words, and besides it at most the new file. Removed marker last,
// so a removal cut short leaves a folder that is still recognised.
void RemoveIfLeftOver(const std::string& folder) {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    bool onlyOurs = true;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        onlyOurs = onlyOurs && (name == "." || name == ".." || name == kSaveMarkerName || name == kSaveNewName);
    }
    closedir(dir);
    const std::string marker = folder + "/" + kSaveMarkerName, newFile = folder + "/" + kSaveNewName;
    const int fd = onlyOurs ? open(marker.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) return;
    char text[sizeof kSaveMarkerText];
    const ssize_t n = read(fd, text, sizeof text);
    const bool proven = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() &&
                        n == static_cast<ssize_t>(sizeof kSaveMarkerText - 1) && std::memcmp(text, kSaveMarkerText, n) == 0 &&
                        flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (proven && (lstat(newFile.c_str(), &st) != 0 || S_ISREG(st.st_mode))) {
        unlink(newFile.c_str());
        unlink(marker.c_str());
        rmdir(folder.c_str());
    }
    close(fd);
}

}  // namespace

SaveFolder::SaveFolder(const std::string& target) {
    std::string pattern = Beside(target) + kSaveFolderPrefix + "XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw RunError("cannot write into the folder of " + target + " (" + SystemErrorText() + ")");
    folder_ = pattern;
    // Locked under another name and only then given its own, so a save starting beside this
    // one never finds the marker unlocked.
    const std::string marker = folder_ + "/" + kSaveMarkerName, unnamed = marker + ".new";
    const int fd = open(unnamed.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    marker_ = fd;
    const ssize_t length = static_cast<ssize_t>(sizeof kSaveMarkerText - 1);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || write(fd, kSaveMarkerText, length) != length ||
        rename(unnamed.c_str(), marker.c_str()) != 0) {
        const std::string error = SystemErrorText();
        unlink(unnamed.c_str());
        Remove();
        throw RunError("cannot write into the folder of " + target + " (" + error + ")");
    }
}

SaveFolder::~SaveFolder() { Remove(); }

std::string SaveFolder::NewFile() const { return folder_ + "/" + kSaveNewName; }

void SaveFolder::Remove() {
    unlink(NewFile().c_str());
    unlink((folder_ + "/" + kSaveMarkerName).c_str());
    if (marker_ >= 0) close(static_cast<int>(marker_));
    marker_ = -1;
    rmdir(folder_.c_str());
}

void RemoveLeftOverSaves(const std::string& target) {
    const std::string folder = Beside(target);
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> found;
    while (const dirent* entry = readdir(dir))
        if (std::strncmp(entry->d_name, kSaveFolderPrefix, sizeof kSaveFolderPrefix - 1) == 0) found.push_back(entry->d_name);
    closedir(dir);
    for (const std::string& name : found) RemoveIfLeftOver(folder + name);
}

SaveTurn::SaveTurn(const std::string& path) {
    lock_ = open(Beside(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

SaveTurn::~SaveTurn() {
    if (lock_ >= 0) close(static_cast<int>(lock_));
}

bool SaveTurn::TryTake(int milliseconds) {
    if (held_ || lock_ < 0) return true;
    if (flock(static_cast<int>(lock_), LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR))
        return held_ = true;
    const timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);  // a signal ends it early, so a stop is seen at once
    return false;
}

}  // namespace kvx
