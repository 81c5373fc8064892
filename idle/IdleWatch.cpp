// The platform-free part of the idle watcher: the choice of watcher and the
// rule that decides when the saver shows.
#include "idle/IdleWatch.h"

IdleWatcherKind ChooseIdleWatcher(const IdleCapabilities &capabilities)
{
    if (capabilities.mutterIdleMonitor) return WATCHER_MUTTER;
    if (capabilities.wayland) {
        if (capabilities.extIdleNotifier) return WATCHER_EXT_IDLE;
        if (capabilities.kdeIdle) return WATCHER_KDE_IDLE;
        return WATCHER_NONE;
    }
    if (capabilities.x11 && capabilities.x11ScreenSaver) return WATCHER_X11;
    return WATCHER_NONE;
}

const char *MissingWatcherMessage(const IdleCapabilities &capabilities)
{
    if (capabilities.wayland)
        return "zembloid: the Wayland compositor offers neither ext_idle_notifier_v1 nor "
               "org_kde_kwin_idle; start zembloid -fullscreen from an idle tool (see README)\n";
    if (capabilities.x11)
        return "zembloid: the X server has no MIT-SCREEN-SAVER extension; start zembloid "
               "-fullscreen from an idle tool (see README)\n";
    return "zembloid: no idle watcher: no org.gnome.Mutter.IdleMonitor on the session bus, no "
           "Wayland compositor, no X display; start zembloid -fullscreen from an idle tool (see "
           "README)\n";
}

void StartIdleRule(IdleRule *rule, int64_t idleMs)
{
    *rule = IdleRule{idleMs, false, false, false, -1};
}

// The saver ends on input (or is ended); either way the session must go idle
// again before the next showing, so its end counts as activity.
bool IdleRuleShows(IdleRule *rule, IdleNotice notice, int64_t now)
{
    switch (notice) {
    case NOTICE_IDLE: rule->idle = true; break;
    case NOTICE_ACTIVE: rule->idle = false; break;
    case NOTICE_HELD: rule->held = true; rule->countFrom = -1; break;
    case NOTICE_RELEASED: rule->held = false; rule->countFrom = now; break;
    case NOTICE_SAVER_ENDED: rule->showing = false; rule->idle = false; break;
    case NOTICE_TIME: break;
    }
    if (rule->countFrom >= 0 && now - rule->countFrom >= rule->idleMs) rule->countFrom = -1;
    bool shows = rule->idle && !rule->held && !rule->showing && rule->countFrom < 0;
    if (shows) rule->showing = true;
    return shows;
}

int64_t IdleRuleWaitMs(const IdleRule *rule, int64_t now)
{
    if (rule->countFrom < 0) return -1;
    int64_t left = rule->countFrom + rule->idleMs - now;
    return left > 0 ? left : 0;
}
