#include "ui/win32/settings_dialog.h"

#include <commctrl.h>

#include "ui/dialog_ids.h"
#include "ui/win32/keyboard_hook.h"

namespace kvx {

// Every message the dialog handles itself; everything else gets the default dialog handling.
const SettingsDialog::Route SettingsDialog::kRoutes[17] = {
    {WM_DIALOG_REFRESH, 0, 0, &SettingsDialog::OnRefresh},
    {WM_CLOSE, 0, 0, &SettingsDialog::OnCloseMessage},
    {WM_COMMAND, BN_CLICKED, IDC_CANCEL_BUTTON, &SettingsDialog::OnButton},
    {WM_COMMAND, BN_CLICKED, IDC_OK_BUTTON, &SettingsDialog::OnButton},
    {WM_COMMAND, BN_CLICKED, IDC_ABOUT_BUTTON, &SettingsDialog::OnAbout},
    {WM_DESTROY, 0, 0, &SettingsDialog::OnDestroyMessage},
    {WM_HSCROLL, 0, IDC_OFFSET_X_SPIN, &SettingsDialog::OnScroll},
    {WM_HSCROLL, 0, IDC_SCALE_X_SPIN, &SettingsDialog::OnScroll},
    {WM_COMMAND, BN_CLICKED, IDC_DEFAULTS_BUTTON, &SettingsDialog::OnButton},
    {WM_VSCROLL, 0, IDC_OFFSET_Y_SPIN, &SettingsDialog::OnScroll},
    {WM_VSCROLL, 0, IDC_SCALE_Y_SPIN, &SettingsDialog::OnScroll},
    {WM_COMMAND, BN_CLICKED, IDC_INTERLACE_CHECK, &SettingsDialog::OnButton},
    {WM_COMMAND, BN_CLICKED, IDC_PER_CHANNEL_CHECK, &SettingsDialog::OnButton},
    {WM_COMMAND, BN_CLICKED, IDC_ENABLE_CHECK, &SettingsDialog::OnButton},
    {WM_COMMAND, BN_CLICKED, IDC_KEEP_ASPECT_CHECK, &SettingsDialog::OnButton},
    {WM_COMMAND, BN_CLICKED, IDC_DEINTERLACE_CHECK, &SettingsDialog::OnButton},
    {WM_COMMAND, BN_CLICKED, IDC_AUTO_FIT_CHECK, &SettingsDialog::OnButton},
};

SettingsDialog::~SettingsDialog() {
    // Unloaded with the window still open: no hook may point into this library any more.
    RemoveDialogKeyboardHook();
    openWindow_ = nullptr;
    ownerWnd_.Detach();
}

void SettingsDialog::Open(SettingsStore& store, HWND host) {
    if (HWND open = Window()) {
        SetFocus(open);
        Flash(4);
        return;
    }
    // A destroyed host window cannot own anything: open without an owner instead.
    HWND owner = host && IsWindow(host) ? host : nullptr;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    logic_.emplace(store, static_cast<DialogView&>(*this));
    ownerWnd_.Attach(owner);
    if (!CreateModeless(IDD_SETTINGS, ownerWnd_.Handle())) {
        ownerWnd_.Detach();
        return;
    }
    openWindow_ = Window();
    InstallDialogKeyboardHook(Window());
    ShowWindow(Window(), SW_SHOW);
}

void SettingsDialog::Close() {
    if (aboutDlg_.IsOpen()) aboutDlg_.Close();
    if (HWND open = Window()) DestroyWindow(open);
}

void SettingsDialog::PostChannelRefresh() {
    if (HWND open = openWindow_.load()) PostMessageW(open, WM_DIALOG_REFRESH, 0, 0);
}

void SettingsDialog::Flash(int count) {
    // An even number of toggles: the caption ends as it started.
    for (int i = 0; i < 2 * count; ++i) {
        FlashWindow(Window(), TRUE);
        Sleep(60);
    }
}

bool SettingsDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return logic_ && Dispatch(kRoutes, message, wParam, lParam, result);
}

