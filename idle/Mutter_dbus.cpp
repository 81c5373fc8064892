// The GNOME watcher: Mutter's idle monitor on the session bus. An idle watch
// fires on every idle period, but not while gnome-session holds an idle
// inhibitor (where the org.freedesktop.ScreenSaver inhibitors of GNOME go);
// a user-active watch fires once, so one is added after each idle. The idle
// time itself (GetIdletime) counts on through inhibitors and is not read.
#include <systemd/sd-bus.h>

#include "idle/Idle_linux.h"

static const char MONITOR[] = "org.gnome.Mutter.IdleMonitor";
static const char CORE[] = "/org/gnome/Mutter/IdleMonitor/Core";

static struct {
    sd_bus *bus;
    uint32_t idleWatch, activeWatch;
} Mutter;

bool MutterIdleMonitorPresent(sd_bus *bus)
{
    sd_bus_message *reply = nullptr;
    int present = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &reply, "s", MONITOR) >= 0)
        sd_bus_message_read(reply, "b", &present);
    sd_bus_message_unref(reply);
    return present;
}

static int OnActiveWatchAdded(sd_bus_message *reply, void *, sd_bus_error *)
{
    if (!sd_bus_message_is_method_error(reply, nullptr))
        sd_bus_message_read(reply, "u", &Mutter.activeWatch);
    return 0;
}

static int OnWatchFired(sd_bus_message *message, void *, sd_bus_error *)
{
    uint32_t id;
    if (sd_bus_message_read(message, "u", &id) < 0 || id == 0) return 0;
    if (id == Mutter.idleWatch) {
        IdleNoticed(NOTICE_IDLE);
        sd_bus_call_method_async(Mutter.bus, nullptr, MONITOR, CORE, MONITOR, "AddUserActiveWatch",
                                 OnActiveWatchAdded, nullptr, "");
    } else if (id == Mutter.activeWatch) {
        Mutter.activeWatch = 0;
        IdleNoticed(NOTICE_ACTIVE);
    }
    return 0;
}

// The watches belong to this connection and go with it.
bool StartMutterWatch(sd_bus *bus, int64_t idleMs)
{
    Mutter.bus = bus;
    if (sd_bus_match_signal(bus, nullptr, nullptr, CORE, MONITOR, "WatchFired", OnWatchFired, nullptr) < 0)
        return false;
    sd_bus_message *reply = nullptr;
    bool added = sd_bus_call_method(bus, MONITOR, CORE, MONITOR, "AddIdleWatch", nullptr, &reply, "t",
                                    (uint64_t)idleMs) >= 0 &&
                 sd_bus_message_read(reply, "u", &Mutter.idleWatch) >= 0;
    sd_bus_message_unref(reply);
    return added;
}
