// The settings dialog's behaviour, apart from any window system: what each control does to
// the store's current profile and which controls each refresh code redraws. Every write into
// the current profile goes through the store's lock (EditCurrent or a store operation), so
// a frame processed on another thread never sees half a change.
#pragma once
#include <cstdint>

#include "platform/geometry.h"

namespace kvx {

class DialogView;
class SettingsStore;

// The stored corner that means "never placed".
constexpr int32_t kUnplacedDialogPos = -100;

// Where the dialog goes when it opens: the stored corner, unless it is the "never placed"
// pair or lies right of or below the primary screen; then centred on the owner and kept
// inside the screen's right and bottom edges and at non-negative coordinates.
struct DialogPlacement {
    int32_t x, y;
};
DialogPlacement PlaceDialog(int32_t storedX, int32_t storedY, const Rect& dialog,
                            const Rect& owner, int32_t screenWidth, int32_t screenHeight);

// The signed up-down position carried in the high word of a scroll message's wParam.
inline int32_t ScrollPosition(uintptr_t wParam) {
    return static_cast<int16_t>(static_cast<uint16_t>((wParam >> 16) & 0xFFFF));
}

// The per-cent text of a per-mille value ("%0.1f" of value * 0.1).
void FormatPerMille(int32_t value, char* out, int size);

class SettingsDialogLogic {
public:
    SettingsDialogLogic(SettingsStore& store, DialogView& view) : store_(store), view_(view) {}

    // Window creation: placement, snapshot, up-down buddies and ranges, first refresh.
    void OnInitDialog();
    // Refresh code 0 reloads every control; 1-4 redraw one number; 5 greys or enables the
    // controls that only matter while processing is on. Other codes do nothing.
    void OnRefresh(uint32_t code);
    // A scroll message from up-down control spinId with scroll code scrollCode.
    void OnSpin(int spinId, uint32_t scrollCode, int32_t pos);
    void OnButtonClicked(int id);  // check boxes, Defaults, OK and Cancel
    void OnClose();                // Cancel, close box, Alt+F4: restore the snapshot
    void OnDestroy();              // every way of closing: remember the position

private:
    void ShowNumber(int editId, int32_t value);
    void EnableProcessingControls(bool enabled);

    SettingsStore& store_;
    DialogView& view_;
};

}  // namespace kvx
