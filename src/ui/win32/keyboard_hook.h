// Keyboard navigation for a modeless dialog inside someone else's message loop: the host
// never calls IsDialogMessage for our window, so Tab, the arrow keys and Alt+F4 are routed
// through a message hook on the dialog's thread while the dialog is open.
#pragma once
#include <windows.h>

namespace kvx {

// Installs the hook for `dialog` on the calling thread (replacing an earlier one).
void InstallDialogKeyboardHook(HWND dialog);
// Removes the hook; harmless when none is installed.
void RemoveDialogKeyboardHook();

}  // namespace kvx
