// What the host callbacks and the frame path ask of the settings dialog.
#pragma once

namespace kvx {

class SettingsStore;

// Opens the settings dialog owned by the host's window, or focuses and flashes it when it
// is open. Natively there is no window system and this does nothing.
void ShowSettingsDialog(SettingsStore& store, void* hostWindow);
// Destroys the dialog's window when it is open (keeping its values and recording its position).
void CloseSettingsDialog();
// Tells an open dialog that the channel changed (posts a full refresh; never sends).
void PostChannelRefresh();

}  // namespace kvx
