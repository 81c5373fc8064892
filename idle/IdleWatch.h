// The idle watcher of the Linux program (zembloid -idle): which of the
// session's idle sources to watch, and when to show the full-screen saver.
// Platform-free; the watchers themselves are the *_dbus, *_wayland and *_x11
// units beside it.
#pragma once

#include <stdint.h>

// What the session offers, each found by asking it.
struct IdleCapabilities {
    bool mutterIdleMonitor;   // org.gnome.Mutter.IdleMonitor on the session bus
    bool wayland;             // a Wayland compositor answered on $WAYLAND_DISPLAY
    bool extIdleNotifier;     // it offers ext_idle_notifier_v1
    bool kdeIdle;             // it offers org_kde_kwin_idle
    bool x11;                 // an X server answered on $DISPLAY
    bool x11ScreenSaver;      // it has the MIT-SCREEN-SAVER extension
};

enum IdleWatcherKind { WATCHER_NONE, WATCHER_MUTTER, WATCHER_EXT_IDLE, WATCHER_KDE_IDLE, WATCHER_X11 };

// Mutter first: its watches are the ones gnome-session's inhibitors hold
// back. Then the compositor's own idle notification, which honours Wayland
// idle inhibitors. An X server's timer sees only its own clients' input, so
// under a Wayland compositor (whose Xwayland it would be) it is not used.
IdleWatcherKind ChooseIdleWatcher(const IdleCapabilities &capabilities);
// The one line for WATCHER_NONE: what is missing.
const char *MissingWatcherMessage(const IdleCapabilities &capabilities);

// What the watchers and the loop report to the rule.
enum IdleNotice {
    NOTICE_IDLE,          // the watcher: no input for the idle time
    NOTICE_ACTIVE,        // the watcher: input again
    NOTICE_HELD,          // the first inhibitor came
    NOTICE_RELEASED,      // the last inhibitor went
    NOTICE_SAVER_ENDED,   // the saver that showed has ended
    NOTICE_TIME           // a wait of IdleRuleWaitMs has passed
};

// Show when the session is idle, nothing inhibits it and no saver shows; once
// the last inhibitor goes, the full idle time counts again from then.
struct IdleRule {
    int64_t idleMs;
    bool idle, held, showing;
    int64_t countFrom;   // when the last inhibitor went, until idleMs after; else -1
};
void StartIdleRule(IdleRule *rule, int64_t idleMs);
// Takes the notice at `now` (ms); true when the saver is to show now.
bool IdleRuleShows(IdleRule *rule, IdleNotice notice, int64_t now);
// How long until NOTICE_TIME can change anything; -1: no limit.
int64_t IdleRuleWaitMs(const IdleRule *rule, int64_t now);
