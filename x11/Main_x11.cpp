// ZEMBLOID as an XScreenSaver display mode: the command line, the window to
// draw in, and one event loop that waits on the X connection until the next
// tick is due.
#include <X11/Xutil.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "settings/Settings.h"
#include "x11/Saver_x11.h"

X11Saver Saver;

static const char USAGE[] = "usage: zembloid [-root | -window-id ID] [-speed 1..30]\n";
static const int OWN_WINDOW_WIDTH = 640;
static const int OWN_WINDOW_HEIGHT = 480;

// Decimal, or hexadecimal after one 0x; nothing but digits of that base
// (strtoull alone would take a sign, spaces, or a second 0x), never zero,
// never beyond 32 bits.
static bool ParseWindowId(const char *text, Window *id)
{
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    const char *digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (!text[0] || text[strspn(text, digits)]) return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long value = strtoull(text, &end, base);
    if (errno || *end || value == 0 || value > 0xFFFFFFFFull) return false;
    *id = (Window)value;
    return true;
}

// Any integer is accepted; one outside 1..30 plays at the default speed.
static bool ParseSpeed(const char *text, int32_t *speed)
{
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(text, &end, 10);
    if (end == text || *end) return false;
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) value = 0;
    *speed = ApplySpeedRange((int32_t)value);
    return true;
}

// XScreenSaver's own display modes are also run with double-dash options,
// so "--speed" means "-speed".
static bool ParseArguments(int argc, char **argv)
{
    Saver.target = TARGET_OWN_WINDOW;
    Saver.redrawSpeed = REDRAW_SPEED_DEFAULT;
    bool targetGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        if (option[0] == '-' && option[1] == '-') ++option;
        bool hasValue = i + 1 < argc;
        if (strcmp(option, "-root") == 0 && !targetGiven) {
            Saver.target = TARGET_ROOT;
            targetGiven = true;
        } else if (strcmp(option, "-window-id") == 0 && !targetGiven && hasValue &&
                   ParseWindowId(argv[++i], &Saver.targetWindow)) {
            Saver.target = TARGET_WINDOW_ID;
            targetGiven = true;
        } else if (strcmp(option, "-speed") == 0 && hasValue && ParseSpeed(argv[++i], &Saver.redrawSpeed)) {
        } else {
            return false;
        }
    }
    return true;
}

// Without -window-id, the window XScreenSaver hands over, if any. With -root
// too: the daemon covers the screen with that window, and XScreenSaver's own
// programs: lines carry -root, so drawing on the real root would be unseen.
static bool ReadEnvironmentWindow()
{
    const char *named = getenv("XSCREENSAVER_WINDOW");
    if (Saver.target == TARGET_WINDOW_ID || !named || !*named) return true;
    if (!ParseWindowId(named, &Saver.targetWindow)) {
        fprintf(stderr, "zembloid: XSCREENSAVER_WINDOW is not a window id: %s\n", named);
        return false;
    }
    Saver.target = TARGET_WINDOW_ID;
    return true;
}

static void OnStopSignal(int signalNumber)
{
    Saver.stopSignal = signalNumber;
}

// Called once the display is open: until then SIGTERM and SIGINT keep their
// default action, so a connection that never completes can still be ended.
// From here on they stay blocked except inside ppoll, so one that arrives
// between two checks of the flag stays pending and ends the next wait at once.
static void InstallSignals(sigset_t *waitMask)
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, waitMask);
    sigdelset(waitMask, SIGTERM);
    sigdelset(waitMask, SIGINT);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// A window that goes away under us (BadWindow, BadDrawable) ends the run
// quietly; any other error is reported and ends it as a failure.
static int OnXError(Display *display, XErrorEvent *error)
{
    if (Saver.closing) return 0;
    if (error->error_code == BadWindow || error->error_code == BadDrawable) {
        Saver.windowGone = true;
        return 0;
    }
    char text[160];
    XGetErrorText(display, error->error_code, text, sizeof text);
    fprintf(stderr, "zembloid: X error: %s (request %d)\n", text, error->request_code);
    Saver.failed = true;
    return 0;
}

static Window CreateOwnWindow()
{
    Display *display = Saver.display;
    int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, OWN_WINDOW_WIDTH,
                                        OWN_WINDOW_HEIGHT, 0, BlackPixel(display, screen),
                                        BlackPixel(display, screen));
    XStoreName(display, window, "ZEMBLOID");
    Saver.deleteWindowAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &Saver.deleteWindowAtom, 1);
    Saver.ownWindow = true;
    return window;
}

