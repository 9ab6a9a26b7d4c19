// Memory between two no-access pages: a kernel that reads or writes one byte before the
// start or past the end of its buffer faults at once, natively and under Wine, with no
// sanitizer needed.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kvx {

size_t PageSize();

// Names what runs next, for the message printed when an access hits a fence: the fault
// ends the process, so the name is all a failing run can tell. `what` must outlive the run.
void NameFencedCase(const char* what);

class PageFence {
public:
    // Room for at least `bytes` between the fences.
    explicit PageFence(size_t bytes);
    ~PageFence();
    PageFence(const PageFence&) = delete;
    PageFence& operator=(const PageFence&) = delete;

    // `bytes` that end at the page after them, and `bytes` that start at the page before.
    uint8_t* EndingAtFence(size_t bytes) const { return end_ - bytes; }
    uint8_t* StartingAtFence() const { return begin_; }
    bool Ok() const { return begin_ != nullptr; }

private:
    void* base_ = nullptr;
    size_t mapped_ = 0;
    uint8_t* begin_ = nullptr;
    uint8_t* end_ = nullptr;
};

}  // namespace kvx
