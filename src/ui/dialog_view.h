// What the settings dialog's behaviour needs from a window system: its controls, its own
// window and the owner's rectangle, the primary screen's size and its own message queue.
// The Win32 dialog implements it with real controls; tests implement it with a fake.
#pragma once
#include <cstdint>

#include "platform/geometry.h"

namespace kvx {

class DialogView {
public:
    virtual ~DialogView() = default;

    // Controls, addressed by their identifiers (ui/dialog_ids.h).
    virtual void SetText(int id, const char* ansiText) = 0;  // text in the system code page
    virtual void SetCheck(int id, uint32_t state) = 0;
    virtual uint32_t GetCheck(int id) = 0;
    virtual void SetSpinPos(int spinId, int32_t pos) = 0;  // the control keeps the low 16 bits
    virtual void SetUpSpin(int spinId, int buddyId, int32_t lower, int32_t upper) = 0;
    virtual void Enable(int id, bool enabled) = 0;

    // The dialog's own window.
    virtual Rect WindowRect() = 0;
    virtual bool OwnerRect(Rect* rect) = 0;  // false when the dialog has no owner window
    virtual void MoveTo(int32_t x, int32_t y) = 0;
    virtual void ScreenSize(int32_t* width, int32_t* height) = 0;  // the primary screen
    virtual void PostRefresh(uint32_t code) = 0;  // runs after the current handler returns
    virtual void PostClose() = 0;
    virtual void Destroy() = 0;
};

}  // namespace kvx
