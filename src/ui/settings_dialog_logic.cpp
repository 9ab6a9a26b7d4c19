#include "ui/settings_dialog_logic.h"

#include <cstdio>

#include "settings/settings_store.h"
#include "ui/dialog_ids.h"
#include "ui/dialog_view.h"

namespace kvx {

namespace {

// The up-down control reports its new position with this scroll code after every change.
constexpr uint32_t kScrollThumbPosition = 4;

constexpr int32_t kOffsetLower = kSettingList[kOffsetX].dialogLow, kOffsetUpper = kSettingList[kOffsetX].dialogHigh;
constexpr int32_t kScaleLower = kSettingList[kScaleX].dialogLow, kScaleUpper = kSettingList[kScaleX].dialogHigh;

// Refresh codes.
enum : uint32_t {
    kRefreshAll = 0,
    kRefreshOffsetX = 1,
    kRefreshOffsetY = 2,
    kRefreshScaleX = 3,
    kRefreshScaleY = 4,
    kRefreshEnabled = 5,
};

// Greyed while processing is off.
constexpr int kProcessingControls[] = {
    IDC_OFFSET_X_SPIN, IDC_OFFSET_Y_SPIN, IDC_SCALE_X_SPIN,     IDC_SCALE_Y_SPIN,
    IDC_OFFSET_X_EDIT, IDC_OFFSET_Y_EDIT, IDC_SCALE_X_EDIT,     IDC_SCALE_Y_EDIT,
    IDC_KEEP_ASPECT_CHECK, IDC_INTERLACE_CHECK, IDC_DEINTERLACE_CHECK,
};

// Check boxes that store their state into one setting and post nothing.
struct PlainCheck {
    int id;
    SettingId setting;
};
constexpr PlainCheck kPlainChecks[] = {
    {IDC_INTERLACE_CHECK, kInterlace}, {IDC_DEINTERLACE_CHECK, kDeinterlace}, {IDC_AUTO_FIT_CHECK, kAutoFit}};

}  // namespace

DialogPlacement PlaceDialog(int32_t storedX, int32_t storedY, const Rect& d, const Rect& o,
                            int32_t screenWidth, int32_t screenHeight) {
    const bool unplaced = storedX == kUnplacedDialogPos && storedY == kUnplacedDialogPos;
    if (!unplaced && storedX < screenWidth && storedY < screenHeight) return {storedX, storedY};

    // Centres compared as sums halved, each halving truncating toward zero.
    int32_t x = d.left + (o.left + o.right) / 2 - (d.left + d.right) / 2;
    int32_t y = d.top + (o.top + o.bottom) / 2 - (d.top + d.bottom) / 2;
    const int32_t width = d.right - d.left, height = d.bottom - d.top;
    if (x + width >= screenWidth) x = screenWidth - width;
    if (y + height >= screenHeight) y = screenHeight - height;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    return {x, y};
}

void FormatPerMille(int32_t value, char* out, int size) {
    std::snprintf(out, static_cast<size_t>(size), "%s", PerMilleAsPercent(value).c_str());
}

void SettingsDialogLogic::OnInitDialog() {
    int32_t storedX = 0, storedY = 0, screenWidth = 0, screenHeight = 0;
    store_.GetDialogPos(&storedX, &storedY);
    view_.ScreenSize(&screenWidth, &screenHeight);
    const Rect dialog = view_.WindowRect();
    Rect owner{0, 0, screenWidth, screenHeight};  // without an owner: centred on the screen
    view_.OwnerRect(&owner);
    const DialogPlacement at =
        PlaceDialog(storedX, storedY, dialog, owner, screenWidth, screenHeight);
    view_.MoveTo(at.x, at.y);

    store_.TakeSnapshot();

    view_.SetUpSpin(IDC_OFFSET_X_SPIN, IDC_OFFSET_X_EDIT, kOffsetLower, kOffsetUpper);
    view_.SetUpSpin(IDC_OFFSET_Y_SPIN, IDC_OFFSET_Y_EDIT, kOffsetLower, kOffsetUpper);
    view_.SetUpSpin(IDC_SCALE_X_SPIN, IDC_SCALE_X_EDIT, kScaleLower, kScaleUpper);
    view_.SetUpSpin(IDC_SCALE_Y_SPIN, IDC_SCALE_Y_EDIT, kScaleLower, kScaleUpper);
    view_.PostRefresh(kRefreshAll);
}

void SettingsDialogLogic::ShowNumber(int editId, int32_t value) {
    char text[32];
    FormatPerMille(value, text, sizeof text);
    view_.SetText(editId, text);
}

void SettingsDialogLogic::EnableProcessingControls(bool enabled) {
    for (int id : kProcessingControls) view_.Enable(id, enabled);
}

void SettingsDialogLogic::OnRefresh(uint32_t code) {
    if (code > kRefreshEnabled) return;
    // One consistent copy of the values: the frame thread may switch profiles in between.
    const ChannelProfile p = store_.Current();
    if (code == kRefreshAll) {
        char name[kChannelNameMax];
        store_.CopyChannelName(name, sizeof name);
        view_.SetText(IDC_CHANNEL_LABEL, name);
        view_.SetCheck(IDC_ENABLE_CHECK, p.procEnable);
        view_.SetSpinPos(IDC_OFFSET_X_SPIN, p.offsetX);
        view_.SetSpinPos(IDC_OFFSET_Y_SPIN, p.offsetY);
        view_.SetSpinPos(IDC_SCALE_X_SPIN, p.scaleX);
        view_.SetSpinPos(IDC_SCALE_Y_SPIN, p.scaleY);
        view_.SetCheck(IDC_KEEP_ASPECT_CHECK, p.keepAspect);
        view_.SetCheck(IDC_INTERLACE_CHECK, p.interlace);
        view_.SetCheck(IDC_DEINTERLACE_CHECK, p.deinterlace);
        view_.SetCheck(IDC_AUTO_FIT_CHECK, p.autoFit);
        view_.SetCheck(IDC_PER_CHANNEL_CHECK, store_.IsPerChannel() ? 1 : 0);
    }
    if (code == kRefreshAll || code == kRefreshOffsetX) ShowNumber(IDC_OFFSET_X_EDIT, p.offsetX);
    if (code == kRefreshAll || code == kRefreshOffsetY) ShowNumber(IDC_OFFSET_Y_EDIT, p.offsetY);
    if (code == kRefreshAll || code == kRefreshScaleX) ShowNumber(IDC_SCALE_X_EDIT, p.scaleX);
    if (code == kRefreshAll || code == kRefreshScaleY) ShowNumber(IDC_SCALE_Y_EDIT, p.scaleY);
    if (code == kRefreshAll || code == kRefreshEnabled) EnableProcessingControls(p.procEnable != 0);
}

void SettingsDialogLogic::OnSpin(int spinId, uint32_t scrollCode, int32_t pos) {
    if (scrollCode != kScrollThumbPosition) return;
    bool keepAspect = false;
    switch (spinId) {
    case IDC_OFFSET_X_SPIN:
        store_.EditCurrent([&](ChannelProfile& p) { p.offsetX = pos; });
        view_.PostRefresh(kRefreshOffsetX);
        break;
    case IDC_OFFSET_Y_SPIN:
        store_.EditCurrent([&](ChannelProfile& p) { p.offsetY = pos; });
        view_.PostRefresh(kRefreshOffsetY);
        break;
    case IDC_SCALE_X_SPIN:
    case IDC_SCALE_Y_SPIN: {
        const bool isX = spinId == IDC_SCALE_X_SPIN;
        // Both scales change in one locked edit under keep-proportions.
        store_.EditCurrent([&](ChannelProfile& p) {
            keepAspect = p.keepAspect != 0;
            if (isX || keepAspect) p.scaleX = pos;
            if (!isX || keepAspect) p.scaleY = pos;
        });
        view_.PostRefresh(isX ? kRefreshScaleX : kRefreshScaleY);
        if (keepAspect) {
            view_.SetSpinPos(isX ? IDC_SCALE_Y_SPIN : IDC_SCALE_X_SPIN, pos);
            view_.PostRefresh(isX ? kRefreshScaleY : kRefreshScaleX);
        }
        break;
    }
    default:
        break;
    }
}

void SettingsDialogLogic::OnButtonClicked(int id) {
    for (const PlainCheck& c : kPlainChecks) {
        if (c.id != id) continue;
        const int32_t state = static_cast<int32_t>(view_.GetCheck(id));
        store_.EditCurrent([&](ChannelProfile& p) { SettingField(p, c.setting) = state; });
        return;
    }
    switch (id) {
    case IDC_CANCEL_BUTTON:
        view_.PostClose();
        break;
    case IDC_OK_BUTTON:
        view_.Destroy();
        break;
    case IDC_DEFAULTS_BUTTON:
        store_.ResetToDefaults();
        view_.PostRefresh(kRefreshAll);
        break;
    case IDC_PER_CHANNEL_CHECK:
        store_.SetPerChannel(view_.GetCheck(id) != 0);
        view_.PostRefresh(kRefreshAll);
        break;
    case IDC_ENABLE_CHECK: {
        const uint32_t state = view_.GetCheck(id);
        store_.EditCurrent([&](ChannelProfile& p) { p.procEnable = state; });
        view_.PostRefresh(kRefreshEnabled);
        break;
    }
    case IDC_KEEP_ASPECT_CHECK: {
        // Ticked or cleared, ScaleY takes ScaleX's value; ScaleX never changes here.
        const uint32_t state = view_.GetCheck(id);
        int32_t scaleX = 0;
        store_.EditCurrent([&](ChannelProfile& p) {
            p.keepAspect = state;
            p.scaleY = scaleX = p.scaleX;
        });
        view_.SetSpinPos(IDC_SCALE_Y_SPIN, scaleX);
        view_.PostRefresh(kRefreshScaleY);
        break;
    }
    default:
        break;
    }
}

void SettingsDialogLogic::OnClose() {
    store_.RestoreSnapshot();
    view_.Destroy();
}

void SettingsDialogLogic::OnDestroy() {
    const Rect r = view_.WindowRect();
    store_.SetDialogPos(r.left, r.top);
}

}  // namespace kvx
