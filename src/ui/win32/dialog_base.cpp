#include "ui/win32/dialog_base.h"

#include "platform/module.h"

namespace kvx {

DialogBase::~DialogBase() {
    // The object (or the whole library) is going away with the window still there: unhook
    // our procedure first, so nothing can call into freed code even when DestroyWindow fails
    // because the window belongs to another thread.
    if (HWND hwnd = hwnd_) {
        hwnd_ = nullptr;
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        SetWindowLongPtrW(hwnd, DWLP_DLGPROC, 0);
        DestroyWindow(hwnd);
    }
}

bool DialogBase::CreateModeless(int templateId, HWND parent) {
    if (hwnd_) return false;
    modal_ = false;
    HWND hwnd = CreateDialogParamW(static_cast<HINSTANCE>(ModuleHandle()),
                                   MAKEINTRESOURCEW(templateId), parent, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr && hwnd_ == hwnd;
}

INT_PTR DialogBase::DoModal(int templateId, HWND owner) {
    if (hwnd_) return -1;
    modal_ = true;
    return DialogBoxParamW(static_cast<HINSTANCE>(ModuleHandle()), MAKEINTRESOURCEW(templateId),
                           owner, DialogProc, reinterpret_cast<LPARAM>(this));
}

void DialogBase::EndModal(INT_PTR result) {
    if (hwnd_ && modal_) EndDialog(hwnd_, result);
}

bool DialogBase::Matches(UINT message, UINT code, int id, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        return HIWORD(wParam) == code && static_cast<int>(LOWORD(wParam)) == id;
    case WM_HSCROLL:
    case WM_VSCROLL:
        return lParam && GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == id;
    default:
        return true;
    }
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        DialogBase* self = nullptr;
        if (message == WM_INITDIALOG) {
            self = reinterpret_cast<DialogBase*>(lParam);
            SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            self->hwnd_ = hwnd;
        } else {
            self = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
        }
        if (!self) return FALSE;
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(hwnd, DWLP_USER, 0);
            self->hwnd_ = nullptr;
            self->PostNcDestroy();
            return FALSE;
        }
        return self->Handle(hwnd, message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR DialogBase::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    LRESULT result = 0;
    if (OnMessage(message, wParam, lParam, &result)) {
        // A handler may have destroyed the window (hwnd_ is null by now); the result then
        // goes nowhere.
        if (IsWindow(hwnd)) SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) return OnOK(), TRUE;
        if (LOWORD(wParam) == IDCANCEL) return OnCancel(), TRUE;
    }
    return FALSE;
}

}  // namespace kvx