// Takes the window's size, visual depth and colormap, and asks for its
// structure and exposure events on top of whatever this client already selected.
static bool OpenTargetWindow()
{
    Display *display = Saver.display;
    if (Saver.target == TARGET_ROOT) Saver.window = DefaultRootWindow(display);
    if (Saver.target == TARGET_WINDOW_ID) Saver.window = Saver.targetWindow;
    if (Saver.target == TARGET_OWN_WINDOW) Saver.window = CreateOwnWindow();
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, Saver.window, &attributes)) {
        fprintf(stderr, "zembloid: no window 0x%lx\n", Saver.window);
        return false;
    }
    Saver.windowWidth = attributes.width;
    Saver.windowHeight = attributes.height;
    Saver.visual = attributes.visual;
    Saver.depth = attributes.depth;
    Saver.colormap = attributes.colormap;
    if (!Saver.colormap) Saver.colormap = DefaultColormapOfScreen(attributes.screen);
    long events = StructureNotifyMask | ExposureMask | (Saver.ownWindow ? KeyPressMask : 0);
    XSelectInput(display, Saver.window, attributes.your_event_mask | events);
    return true;
}

static bool Stopping()
{
    return Saver.stopSignal || Saver.stopRequested || Saver.windowGone || Saver.failed;
}

static void HandleEvent(XEvent *event)
{
    switch (event->type) {
    case Expose:
        if (event->xexpose.count == 0) DrawWholeWindow();
        break;
    case ConfigureNotify:
        if (event->xconfigure.window != Saver.window) break;
        if (event->xconfigure.width == Saver.windowWidth && event->xconfigure.height == Saver.windowHeight)
            break;
        Saver.windowWidth = event->xconfigure.width;
        Saver.windowHeight = event->xconfigure.height;
        PlaceFrames();
        DrawWholeWindow();
        break;
    case KeyPress:
        Saver.stopRequested = true;
        break;
    case ClientMessage:
        if ((Atom)event->xclient.data.l[0] == Saver.deleteWindowAtom) Saver.stopRequested = true;
        break;
    case DestroyNotify:
        if (event->xdestroywindow.window == Saver.window) Saver.windowGone = true;
        break;
    }
}

static int64_t NowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// Events first, then a wait on the connection until the next tick, then the
// tick when it is due; a tick that falls behind is not caught up in a burst.
// The wait happens on every pass, with a zero timeout when the tick is
// already due: ppoll is the one place the stop signals are unblocked, so a
// display slow enough that every flush outlasts the period would otherwise
// never let a pending SIGTERM in.
static void RunEventLoop(const sigset_t *waitMask)
{
    const int64_t period = FramePeriodMs(Saver.redrawSpeed);
    int64_t nextTick = NowMs();
    struct pollfd connection = {ConnectionNumber(Saver.display), POLLIN, 0};
    while (!Stopping()) {
        while (!Stopping() && XPending(Saver.display)) {
            XEvent event;
            XNextEvent(Saver.display, &event);
            HandleEvent(&event);
        }
        if (Stopping()) break;
        int64_t waitMs = nextTick - NowMs();
        if (waitMs < 0) waitMs = 0;
        struct timespec wait = {(time_t)(waitMs / 1000), (long)(waitMs % 1000) * 1000000};
        ppoll(&connection, 1, &wait, waitMask);
        if (Stopping()) break;
        int64_t now = NowMs();
        if (now < nextTick) continue;
        DrawNextFrame();
        nextTick = (now - nextTick >= period) ? now + period : nextTick + period;
    }
}

static void CloseAll()
{
    Saver.closing = true;
    ReleaseFramePixmaps();
    if (Saver.ownWindow && !Saver.windowGone) XDestroyWindow(Saver.display, Saver.window);
    XCloseDisplay(Saver.display);
}

int main(int argc, char **argv)
{
    if (!ParseArguments(argc, argv)) {
        fputs(USAGE, stderr);
        return 2;
    }
    if (!ReadEnvironmentWindow()) return 1;
    Saver.display = XOpenDisplay(nullptr);
    if (!Saver.display) {
        fprintf(stderr, "zembloid: cannot open display %s\n", XDisplayName(nullptr));
        return 1;
    }
    sigset_t waitMask;
    InstallSignals(&waitMask);
    XSetErrorHandler(OnXError);
    bool ready = OpenTargetWindow() && LoadFramePixmaps();
    if (ready && Saver.ownWindow) XMapWindow(Saver.display, Saver.window);
    if (ready) {
        PlaceFrames();
        DrawWholeWindow();
        RunEventLoop(&waitMask);
    }
    CloseAll();
    return ready && !Saver.failed ? 0 : 1;
}
