#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <new>

#include "platform/file_system.h"

namespace kvx {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Writes all bytes at `offset`; false on any error (a full disk, a size limit).
bool WriteAt(int fd, const char* data, size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

class PosixFiles final : public FileSystem {
public:
    ReadStatus ReadWhole(const std::string& path, std::vector<char>* bytes) override {
        bytes->clear();
        // Non-blocking, so a FIFO placed where the file belongs cannot stall the open.
        int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) return Exists(path) ? ReadStatus::kUnreadable : ReadStatus::kMissing;
        ReadStatus status = ReadOpen(fd, bytes);
        close(fd);
        if (status != ReadStatus::kRead) bytes->clear();
        return status;
    }

    CreateStatus WriteNew(const std::string& path, const char* data, size_t size) override {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return errno == EEXIST ? CreateStatus::kExists : CreateStatus::kNotCreated;
        bool ok = WriteAt(fd, data, size, 0) && fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        return ok ? CreateStatus::kWritten : CreateStatus::kFailed;
    }

    bool Replace(const std::string& source, const std::string& target) override {
        // The new file takes the old one's permissions (and owner, where that is allowed).
        struct stat old;
        if (stat(target.c_str(), &old) == 0) {
            if (chown(source.c_str(), old.st_uid, old.st_gid) != 0) {
                // only the owner's own files, or root: the new file stays ours
            }
            if (chmod(source.c_str(), old.st_mode & 07777) != 0) return false;
        }
        if (rename(source.c_str(), target.c_str()) != 0) return false;
        // The new name must reach the disk too, or a crash could bring the old file back.
        int dir = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
        return true;
    }

    bool Overwrite(const std::string& path, const char* data, size_t size) override {
        int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        std::vector<char> old;
        bool ok = ReadOpen(fd, &old) == ReadStatus::kRead && size < INT_MAX;
        const off_t oldSize = static_cast<off_t>(old.size());
        // The part past the old end first: when the disk or a size limit stops it, cutting
        // the file back to its old length leaves it as it was.
        if (ok && size > old.size()) {
            ok = WriteAt(fd, data + old.size(), size - old.size(), oldSize) && fsync(fd) == 0;
            if (!ok) PutBack(fd, old, false);
        }
        // Then the old extent, which needs no new room, and the end cut to the new length.
        if (ok) {
            const size_t head = size < old.size() ? size : old.size();
            ok = WriteAt(fd, data, head, 0) &&
                 (size >= old.size() || ftruncate(fd, static_cast<off_t>(size)) == 0) &&
                 fsync(fd) == 0;
            if (!ok) PutBack(fd, old, true);
        }
        ok = close(fd) == 0 && ok;
        return ok;
    }

    void Remove(const std::string& path) override { unlink(path.c_str()); }

    void CreateFolder(const std::string& path) override { mkdir(path.c_str(), 0755); }

private:
    // Returns a file that a failed rewrite touched to its old length (and old bytes).
    static void PutBack(int fd, const std::vector<char>& old, bool bytesToo) {
        if (bytesToo && !WriteAt(fd, old.data(), old.size(), 0)) return;
        if (ftruncate(fd, static_cast<off_t>(old.size())) == 0) fsync(fd);
    }

    static ReadStatus ReadOpen(int fd, std::vector<char>* bytes) {
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return ReadStatus::kUnreadable;
        if (st.st_size >= INT_MAX) return ReadStatus::kUnreadable;
        try {
            bytes->resize(static_cast<size_t>(st.st_size));
        } catch (const std::bad_alloc&) {
            return ReadStatus::kUnreadable;
        }
        size_t done = 0;
        while (done < bytes->size()) {
            ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return ReadStatus::kUnreadable;  // error, or the file shrank under us
            done += static_cast<size_t>(n);
        }
        return ReadStatus::kRead;
    }
};

}  // namespace

FileSystem& SystemFiles() {
    static PosixFiles files;
    return files;
}

FileSystem& Utf8Files() { return SystemFiles(); }

}  // namespace kvx
