// GoogleTest's Notification uses std::mutex, which MinGW's win32 thread model lacks. This
// stand-in (a manual-reset event) is force-included into every cross-built test file.
#pragma once
#if defined(_WIN32) && defined(__cplusplus)
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
#endif
