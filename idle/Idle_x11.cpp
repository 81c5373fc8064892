// The X11 watcher: the server's own screen-saver timer, whose ScreenSaverNotify
// events (MIT-SCREEN-SAVER) honour what X11 programs do to stay awake:
// XResetScreenSaver, XScreenSaverSuspend and `xset s off`. The timer is a
// setting of the whole server, so the one found is put back at the end.
// XCB's protocol binding speaks the extension; the watcher needs nothing of
// Xlib.
#include <stdio.h>
#include <stdlib.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include "idle/Idle_linux.h"

static struct {
    xcb_connection_t *connection;
    xcb_window_t root;
    uint8_t firstEvent;   // the extension's first event code
    xcb_get_screen_saver_reply_t found;   // the server's timer, put back at the end
} X11Idle;

static void Disconnect()
{
    xcb_disconnect(X11Idle.connection);
    X11Idle.connection = nullptr;
}

void ProbeX11Idle(IdleCapabilities *capabilities)
{
    int screenNumber = 0;
    X11Idle.connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(X11Idle.connection)) {
        Disconnect();
        return;
    }
    capabilities->x11 = true;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(X11Idle.connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    X11Idle.root = screens.data->root;
    const xcb_query_extension_reply_t *extension =
        xcb_get_extension_data(X11Idle.connection, &xcb_screensaver_id);
    capabilities->x11ScreenSaver = extension && extension->present;
    if (capabilities->x11ScreenSaver) X11Idle.firstEvent = extension->first_event;
}

static void Prepare()
{
    xcb_flush(X11Idle.connection);
}

// Errors come as events too: a server without version 1.1 of the extension
// refuses the suspend request, and the rest still works. False, after one
// line, when the server is gone; the program then ends with exit code 1.
static bool Read(bool)
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(X11Idle.connection)) {
        if ((event->response_type & 0x7F) == X11Idle.firstEvent + XCB_SCREENSAVER_NOTIFY) {
            const xcb_screensaver_notify_event_t *notify = (const xcb_screensaver_notify_event_t *)event;
            IdleNoticed(notify->state == XCB_SCREENSAVER_STATE_ON ? NOTICE_IDLE : NOTICE_ACTIVE);
        }
        free(event);
    }
    if (!xcb_connection_has_error(X11Idle.connection)) return true;
    fputs("zembloid: the X display closed the connection\n", stderr);
    return false;
}

// An inhibitor held through our own D-Bus name suspends the server's saver,
// as X11 programs do; once it goes, the idle time counts again from now.
static void Hold(bool held)
{
    xcb_screensaver_suspend(X11Idle.connection, held);
    if (!held) xcb_force_screen_saver(X11Idle.connection, XCB_SCREEN_SAVER_RESET);
}

static void SetTimer(int16_t timeout)
{
    const xcb_get_screen_saver_reply_t &found = X11Idle.found;
    xcb_set_screen_saver(X11Idle.connection, timeout, found.interval, found.prefer_blanking,
                         found.allow_exposures);
}

static void Close()
{
    SetTimer(X11Idle.found.timeout);
    free(xcb_get_input_focus_reply(X11Idle.connection, xcb_get_input_focus(X11Idle.connection), nullptr));
    Disconnect();
}

// The server's timer is set to the idle time and nothing else of it is
// changed. An X server with no other use for it shows its own blanking under
// the saver for as long as it shows.
bool StartX11Watch(IdleWatcherKind kind, int32_t idleSeconds, IdleWatcher *watcher)
{
    if (!X11Idle.connection) return false;
    xcb_get_screen_saver_reply_t *found = nullptr;
    if (kind == WATCHER_X11)
        found = xcb_get_screen_saver_reply(X11Idle.connection, xcb_get_screen_saver(X11Idle.connection),
                                           nullptr);
    if (!found) {
        Disconnect();
        return false;
    }
    X11Idle.found = *found;
    free(found);
    SetTimer((int16_t)idleSeconds);
    xcb_screensaver_select_input(X11Idle.connection, X11Idle.root, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
    xcb_flush(X11Idle.connection);
    *watcher = IdleWatcher{xcb_get_file_descriptor(X11Idle.connection), Prepare, Read, Hold, Close};
    return true;
}
