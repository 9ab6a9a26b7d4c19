// The About box: a plain modal dialog from the plug-in's resources. Its OK button, Enter and
// Escape end it through the base class's modal handling.
#pragma once
#include "ui/dialog_ids.h"
#include "ui/win32/dialog_base.h"

namespace kvx {

class AboutDialog : public DialogBase {
public:
    // Runs the box owned by `owner` (which is disabled meanwhile) until it is closed.
    void Run(HWND owner) { DoModal(IDD_ABOUT, owner); }
    bool IsOpen() const { return Window() != nullptr; }
    // Ends the box from outside its own handlers (the host terminating meanwhile).
    void Close() { EndModal(IDCANCEL); }
};

}  // namespace kvx
