#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ffmpeg/child_messages.h"

namespace kvx {

// Unnamed: tmpfile() removes its name at once, so nothing is left behind whatever happens.
struct ChildMessages::File {
    FILE* file = std::tmpfile();
    int saved = -1;
    File() {
        if (file) fcntl(fileno(file), F_SETFD, FD_CLOEXEC);  // only as standard error
    }
    ~File() {
        if (file) std::fclose(file);
    }
    void Swap() {
        if (!file) return;
        std::fflush(stderr);
        if (saved < 0) {
            saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
            if (saved >= 0) dup2(fileno(file), 2);
        } else {
            dup2(saved, 2);
            close(saved);
            saved = -1;
        }
    }
    std::string Tail() const {
        if (!file) return std::string();
        off_t size = lseek(fileno(file), 0, SEEK_END), from = std::max<off_t>(0, size - ChildMessages::kTailBytes);
        std::vector<char> bytes(static_cast<size_t>(size - from));
        ssize_t got = pread(fileno(file), bytes.data(), bytes.size(), from);
        return got > 0 ? std::string(bytes.data(), static_cast<size_t>(got)) : std::string();
    }
};

ChildMessages::ChildMessages() : file_(new File) {}
ChildMessages::~ChildMessages() = default;
void ChildMessages::Swap() { file_->Swap(); }
std::string ChildMessages::RawTail() const { return file_->Tail(); }

}  // namespace kvx
