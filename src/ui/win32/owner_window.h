// The host's window as the settings dialog's owner: attached while the dialog exists,
// detached when it is gone. The wrapper never creates or destroys the host's window.
#pragma once
#include <windows.h>

namespace kvx {

class OwnerWindow {
public:
    OwnerWindow() = default;
    ~OwnerWindow() { Detach(); }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    void Attach(HWND hwnd) { hwnd_ = hwnd; }
    HWND Detach() {
        HWND hwnd = hwnd_;
        hwnd_ = nullptr;
        return hwnd;
    }
    HWND Handle() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

}  // namespace kvx
