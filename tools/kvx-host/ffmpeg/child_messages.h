// What a child program (ffmpeg) writes to standard error, kept back instead of shown: a
// normal run of ffmpeg on a recording that starts mid-GOP complains about every frame before
// the first key frame. Its last lines are shown only when it fails. Only those last bytes
// are kept (in memory, read from a pipe), however much the program writes.
#pragma once
#include <memory>
#include <string>

namespace kvx {

class ChildMessages {
public:
    ChildMessages();
    ~ChildMessages();
    ChildMessages(const ChildMessages&) = delete;
    ChildMessages& operator=(const ChildMessages&) = delete;

    // Calls `start` with the pipe as the standard error that started programs inherit;
    // kvx-host's own standard error is back in place when it returns. Without a pipe (none
    // could be made), programs inherit standard error as it is.
    template <typename Start>
    auto WhileStarting(Start start) -> decltype(start()) {
        Swap();
        struct Back {
            ChildMessages* self;
            ~Back() { self->Swap(); }
        } back{this};
        return start();
    }

    // The last lines written (at most about 2 KB), each ending with a line end; "" if none.
    std::string Tail() const;

    static constexpr long kTailBytes = 2048;

private:
    void Swap();
    std::string RawTail() const;  // the last kTailBytes at most, as written
    struct File;
    std::unique_ptr<File> file_;
};

}  // namespace kvx
