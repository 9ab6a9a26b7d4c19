// The native build has no window system: the dialog never opens.
#include "ui/dialog_host.h"

namespace kvx {

void ShowSettingsDialog(SettingsStore&, void*) {}
void CloseSettingsDialog() {}
void PostChannelRefresh() {}

}  // namespace kvx
