// zembloid -idle: no window of its own. It watches the session through one
// watcher, serves org.freedesktop.ScreenSaver where nobody does, and each time
// the rule says so starts the program itself with -fullscreen as a child, so
// that the saver is the full-screen path unchanged and its frames go with it.
// One ppoll loop waits on the session bus, the watcher's connection and the
// child, through a pipe whose only writing end the child holds: it closes
// when the child ends, however it ends. (A pidfd would do the same on Linux
// 5.3 and later, but valgrind does not know pidfd_open.)
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "idle/Idle_linux.h"
#include "linux/Saver_linux.h"

static struct {
    const SaverOptions *options;
    IdleRule rule;
    IdleWatcher watcher;   // the Wayland or X11 watcher's connection
    bool hasWatcher;       // false for Mutter's, which the bus serves
    sd_bus *bus;
    bool busLost;
    pid_t saver;           // 0: none shows
    int saverFd;           // the pipe's reading end while a saver shows; else -1
    char speed[12], scale[12];
    char program[4096];    // this program's file
} Idle;

// The saver's command line, written once: nothing is built per showing. The
// program's path is read from /proc/self/exe rather than executed through it,
// as under valgrind that link names valgrind's own tool (and reading it gives
// the program's).
static bool WriteSaverCommand()
{
    ssize_t length = readlink("/proc/self/exe", Idle.program, sizeof Idle.program - 1);
    if (length <= 0 || length == (ssize_t)sizeof Idle.program - 1) {
        perror("zembloid: /proc/self/exe");
        return false;
    }
    Idle.program[length] = '\0';
    snprintf(Idle.speed, sizeof Idle.speed, "%d", (int)Idle.options->redrawSpeed);
    snprintf(Idle.scale, sizeof Idle.scale, "%d", Idle.options->forcedScale);
    return true;
}

// The child's stop signals take their default action until the saver
// installs its own. A saver that cannot be run ends at once, and the next
// idle period tries again.
static void StartSaver()
{
    char *argv[] = {(char *)"zembloid", (char *)"-fullscreen", (char *)"-speed", Idle.speed,
                    (char *)"-scale", Idle.scale, nullptr};
    if (!Idle.options->forcedScale) argv[4] = nullptr;
    int ends[2];
    pid_t child = -1;
    if (pipe2(ends, O_CLOEXEC) == 0) {
        child = fork();
        if (child < 0) {
            close(ends[0]);
            close(ends[1]);
        }
    }
    if (child < 0) {
        perror("zembloid: cannot start the saver");
        IdleRuleShows(&Idle.rule, NOTICE_SAVER_ENDED, MonotonicMs());
        return;
    }
    if (child == 0) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        fcntl(ends[1], F_SETFD, 0);
        execv(Idle.program, argv);
        perror("zembloid: cannot run the saver");
        _exit(127);
    }
    close(ends[1]);
    Idle.saver = child;
    Idle.saverFd = ends[0];
}

static void ReapSaver()
{
    waitpid(Idle.saver, nullptr, 0);
    close(Idle.saverFd);
    Idle.saver = 0;
    Idle.saverFd = -1;
}

void IdleNoticed(IdleNotice notice)
{
    if (notice == NOTICE_HELD || notice == NOTICE_RELEASED)
        if (Idle.hasWatcher && Idle.watcher.hold) Idle.watcher.hold(notice == NOTICE_HELD);
    if (IdleRuleShows(&Idle.rule, notice, MonotonicMs())) StartSaver();
}

// The session bus

static void ProcessBus()
{
    if (!Idle.bus || Idle.busLost) return;
    int result;
    while ((result = sd_bus_process(Idle.bus, nullptr)) > 0) {}
    if (result < 0) Idle.busLost = true;
}

// sd-bus gives its time-out as an absolute CLOCK_MONOTONIC time in µs.
static int64_t BusWaitMs()
{
    uint64_t until;
    if (!Idle.bus || sd_bus_get_timeout(Idle.bus, &until) < 0 || until == UINT64_MAX) return -1;
    int64_t left = (int64_t)(until / 1000) - MonotonicMs();
    return left > 0 ? left : 0;
}

