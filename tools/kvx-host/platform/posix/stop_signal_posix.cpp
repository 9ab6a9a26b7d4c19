#include <signal.h>
#include <sys/time.h>

#include <initializer_list>

#include "console/stop_signal.h"

namespace kvx {
namespace {

volatile sig_atomic_t g_stop = 0;
// The programs running now (0: a free slot); a run has three at most.
volatile sig_atomic_t g_children[16] = {};

void SignalChildren(int signal) {
    for (volatile sig_atomic_t& child : g_children)
        if (child > 0) kill(static_cast<pid_t>(child), signal);
}

void Stop(int) {
    if (!g_stop) {
        g_stop = 1;
        // After the grace, and every 0.2 s from then on, SIGALRM kills what still runs. It
        // also cuts short any wait that began just after the stop was looked at.
        itimerval grace{{0, 200000}, {kChildGraceMs / 1000, kChildGraceMs % 1000 * 1000}};
        setitimer(ITIMER_REAL, &grace, nullptr);
    }
    SignalChildren(SIGTERM);
}

void KillChildren(int) { SignalChildren(SIGKILL); }

}  // namespace

void CatchStopSignals() {
    // Without SA_RESTART: a read or write waiting on a pipe returns, so the stop is seen.
    struct sigaction stop {};
    stop.sa_handler = Stop;
    sigemptyset(&stop.sa_mask);
    sigaddset(&stop.sa_mask, SIGALRM);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &stop, nullptr);
    struct sigaction kill {};
    kill.sa_handler = KillChildren;
    sigemptyset(&kill.sa_mask);
    sigaction(SIGALRM, &kill, nullptr);
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

void WatchChild(intptr_t process) {
    for (volatile sig_atomic_t& child : g_children)
        if (child == 0) {
            child = static_cast<sig_atomic_t>(process);
            // Started just as the stop came: it gets its SIGTERM too.
            if (g_stop) kill(static_cast<pid_t>(process), SIGTERM);
            return;
        }
}

void ForgetChild(intptr_t process) {
    for (volatile sig_atomic_t& child : g_children)
        if (child == process) child = 0;
}

}  // namespace kvx
