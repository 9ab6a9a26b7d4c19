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
    // A file size limit (ulimit -f) too: the write fails, and the run removes what it had
    // begun. Caught rather than ignored, so the programs it starts get the default again
    // (ffmpeg ends with a failure where it would ignore the failed write).
    struct sigaction tooLarge {};
    tooLarge.sa_handler = [](int) {};
    sigemptyset(&tooLarge.sa_mask);
    sigaction(SIGXFSZ, &tooLarge, nullptr);
}

bool StopRequested() { return g_stop != 0; }

}  // namespace kvx