static int64_t Sooner(int64_t a, int64_t b)
{
    if (a < 0) return b;
    if (b < 0) return a;
    return a < b ? a : b;
}

// The loop

static void RunIdleLoop()
{
    enum { BUS, WATCHER, SAVER, SLOTS };
    while (!StopSignalled() && !Idle.busLost) {
        ProcessBus();
        if (Idle.hasWatcher) Idle.watcher.prepare();
        struct pollfd fds[SLOTS] = {{-1, 0, 0}, {-1, POLLIN, 0}, {Idle.saverFd, POLLIN, 0}};
        if (Idle.bus && !Idle.busLost) {
            fds[BUS].fd = sd_bus_get_fd(Idle.bus);
            fds[BUS].events = (short)sd_bus_get_events(Idle.bus);
        }
        if (Idle.hasWatcher) fds[WATCHER].fd = Idle.watcher.fd;
        int64_t now = MonotonicMs();
        int ready = WaitForEvents(fds, SLOTS, Sooner(BusWaitMs(), IdleRuleWaitMs(&Idle.rule, now)));
        bool watcherReadable = ready > 0 && (fds[WATCHER].revents & (POLLIN | POLLHUP | POLLERR));
        if (Idle.hasWatcher && !Idle.watcher.read(watcherReadable)) return;
        if (ready > 0 && fds[SAVER].revents) {
            ReapSaver();
            IdleNoticed(NOTICE_SAVER_ENDED);
        }
        IdleNoticed(NOTICE_TIME);
    }
    if (Idle.busLost) fputs("zembloid: the session bus closed the connection\n", stderr);
}

// A saver still showing is ended with the same signal, and waited for, so
// that none is left on screen.
static void EndSaver()
{
    if (!Idle.saver) return;
    kill(Idle.saver, SIGTERM);
    ReapSaver();
}

int RunIdle(const SaverOptions &options)
{
    Idle.options = &options;
    Idle.saverFd = -1;
    if (!WriteSaverCommand()) return 1;
    // Connecting may wait inside a library on a server that never answers;
    // nothing needs putting back until a watcher starts.
    StopExitsAtOnce(true);
    IdleCapabilities capabilities = {};
    if (sd_bus_open_user(&Idle.bus) < 0) Idle.bus = nullptr;
    if (Idle.bus) capabilities.mutterIdleMonitor = MutterIdleMonitorPresent(Idle.bus);
    if (!capabilities.mutterIdleMonitor) ProbeWaylandIdle(&capabilities);
    if (!capabilities.mutterIdleMonitor && !capabilities.wayland) ProbeX11Idle(&capabilities);
    IdleWatcherKind kind = ChooseIdleWatcher(capabilities);
    StopExitsAtOnce(false);
    int64_t idleMs = (int64_t)options.idleSeconds * 1000;
    StartIdleRule(&Idle.rule, idleMs);
    // A longer time would reach the server cut to 16 bits: another time.
    if (kind == WATCHER_X11 && options.idleSeconds > X11_TIMER_SECONDS_MAX) {
        fprintf(stderr, "zembloid: the X server's screen-saver timer counts at most %d seconds\n",
                X11_TIMER_SECONDS_MAX);
        if (Idle.bus) sd_bus_flush_close_unref(Idle.bus);
        return 1;
    }
    bool started = kind == WATCHER_MUTTER ? StartMutterWatch(Idle.bus, idleMs) : false;
    Idle.hasWatcher = StartWaylandWatch(kind, idleMs, &Idle.watcher) ||
                      StartX11Watch(kind, options.idleSeconds, &Idle.watcher);
    if (!started && !Idle.hasWatcher) {
        fputs(MissingWatcherMessage(capabilities), stderr);
        if (Idle.bus) sd_bus_flush_close_unref(Idle.bus);
        return 1;
    }
    if (Idle.bus) OwnScreenSaverName(Idle.bus);
    RunIdleLoop();
    EndSaver();
    if (Idle.hasWatcher) Idle.watcher.close();
    if (Idle.bus) {
        ReleaseScreenSaverName();
        sd_bus_flush_close_unref(Idle.bus);
    }
    return StopSignalled() ? 0 : 1;
}
