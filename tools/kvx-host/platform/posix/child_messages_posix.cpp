#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ffmpeg/child_messages.h"
#include "platform/lock.h"

namespace kvx {

// A pipe whose far end the child writes to as its standard error, read by a thread that
// keeps only the last bytes: no file on any disk, and no limit to what a child may write.
// The thread neither allocates nor frees: with its own malloc arena, a thread leaves the
// process address space that a later large allocation may take despite a limit on it.
struct ChildMessages::File {
    static constexpr size_t kKept = 2 * ChildMessages::kTailBytes;
    Lock lock;
    char kept[kKept];  // the last bytes read, the oldest first
    size_t used = 0;
    int readEnd = -1, writeEnd = -1, saved = -1;
    int wake[2] = {-1, -1};  // written to when the thread is to end
    pthread_t thread{};
    bool reading = false;

    File() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        readEnd = ends[0];
        writeEnd = ends[1];
        fcntl(readEnd, F_SETFL, O_NONBLOCK);
        pthread_attr_t small;
        pthread_attr_init(&small);
        pthread_attr_setstacksize(&small, 256 << 10);
        reading = pipe2(wake, O_CLOEXEC) == 0 && pthread_create(&thread, &small, Read, this) == 0;
        pthread_attr_destroy(&small);
        if (!reading) {  // programs inherit standard error as it is
            close(writeEnd);
            writeEnd = -1;
        }
    }
    ~File() {
        if (reading) {
            const char end = 0;
            while (write(wake[1], &end, 1) < 0 && errno == EINTR) {
            }
            pthread_join(thread, nullptr);
        }
        for (int fd : {readEnd, writeEnd, wake[0], wake[1]})
            if (fd >= 0) close(fd);
    }
    static void* Read(void* self) {
        File& f = *static_cast<File*>(self);
        for (;;) {
            pollfd ready[2] = {{f.readEnd, POLLIN, 0}, {f.wake[0], POLLIN, 0}};
            if (poll(ready, 2, -1) < 0 && errno != EINTR) return nullptr;
            if (ready[1].revents) return nullptr;
            LockGuard hold(f.lock);
            if (!f.Drain()) return nullptr;
        }
    }
    // Reads what the pipe holds now; false at its end (every writer gone). Lock held.
    bool Drain() {
        char chunk[4096];
        for (;;) {
            const ssize_t got = read(readEnd, chunk, sizeof chunk);
            if (got == 0) return false;
            if (got < 0) return errno == EAGAIN || errno == EINTR;
            Keep(chunk, static_cast<size_t>(got));
        }
    }
    void Keep(const char* bytes, size_t n) {
        if (n >= kKept) {
            std::memcpy(kept, bytes + n - kKept, kKept);
            used = kKept;
            return;
        }
        if (used + n > kKept) {
            const size_t drop = used + n - kKept;
            std::memmove(kept, kept + drop, used - drop);
            used -= drop;
        }
        std::memcpy(kept + used, bytes, n);
        used += n;
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
    std::string Tail() {
        if (readEnd < 0) return std::string();
        LockGuard hold(lock);
        Drain();  // what the child wrote before it ended, should the thread not have read it yet
        const size_t from = used > static_cast<size_t>(kTailBytes) ? used - kTailBytes : 0;
        return std::string(kept + from, used - from);
    }
};

ChildMessages::ChildMessages() : file_(new File) {}
ChildMessages::~ChildMessages() = default;
void ChildMessages::Swap() { file_->Swap(); }
std::string ChildMessages::RawTail() const { return file_->Tail(); }

}  // namespace kvx
