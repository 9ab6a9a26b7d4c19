// The one settings dialog of the plug-in, built when the library loads.
#include "ui/dialog_host.h"

#include "ui/win32/settings_dialog.h"

namespace kvx {

namespace {
SettingsDialog g_dialog;
}

void ShowSettingsDialog(SettingsStore& store, void* hostWindow) {
    g_dialog.Open(store, static_cast<HWND>(hostWindow));
}

void CloseSettingsDialog() { g_dialog.Close(); }

void PostChannelRefresh() { g_dialog.PostChannelRefresh(); }

}  // namespace kvx
