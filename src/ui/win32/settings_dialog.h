// The settings dialog's window: a modeless dialog owned by the host's window, its controls
// serving as the view of SettingsDialogLogic, and the About box it owns.
#pragma once
#include <windows.h>

#include <atomic>
#include <optional>

#include "ui/dialog_view.h"
#include "ui/settings_dialog_logic.h"
#include "ui/win32/about_dialog.h"
#include "ui/win32/dialog_base.h"
#include "ui/win32/owner_window.h"

namespace kvx {

class SettingsDialog : public DialogBase, private DialogView {
public:
    SettingsDialog() = default;
    ~SettingsDialog() override;

    // Opens the dialog owned by `host` (null or no longer a window: opens without an owner),
    // or gives the open one the focus and flashes its caption.
    void Open(SettingsStore& store, HWND host);
    // Destroys the window when it is open, ending an open About box first.
    void Close();
    // A full refresh for the open dialog; safe from any thread, never sends.
    void PostChannelRefresh();

private:
    using Route = MessageRoute<SettingsDialog>;
    static const Route kRoutes[17];

    void Flash(int count);

    // DialogBase.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}      // Enter does nothing
    void OnCancel() override {}  // Escape does nothing
    void PostNcDestroy() override;

    // Message handlers.
    LRESULT OnRefresh(WPARAM code, LPARAM);
    LRESULT OnCloseMessage(WPARAM, LPARAM);
    LRESULT OnDestroyMessage(WPARAM, LPARAM);
    LRESULT OnScroll(WPARAM wParam, LPARAM lParam);
    LRESULT OnButton(WPARAM wParam, LPARAM);
    LRESULT OnAbout(WPARAM, LPARAM);

    // DialogView.
    void SetText(int id, const char* ansiText) override;
    void SetCheck(int id, uint32_t state) override;
    uint32_t GetCheck(int id) override;
    void SetSpinPos(int spinId, int32_t pos) override;
    void SetUpSpin(int spinId, int buddyId, int32_t lower, int32_t upper) override;
    void Enable(int id, bool enabled) override;
    Rect WindowRect() override;
    bool OwnerRect(Rect* rect) override;
    void MoveTo(int32_t x, int32_t y) override;
    void ScreenSize(int32_t* width, int32_t* height) override;
    void PostRefresh(uint32_t code) override;
    void PostClose() override;
    void Destroy() override;

    OwnerWindow ownerWnd_;
    AboutDialog aboutDlg_;
    std::optional<SettingsDialogLogic> logic_;
    std::atomic<HWND> openWindow_{nullptr};  // read by the frame thread
};

}  // namespace kvx
