// The X11 back end: the window to draw in (XScreenSaver's, the root, one
// given by id, or one of its own) and its events, on the shared frame loop.
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <stdio.h>
#include <stdlib.h>

#include "animation/Dib.h"
#include "x11/Saver_x11.h"

X11Saver Saver;

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

// RandR's screen-change events, where the server has RandR; from 1.5 on it
// also lists the monitors.
static void WatchScreenChanges()
{
    Display *display = Saver.display;
    int errorBase, major = 0, minor = 0;
    Saver.randr = XRRQueryExtension(display, &Saver.randrEventBase, &errorBase) &&
                  XRRQueryVersion(display, &major, &minor);
    if (!Saver.randr) return;
    Saver.randrMonitors = major > 1 || (major == 1 && minor >= 5);
    XRRSelectInput(display, DefaultRootWindow(display), RRScreenChangeNotifyMask);
}

// The own window is as large as the frame at the screen's scale (or -scale).
static Window CreateOwnWindow()
{
    Display *display = Saver.display;
    int screen = DefaultScreen(display);
    int scale = Saver.forcedScale ? Saver.forcedScale
                                  : FrameScale(ScreenDpi(), Saver.frameWidth, Saver.frameHeight,
                                               DisplayWidth(display, screen),
                                               DisplayHeight(display, screen));
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                        Saver.frameWidth * scale, Saver.frameHeight * scale, 0,
                                        BlackPixel(display, screen), BlackPixel(display, screen));
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
    return Saver.stopRequested || Saver.windowGone || Saver.failed;
}

// A new RandR configuration: Xlib's idea of the screen's size updated, then
// the frames laid out on the new monitors.
static void OnScreenChange(XEvent *event)
{
    Display *display = Saver.display;
    XRRUpdateConfiguration(event);
    int screen = DefaultScreen(display);
    int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
    if (Saver.target == TARGET_ROOT) {
        Saver.windowWidth = width;
        Saver.windowHeight = height;
    }
    PlaceFrames();
    DrawWholeWindow();
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
    default:
        if (Saver.randr && event->type == Saver.randrEventBase + RRScreenChangeNotify)
            OnScreenChange(event);
        break;
    }
}

static void ReadQueuedEvents()
{
    while (!Stopping() && XPending(Saver.display)) {
        XEvent event;
        XNextEvent(Saver.display, &event);
        HandleEvent(&event);
    }
}

// XPending reads whatever the wait found on the connection.
static void AfterWait(bool)
{
}

static void CloseAll()
{
    Saver.closing = true;
    ReleaseDrawing();
    if (Saver.ownWindow && !Saver.windowGone) XDestroyWindow(Saver.display, Saver.window);
    XCloseDisplay(Saver.display);
}

int RunX11(const SaverOptions &options)
{
    Saver.target = options.target;
    Saver.targetWindow = options.windowId;
    Saver.forcedScale = options.forcedScale;
    if (!ReadEnvironmentWindow() || !ReadFrameDibs(Saver.dibs)) return 1;
    Saver.frameWidth = DibWidth(Saver.dibs[0]);
    Saver.frameHeight = DibHeight(Saver.dibs[0]);
    Saver.display = XOpenDisplay(nullptr);
    if (!Saver.display) {
        fprintf(stderr, "zembloid: cannot open display %s\n", XDisplayName(nullptr));
        return 1;
    }
    InstallStopSignals();
    XSetErrorHandler(OnXError);
    ReadResourceDpi();
    WatchScreenChanges();
    bool ready = OpenTargetWindow();
    if (ready) {
        PrepareDrawing();
        if (Saver.ownWindow) XMapWindow(Saver.display, Saver.window);
        PlaceFrames();
        DrawWholeWindow();
        DisplayLoop loop = {ConnectionNumber(Saver.display), ReadQueuedEvents, AfterWait,
                            DrawNextFrame, Stopping};
        RunDisplayLoop(loop, options.redrawSpeed);
    }
    CloseAll();
    return ready && !Saver.failed ? 0 : 1;
}
