// A small dialog class in place of a framework: modeless or modal creation from the
// plug-in's own resources, and message routing through one static table per dialog class.
// Nothing thrown in a handler may reach user32 (i686 MinGW cannot unwind through it), so the
// dialog procedure catches everything.
#pragma once
#include <windows.h>

namespace kvx {

class DialogBase {
public:
    DialogBase() = default;
    virtual ~DialogBase();
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;

    // Creates the modeless dialog from template `templateId`; false when that fails.
    bool CreateModeless(int templateId, HWND parent);
    // Runs the modal dialog until EndModal; returns its result, -1 when it cannot be created.
    INT_PTR DoModal(int templateId, HWND owner);
    void EndModal(INT_PTR result);

    HWND Window() const { return hwnd_; }

protected:
    // A row of a dialog's message table. For WM_COMMAND, `code` is the notification code and
    // `id` the control id; for WM_HSCROLL/WM_VSCROLL, `id` is the sending control's id and the
    // scroll code is left to the handler; other messages match on `message` alone.
    template <class Dialog>
    struct MessageRoute {
        UINT message;
        UINT code;
        int id;
        LRESULT (Dialog::*handler)(WPARAM wParam, LPARAM lParam);
    };

    // Looks the message up in `routes` and calls the first matching handler.
    template <class Dialog, size_t N>
    bool Dispatch(const MessageRoute<Dialog> (&routes)[N], UINT message, WPARAM wParam,
               LPARAM lParam, LRESULT* result) {
        for (const MessageRoute<Dialog>& route : routes) {
            if (route.message != message || !Matches(message, route.code, route.id, wParam, lParam))
                continue;
            *result = (static_cast<Dialog*>(this)->*route.handler)(wParam, lParam);
            return true;
        }
        return false;
    }

    // The dialog's own messages: true when handled, with the message's result.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }
    virtual BOOL OnInitDialog() { return TRUE; }
    // Enter and Escape: a modal dialog ends with IDOK / IDCANCEL.
    virtual void OnOK() { EndModal(IDOK); }
    virtual void OnCancel() { EndModal(IDCANCEL); }
    // The window is gone (WM_NCDESTROY); the object stays.
    virtual void PostNcDestroy() {}

private:
    static bool Matches(UINT message, UINT code, int id, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    bool modal_ = false;
};

}  // namespace kvx
