#include <windows.h>

#include "console/stop_signal.h"

namespace kvx {
namespace {
volatile LONG g_stop = 0;
BOOL WINAPI Stop(DWORD) {
    InterlockedExchange(&g_stop, 1);
    return TRUE;
}
}  // namespace

void CatchStopSignals() { SetConsoleCtrlHandler(Stop, TRUE); }

bool StopRequested() { return InterlockedCompareExchange(&g_stop, 0, 0) != 0; }

}  // namespace kvx