BOOL SettingsDialog::OnInitDialog() {
    if (logic_) logic_->OnInitDialog();
    return TRUE;  // the focus goes to the first tab stop
}

void SettingsDialog::PostNcDestroy() {
    openWindow_ = nullptr;
    RemoveDialogKeyboardHook();
    ownerWnd_.Detach();  // the host's window itself is left alone
}

LRESULT SettingsDialog::OnRefresh(WPARAM code, LPARAM) {
    logic_->OnRefresh(static_cast<uint32_t>(code));
    return 1;
}

LRESULT SettingsDialog::OnCloseMessage(WPARAM, LPARAM) {
    logic_->OnClose();
    return 0;
}

LRESULT SettingsDialog::OnDestroyMessage(WPARAM, LPARAM) {
    openWindow_ = nullptr;  // the frame thread stops posting from here on
    logic_->OnDestroy();
    return 0;
}

LRESULT SettingsDialog::OnScroll(WPARAM wParam, LPARAM lParam) {
    logic_->OnSpin(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), LOWORD(wParam),
                   ScrollPosition(wParam));
    return 0;
}

LRESULT SettingsDialog::OnButton(WPARAM wParam, LPARAM) {
    logic_->OnButtonClicked(LOWORD(wParam));
    return 0;
}

LRESULT SettingsDialog::OnAbout(WPARAM, LPARAM) {
    // The About box disables this dialog while it runs, so no second click can get here.
    if (!aboutDlg_.IsOpen()) aboutDlg_.Run(Window());
    return 0;
}

void SettingsDialog::SetText(int id, const char* ansiText) {
    SetDlgItemTextA(Window(), id, ansiText);  // the system code page, as the host passes it
}

void SettingsDialog::SetCheck(int id, uint32_t state) {
    SendDlgItemMessageW(Window(), id, BM_SETCHECK, state, 0);
}

uint32_t SettingsDialog::GetCheck(int id) {
    return static_cast<uint32_t>(SendDlgItemMessageW(Window(), id, BM_GETCHECK, 0, 0));
}

void SettingsDialog::SetSpinPos(int spinId, int32_t pos) {
    SendDlgItemMessageW(Window(), spinId, UDM_SETPOS, 0, MAKELPARAM(LOWORD(pos), 0));
}

void SettingsDialog::SetUpSpin(int spinId, int buddyId, int32_t lower, int32_t upper) {
    SendDlgItemMessageW(Window(), spinId, UDM_SETBUDDY,
                        reinterpret_cast<WPARAM>(GetDlgItem(Window(), buddyId)), 0);
    SendDlgItemMessageW(Window(), spinId, UDM_SETRANGE, 0,
                        MAKELPARAM(LOWORD(upper), LOWORD(lower)));
}

void SettingsDialog::Enable(int id, bool enabled) { EnableWindow(GetDlgItem(Window(), id), enabled); }

Rect SettingsDialog::WindowRect() {
    RECT r = {};
    GetWindowRect(Window(), &r);
    return Rect{r.left, r.top, r.right, r.bottom};
}

bool SettingsDialog::OwnerRect(Rect* rect) {
    RECT r = {};
    if (!ownerWnd_.Handle() || !GetWindowRect(ownerWnd_.Handle(), &r)) return false;
    *rect = Rect{r.left, r.top, r.right, r.bottom};
    return true;
}

void SettingsDialog::MoveTo(int32_t x, int32_t y) {
    SetWindowPos(Window(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void SettingsDialog::ScreenSize(int32_t* width, int32_t* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

void SettingsDialog::PostRefresh(uint32_t code) {
    PostMessageW(Window(), WM_DIALOG_REFRESH, code, 0);
}

void SettingsDialog::PostClose() { PostMessageW(Window(), WM_CLOSE, 0, 0); }

void SettingsDialog::Destroy() { DestroyWindow(Window()); }

}  // namespace kvx
