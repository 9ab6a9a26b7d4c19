#include <windows.h>

#include <memory>

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
        HANDLE readEnd = INVALID_HANDLE_VALUE;
        ~Kept() {
            if (readEnd != INVALID_HANDLE_VALUE) CloseHandle(readEnd);
        }
        // Reads what the pipe holds now; false at its end (every writer gone). Lock held.
        bool Drain() {
            for (;;) {
                DWORD waiting = 0, got = 0;
                if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr)) return false;
                if (waiting == 0) return true;
                char chunk[4096];
                if (!ReadFile(readEnd, chunk, waiting < sizeof chunk ? waiting : sizeof chunk, &got, nullptr))
                    return false;
                bytes.append(chunk, got);
                if (bytes.size() > 2 * kKept) bytes.erase(0, bytes.size() - kKept);
            }
        }
    };
    std::shared_ptr<Kept> kept;  // shared with the reading thread, which outlives this
    HANDLE writeEnd = INVALID_HANDLE_VALUE, saved = INVALID_HANDLE_VALUE;

    File() {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE readEnd;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        kept = std::make_shared<Kept>();
        kept->readEnd = readEnd;
        // An anonymous pipe cannot be waited on: the thread looks at it every few
        // milliseconds and reads what came, so a reader never blocks inside ReadFile
        // while Tail wants the pipe.
        auto* own = new std::shared_ptr<Kept>(kept);
        HANDLE thread = CreateThread(nullptr, 0, Read, own, 0, nullptr);
        if (thread) {
            CloseHandle(thread);
        } else {  // no thread: programs inherit standard error as it is
            delete own;
            kept.reset();
            CloseHandle(writeEnd);
            writeEnd = INVALID_HANDLE_VALUE;
        }
    }
    ~File() {
        if (writeEnd != INVALID_HANDLE_VALUE) CloseHandle(writeEnd);  // the thread ends when the children's close too
    }
    static DWORD WINAPI Read(void* param) {
        std::unique_ptr<std::shared_ptr<Kept>> own(static_cast<std::shared_ptr<Kept>*>(param));
        Kept& kept = **own;
        for (;;) {
            {
                LockGuard hold(kept.lock);
                if (!kept.Drain()) return 0;
            }
            Sleep(5);
        }
    }
    void Swap() {
        if (writeEnd == INVALID_HANDLE_VALUE) return;
        if (saved == INVALID_HANDLE_VALUE) {
            saved = GetStdHandle(STD_ERROR_HANDLE);
            SetStdHandle(STD_ERROR_HANDLE, writeEnd);
        } else {
            SetStdHandle(STD_ERROR_HANDLE, saved);
            saved = INVALID_HANDLE_VALUE;
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
