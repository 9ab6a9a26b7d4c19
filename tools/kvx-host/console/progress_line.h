// A one-line progress report on standard error for long runs, shown only on a terminal:
// frames done, frames per second, and the time left when the input length is known.
#pragma once
#include <chrono>

namespace kvx {

class ProgressLine {
public:
    ProgressLine(bool wanted, long long totalFrames);
    void Update(long long framesDone);
    void Finish(long long framesDone);

private:
    void Print(long long framesDone);
    bool enabled_;
    long long total_;
    std::chrono::steady_clock::time_point start_, lastPrint_;
    bool printed_ = false;
};

}  // namespace kvx
