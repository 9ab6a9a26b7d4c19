#include <windows.h>

#include <algorithm>
#include <vector>

#include "console/stop_signal.h"

namespace kvx {
namespace {

volatile LONG g_stop = 0;

// The programs running now, guarded: the handler runs in a thread of its own.
struct Children {
    Children() { InitializeCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    std::vector<HANDLE> running;
};
Children& TheChildren() {
    static Children children;
    return children;
}

BOOL WINAPI Stop(DWORD) {
    InterlockedExchange(&g_stop, 1);
    // The console's Ctrl+C has reached the programs the run started as well; what still runs
    // after the grace is ended, so the waits on it end.
    Sleep(kChildGraceMs);
    Children& c = TheChildren();
    EnterCriticalSection(&c.lock);
    for (HANDLE h : c.running) TerminateProcess(h, 1);
    LeaveCriticalSection(&c.lock);
    return TRUE;
}

}  // namespace

void CatchStopSignals() {
    TheChildren();
    SetConsoleCtrlHandler(Stop, TRUE);
}

bool StopRequested() { return InterlockedCompareExchange(&g_stop, 0, 0) != 0; }

void WatchChild(intptr_t process) {
    Children& c = TheChildren();
    EnterCriticalSection(&c.lock);
    c.running.push_back(reinterpret_cast<HANDLE>(process));
    LeaveCriticalSection(&c.lock);
}

void ForgetChild(intptr_t process) {
    Children& c = TheChildren();
    EnterCriticalSection(&c.lock);
    c.running.erase(std::remove(c.running.begin(), c.running.end(), reinterpret_cast<HANDLE>(process)),
                    c.running.end());
    LeaveCriticalSection(&c.lock);
}

}  // namespace kvx
