#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <thread>

#include "ffmpeg/child_messages.h"
#include "platform/lock.h"

namespace kvx {
namespace {
constexpr size_t kKept = ChildMessages::kTailBytes;
}  // namespace

// A pipe whose far end the child writes to as its standard error, read by a thread that
// keeps only the last bytes: no file on any disk, and no limit to what a child may write.
struct ChildMessages::File {
    struct Kept {
        Lock lock;
        std::string bytes;  // the last ones read
        int readEnd = -1;
        ~Kept() {
            if (readEnd >= 0) close(readEnd);
        }
        // Reads what the pipe holds now; false at its end (every writer gone). Lock held.
        bool Drain() {
            char chunk[4096];
            for (;;) {
                const ssize_t got = read(readEnd, chunk, sizeof chunk);
                if (got == 0) return false;
                if (got < 0) return errno == EAGAIN || errno == EINTR;
                bytes.append(chunk, static_cast<size_t>(got));
                if (bytes.size() > 2 * kKept) bytes.erase(0, bytes.size() - kKept);
            }
        }
    };
    std::shared_ptr<Kept> kept;  // shared with the reading thread, which outlives this
    int writeEnd = -1, saved = -1;

    File() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        kept = std::make_shared<Kept>();
        kept->readEnd = ends[0];
        writeEnd = ends[1];
        try {
            std::thread(Read, kept).detach();
        } catch (...) {  // no thread: programs inherit standard error as it is
            kept.reset();
            close(writeEnd);
            writeEnd = -1;
        }
    }
    ~File() {
        if (writeEnd >= 0) close(writeEnd);  // the thread ends when the children's ends close too
    }
    static void Read(std::shared_ptr<Kept> kept) {
        for (;;) {
            pollfd ready{kept->readEnd, POLLIN, 0};
            if (poll(&ready, 1, -1) < 0 && errno != EINTR) return;
            LockGuard hold(kept->lock);
            if (!kept->Drain()) return;
        }
    }
    void Swap() {
        if (writeEnd < 0) return;
        std::fflush(stderr);
        if (saved < 0) {
            saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
            if (saved >= 0) dup2(writeEnd, 2);
        } else {
            dup2(saved, 2);
            close(saved);
            saved = -1;
        }
    }
    std::string Tail() const {
        if (!kept) return std::string();
        LockGuard hold(kept->lock);
        kept->Drain();  // what the child wrote before it ended, should the thread not have read it yet
        const std::string& b = kept->bytes;
        return b.size() > kKept ? b.substr(b.size() - kKept) : b;
    }
};

ChildMessages::ChildMessages() : file_(new File) {}
ChildMessages::~ChildMessages() = default;
void ChildMessages::Swap() { file_->Swap(); }
std::string ChildMessages::RawTail() const { return file_->Tail(); }

}  // namespace kvx
