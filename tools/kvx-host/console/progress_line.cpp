#include "console/progress_line.h"

#include <cstdio>

#include "files/files.h"

namespace kvx {

ProgressLine::ProgressLine(bool wanted, long long totalFrames)
    : enabled_(wanted && IsTerminal(stderr)),
      total_(totalFrames),
      start_(std::chrono::steady_clock::now()),
      lastPrint_(start_) {}

void ProgressLine::Update(long long framesDone) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastPrint_ < std::chrono::milliseconds(500)) return;
    lastPrint_ = now;
    Print(framesDone);
}

void ProgressLine::Finish(long long framesDone) {
    if (!enabled_ || !printed_) return;
    Print(framesDone);
    std::fputc('\n', stderr);
}

void ProgressLine::Print(long long framesDone) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double fps = seconds > 0 ? framesDone / seconds : 0;
    if (total_ > 0 && fps > 0) {
        double left = (total_ - framesDone) / fps;
        std::fprintf(stderr, "\r%lld/%lld frames (%d %%), %.1f fps, %d:%02d left   ", framesDone, total_,
                     static_cast<int>(100 * framesDone / total_), fps, static_cast<int>(left) / 60,
                     static_cast<int>(left) % 60);
    } else {
        std::fprintf(stderr, "\r%lld frames, %.1f fps   ", framesDone, fps);
    }
    printed_ = true;
}

}  // namespace kvx
