// The frame clock and event loop of both display back ends, with the stop
// signals that end them quietly.
#include <poll.h>
#include <signal.h>
#include <time.h>

#include "linux/Saver_linux.h"

static volatile sig_atomic_t StopSignal;
static sigset_t WaitMask;

static void OnStopSignal(int signalNumber)
{
    StopSignal = signalNumber;
}

// From here on SIGTERM and SIGINT stay blocked except inside ppoll, so one
// that arrives between two checks of the flag stays pending and ends the
// next wait at once.
void InstallStopSignals()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, &WaitMask);
    sigdelset(&WaitMask, SIGTERM);
    sigdelset(&WaitMask, SIGINT);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool StopSignalled()
{
    return StopSignal != 0;
}

static int64_t NowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// The wait happens on every pass, with a zero timeout when the tick is
// already due: ppoll is the one place the stop signals are unblocked, so a
// display slow enough that every flush outlasts the period would otherwise
// never let a pending SIGTERM in.
void RunDisplayLoop(const DisplayLoop &loop, int32_t redrawSpeed)
{
    const int64_t period = FramePeriodMs(redrawSpeed);
    int64_t nextTick = NowMs();
    struct pollfd connection = {loop.fd, POLLIN, 0};
    while (!StopSignalled() && !loop.stopping()) {
        loop.prepare();
        if (StopSignalled() || loop.stopping()) break;
        int64_t waitMs = nextTick - NowMs();
        if (waitMs < 0) waitMs = 0;
        struct timespec wait = {(time_t)(waitMs / 1000), (long)(waitMs % 1000) * 1000000};
        connection.revents = 0;
        int ready = ppoll(&connection, 1, &wait, &WaitMask);
        loop.read(ready > 0 && (connection.revents & (POLLIN | POLLHUP | POLLERR)));
        if (StopSignalled() || loop.stopping()) break;
        int64_t now = NowMs();
        if (now < nextTick) continue;
        loop.tick();
        nextTick = (now - nextTick >= period) ? now + period : nextTick + period;
    }
}
