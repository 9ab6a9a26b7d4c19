#include "ui/win32/keyboard_hook.h"

namespace kvx {

namespace {

HHOOK g_hook = nullptr;
HWND g_dialog = nullptr;

bool ForDialog(HWND target) {
    return g_dialog && target && (target == g_dialog || IsChild(g_dialog, target));
}

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    try {
        // Only messages leaving the queue, so a peeked message is not handled twice.
        if (code == HC_ACTION && wParam == PM_REMOVE && lParam) {
            MSG* msg = reinterpret_cast<MSG*>(lParam);
            if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST &&
                ForDialog(msg->hwnd) && IsDialogMessageW(g_dialog, msg)) {
                // Consumed: the host's loop must not dispatch it again.
                msg->message = WM_NULL;
                msg->wParam = 0;
                msg->lParam = 0;
            }
        }
    } catch (...) {
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

}  // namespace

void InstallDialogKeyboardHook(HWND dialog) {
    RemoveDialogKeyboardHook();
    g_dialog = dialog;
    g_hook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());
}

void RemoveDialogKeyboardHook() {
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    g_dialog = nullptr;
}

}  // namespace kvx
