// Placeholder until the settings dialog lands: the dialog never opens.
#include "ui/dialog_host.h"

namespace kvx {

void ShowSettingsDialog(SettingsStore&, void*) {}
void CloseSettingsDialog() {}
void PostChannelRefresh() {}

}  // namespace kvx
