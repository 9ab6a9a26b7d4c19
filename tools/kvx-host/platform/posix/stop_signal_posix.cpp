#include <signal.h>

#include <initializer_list>

#include "console/stop_signal.h"

namespace kvx {
namespace {
volatile sig_atomic_t g_stop = 0;
void Stop(int) { g_stop = 1; }
}  // namespace

void CatchStopSignals() {
    // Without SA_RESTART: a read or write waiting on a pipe returns, so the stop is seen.
    struct sigaction stop {};
    stop.sa_handler = Stop;
    sigemptyset(&stop.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &stop, nullptr);
    // An encoder that stops early is reported, not a silent death.
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_stop != 0; }

}  // namespace kvx
