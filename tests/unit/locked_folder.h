// A folder that refuses new files while the files in it stay writable, as an
// administrator's lock-down of a Plugins folder does: by its permissions, or, for root
// (whom permissions do not stop), by the file system's immutable flag. Undone on
// destruction, so the folder can be removed.
#pragma once
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace kvx {

class LockedFolder {
public:
    explicit LockedFolder(const std::string& folder) : folder_(folder) {
        chmod(folder_.c_str(), 0555);
        if (RefusesNewFiles()) return;
        int fd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) close(fd);
    }
    ~LockedFolder() {
        if (immutable_) {
            int fd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0) close(fd);
        }
        chmod(folder_.c_str(), 0755);
    }
    LockedFolder(const LockedFolder&) = delete;
    LockedFolder& operator=(const LockedFolder&) = delete;

    // False where neither way works here (root on a file system without the flag).
    bool RefusesNewFiles() const {
        const std::string probe = folder_ + "/probe";
        int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) return true;
        close(fd);
        unlink(probe.c_str());
        return false;
    }

private:
    std::string folder_;
    bool immutable_ = false;
};

}  // namespace kvx
