// The X11 watcher: the server's own screen-saver timer, whose ScreenSaverNotify
// events (MIT-SCREEN-SAVER) honour what X11 programs do to stay awake:
// XResetScreenSaver, XScreenSaverSuspend and `xset s off`. The timer is a
// setting of the whole server, so the one found is put back at the end.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include "idle/Idle_linux.h"

static struct {
    Display *display;
    int eventBase;
    int timeout, interval, preferBlanking, allowExposures;   // the server's, put back at the end
} X11Idle;

// A server without version 1.1 of the extension refuses XScreenSaverSuspend;
// the rest still works.
static int OnXError(Display *, XErrorEvent *)
{
    return 0;
}

void ProbeX11Idle(IdleCapabilities *capabilities)
{
    X11Idle.display = XOpenDisplay(nullptr);
    if (!X11Idle.display) return;
    capabilities->x11 = true;
    int errorBase;
    capabilities->x11ScreenSaver = XScreenSaverQueryExtension(X11Idle.display, &X11Idle.eventBase,
                                                              &errorBase);
}

static void Prepare()
{
    XFlush(X11Idle.display);
}

// A lost server ends the program through Xlib's own handler, as the session
// it belonged to has ended.
static bool Read(bool)
{
    while (XPending(X11Idle.display)) {
        XEvent event;
        XNextEvent(X11Idle.display, &event);
        if (event.type != X11Idle.eventBase + ScreenSaverNotify) continue;
        const XScreenSaverNotifyEvent &notify = (const XScreenSaverNotifyEvent &)event;
        IdleNoticed(notify.state == ScreenSaverOn ? NOTICE_IDLE : NOTICE_ACTIVE);
    }
    return true;
}

// An inhibitor held through our own D-Bus name suspends the server's saver,
// as X11 programs do; once it goes, the idle time counts again from now.
static void Hold(bool held)
{
    XScreenSaverSuspend(X11Idle.display, held);
    if (!held) XResetScreenSaver(X11Idle.display);
}

static void Close()
{
    XSetScreenSaver(X11Idle.display, X11Idle.timeout, X11Idle.interval, X11Idle.preferBlanking,
                    X11Idle.allowExposures);
    XSync(X11Idle.display, False);
    XCloseDisplay(X11Idle.display);
    X11Idle.display = nullptr;
}

// The server's timer is set to the idle time and nothing else of it is
// changed. An X server with no other use for it shows its own blanking under
// the saver for as long as it shows.
bool StartX11Watch(IdleWatcherKind kind, int32_t idleSeconds, IdleWatcher *watcher)
{
    if (!X11Idle.display) return false;
    if (kind != WATCHER_X11) {
        XCloseDisplay(X11Idle.display);
        X11Idle.display = nullptr;
        return false;
    }
    XSetErrorHandler(OnXError);
    Display *display = X11Idle.display;
    XGetScreenSaver(display, &X11Idle.timeout, &X11Idle.interval, &X11Idle.preferBlanking,
                    &X11Idle.allowExposures);
    XSetScreenSaver(display, idleSeconds, X11Idle.interval, X11Idle.preferBlanking,
                    X11Idle.allowExposures);
    XScreenSaverSelectInput(display, DefaultRootWindow(display), ScreenSaverNotifyMask);
    XSync(display, False);
    *watcher = IdleWatcher{ConnectionNumber(display), Prepare, Read, Hold, Close};
    return true;
}
