// What the idle watcher's Linux units share: the loop in Main_idle.cpp, and
// one unit per watcher that reports "idle" and "active" through IdleNoticed.
#pragma once

#include "idle/IdleWatch.h"

struct sd_bus;

// Main_idle.cpp: every watcher and the D-Bus name report here.
void IdleNoticed(IdleNotice notice);

// A watcher with a connection of its own (Wayland, X11) that the loop polls;
// the D-Bus ones need none, as the loop serves the bus itself.
struct IdleWatcher {
    int fd;                        // polled for reading; -1: none
    void (*prepare)();             // before the wait: dispatch what is queued, flush
    bool (*read)(bool readable);   // after the wait; false when the connection is lost
    void (*hold)(bool held);       // an inhibitor on our own D-Bus name came or went
    void (*close)();
};

// Mutter_dbus.cpp
bool MutterIdleMonitorPresent(sd_bus *bus);
bool StartMutterWatch(sd_bus *bus, int64_t idleMs);

// ScreenSaverName_dbus.cpp: org.freedesktop.ScreenSaver, owned only when no
// one else has it. Reports NOTICE_HELD with the first cookie and
// NOTICE_RELEASED when the last goes, by UnInhibit or by its holder leaving
// the bus.
bool OwnScreenSaverName(sd_bus *bus);
void ReleaseScreenSaverName();

// Idle_wayland.cpp. Probe connects to $WAYLAND_DISPLAY and notes what it
// offers; Start watches with `kind` or, for any other kind, disconnects.
void ProbeWaylandIdle(IdleCapabilities *capabilities);
bool StartWaylandWatch(IdleWatcherKind kind, int64_t idleMs, IdleWatcher *watcher);

// Idle_x11.cpp, the same for $DISPLAY and its screen-saver timer, whose
// timeout the core protocol carries in 16 signed bits.
const int32_t X11_TIMER_SECONDS_MAX = 32767;
void ProbeX11Idle(IdleCapabilities *capabilities);
bool StartX11Watch(IdleWatcherKind kind, int32_t idleSeconds, IdleWatcher *watcher);
