// The frame clock and event loop of both display back ends, with the stop
// signals that end them quietly.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "linux/Saver_linux.h"

static volatile sig_atomic_t StopSignal;
static volatile sig_atomic_t ExitAtOnce;

// The first SIGTERM or SIGINT is only noted; the program ends at its next
// check. A second one takes the default action at once, for a user whose
// first request went unheard.
static void OnStopSignal(int signalNumber)
{
    if (ExitAtOnce) _exit(0);
    StopSignal = signalNumber;
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
}

// The stop signals stay unblocked: they are held back only inside
// WaitForEvents, between its check of the flag and ppoll. SA_RESTART keeps
// other system calls (Xlib's and libwayland's reads and writes) from failing
// with EINTR; ppoll is never restarted, so a wait always ends on one.
void InstallStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool StopSignalled()
{
    return StopSignal != 0;
}

void StopExitsAtOnce(bool atOnce)
{
    ExitAtOnce = atOnce;
    if (atOnce && StopSignalled()) _exit(0);
}

bool PlayerStopping(const LinuxPlayer &player)
{
    return StopSignalled() || player.stopRequested || player.failed;
}

int PlayerStep(LinuxPlayer *player)
{
    int index = player->frameIndex;
    player->shownIndex = index;
    StepFrame(&player->frameIndex, &player->direction);
    return index;
}

int64_t MonotonicMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// A signal that arrives after the flag was checked but before ppoll starts
// would otherwise be noted and then slept through: it stays pending while
// blocked, and ppoll's mask lets it in the moment the wait begins.
int WaitForEvents(struct pollfd *fds, int count, int64_t timeoutMs)
{
    sigset_t stops, open;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, &open);
    int ready = -1;
    if (StopSignalled()) {
        errno = EINTR;
    } else {
        struct timespec wait = {(time_t)(timeoutMs / 1000), (long)(timeoutMs % 1000) * 1000000};
        for (int i = 0; i < count; ++i) fds[i].revents = 0;
        ready = ppoll(fds, count, timeoutMs < 0 ? nullptr : &wait, &open);
    }
    sigprocmask(SIG_SETMASK, &open, nullptr);
    return ready;
}

// The wait happens on every pass, with a zero timeout when the tick is
// already due, so the connection is read even on a display slow enough that
// every flush outlasts the period.
void RunDisplayLoop(const DisplayLoop &loop, int32_t redrawSpeed)
{
    const int64_t period = FramePeriodMs(redrawSpeed);
    int64_t nextTick = MonotonicMs();
    struct pollfd connection = {loop.fd, POLLIN, 0};
    while (!PlayerStopping(*loop.player)) {
        loop.prepare();
        if (PlayerStopping(*loop.player)) break;
        int64_t waitMs = nextTick - MonotonicMs();
        if (waitMs < 0) waitMs = 0;
        int ready = WaitForEvents(&connection, 1, waitMs);
        loop.read(ready > 0 && (connection.revents & (POLLIN | POLLHUP | POLLERR)));
        if (PlayerStopping(*loop.player)) break;
        int64_t now = MonotonicMs();
        if (now < nextTick) continue;
        loop.tick();
        nextTick = (now - nextTick >= period) ? now + period : nextTick + period;
    }
}
