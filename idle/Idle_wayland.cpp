// The Wayland watcher: the compositor's own idle notification,
// ext_idle_notifier_v1 (KDE Plasma, sway 1.8 and later, Hyprland) or else
// org_kde_kwin_idle (sway 1.7, KWin). The compositor holds it back while a
// surface has a zwp_idle_inhibit_manager_v1 inhibitor.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "idle/Idle_linux.h"
#include "wayland/Events_wayland.h"

static struct {
    wl_display *display;
    wl_registry *registry;
    uint32_t seatName, extName, kdeName;   // registry names; 0: not offered
    wl_seat *seat;
    ext_idle_notifier_v1 *extNotifier;
    ext_idle_notification_v1 *extNotification;
    org_kde_kwin_idle *kdeIdle;
    org_kde_kwin_idle_timeout *kdeTimeout;
    bool readPrepared;
} Wl;

// Only the first seat is watched: a session has one.
static void OnGlobal(void *, wl_registry *, uint32_t name, const char *interface, uint32_t)
{
    if (strcmp(interface, wl_seat_interface.name) == 0 && !Wl.seatName) Wl.seatName = name;
    if (strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) Wl.extName = name;
    if (strcmp(interface, org_kde_kwin_idle_interface.name) == 0) Wl.kdeName = name;
}

static void OnGlobalRemove(void *, wl_registry *, uint32_t) {}

static const wl_registry_listener REGISTRY_LISTENER = {OnGlobal, OnGlobalRemove};

void ProbeWaylandIdle(IdleCapabilities *capabilities)
{
    const char *socketName = getenv("WAYLAND_DISPLAY");
    if (!socketName || !*socketName) return;
    Wl.display = wl_display_connect(nullptr);
    if (!Wl.display) return;
    Wl.registry = wl_display_get_registry(Wl.display);
    wl_registry_add_listener(Wl.registry, &REGISTRY_LISTENER, nullptr);
    if (wl_display_roundtrip(Wl.display) < 0) {
        wl_registry_destroy(Wl.registry);
        wl_display_disconnect(Wl.display);
        Wl.display = nullptr;
        return;
    }
    capabilities->wayland = true;
    capabilities->extIdleNotifier = Wl.extName && Wl.seatName;
    capabilities->kdeIdle = Wl.kdeName && Wl.seatName;
}

static void OnIdled(void *, ext_idle_notification_v1 *)
{
    IdleNoticed(NOTICE_IDLE);
}

static void OnResumed(void *, ext_idle_notification_v1 *)
{
    IdleNoticed(NOTICE_ACTIVE);
}

static const ext_idle_notification_v1_listener EXT_LISTENER = {OnIdled, OnResumed};

static void OnKdeIdle(void *, org_kde_kwin_idle_timeout *)
{
    IdleNoticed(NOTICE_IDLE);
}

static void OnKdeResumed(void *, org_kde_kwin_idle_timeout *)
{
    IdleNoticed(NOTICE_ACTIVE);
}

static const org_kde_kwin_idle_timeout_listener KDE_LISTENER = {OnKdeIdle, OnKdeResumed};

static void ReportConnectionError()
{
    int error = wl_display_get_error(Wl.display);
    fprintf(stderr, "zembloid: Wayland connection lost: %s\n", strerror(error ? error : EPIPE));
}

// The same prepare-read handshake as the display back end's loop: dispatch
// what is queued, announce the read, flush.
static void Prepare()
{
    while (wl_display_prepare_read(Wl.display) != 0)
        if (wl_display_dispatch_pending(Wl.display) < 0) return;
    Wl.readPrepared = true;
    wl_display_flush(Wl.display);
}

static bool Read(bool readable)
{
    if (ReadAnnouncedEvents(Wl.display, &Wl.readPrepared, readable)) return true;
    ReportConnectionError();
    return false;
}

static void Close()
{
    if (Wl.readPrepared) wl_display_cancel_read(Wl.display);
    if (Wl.extNotification) ext_idle_notification_v1_destroy(Wl.extNotification);
    if (Wl.extNotifier) ext_idle_notifier_v1_destroy(Wl.extNotifier);
    if (Wl.kdeTimeout) org_kde_kwin_idle_timeout_release(Wl.kdeTimeout);
    if (Wl.kdeIdle) org_kde_kwin_idle_destroy(Wl.kdeIdle);
    if (Wl.seat) wl_seat_destroy(Wl.seat);
    wl_registry_destroy(Wl.registry);
    wl_display_flush(Wl.display);
    wl_display_disconnect(Wl.display);
    Wl.display = nullptr;
}

bool StartWaylandWatch(IdleWatcherKind kind, int64_t idleMs, IdleWatcher *watcher)
{
    if (!Wl.display) return false;
    if (kind != WATCHER_EXT_IDLE && kind != WATCHER_KDE_IDLE) {
        Close();
        return false;
    }
    Wl.seat = (wl_seat *)wl_registry_bind(Wl.registry, Wl.seatName, &wl_seat_interface, 1);
    if (kind == WATCHER_EXT_IDLE) {
        Wl.extNotifier = (ext_idle_notifier_v1 *)wl_registry_bind(Wl.registry, Wl.extName,
                                                                  &ext_idle_notifier_v1_interface, 1);
        Wl.extNotification = ext_idle_notifier_v1_get_idle_notification(Wl.extNotifier,
                                                                         (uint32_t)idleMs, Wl.seat);
        ext_idle_notification_v1_add_listener(Wl.extNotification, &EXT_LISTENER, nullptr);
    } else {
        Wl.kdeIdle = (org_kde_kwin_idle *)wl_registry_bind(Wl.registry, Wl.kdeName,
                                                           &org_kde_kwin_idle_interface, 1);
        Wl.kdeTimeout = org_kde_kwin_idle_get_idle_timeout(Wl.kdeIdle, Wl.seat, (uint32_t)idleMs);
        org_kde_kwin_idle_timeout_add_listener(Wl.kdeTimeout, &KDE_LISTENER, nullptr);
    }
    wl_display_flush(Wl.display);
    *watcher = IdleWatcher{wl_display_get_fd(Wl.display), Prepare, Read, nullptr, Close};
    return true;
}
