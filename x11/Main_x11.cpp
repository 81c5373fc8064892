// The X11 back end: the window to draw in (XScreenSaver's, the root, one
// given by id, one of its own, or a full-screen one) and its events, on the
// shared frame loop.
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "x11/Saver_x11.h"

X11Saver Saver;

// How long the full-screen saver keeps asking for a grab another client
// holds (a menu, or the idle daemon that started it, letting go).
static const int GRAB_ATTEMPTS = 20;
static const int64_t GRAB_RETRY_MS = 50;

// While errors are caught (a pixmap the server may not have room for), the
// first is noted for CaughtXError. Otherwise a window that goes away under
// us (BadWindow, BadDrawable) ends the run quietly, and any other error is
// reported and ends it as a failure.
static int OnXError(Display *display, XErrorEvent *error)
{
    if (Saver.closing) return 0;
    if (Saver.catchingErrors) {
        if (!Saver.caughtError) Saver.caughtError = error->error_code;
        return 0;
    }
    if (error->error_code == BadWindow || error->error_code == BadDrawable) {
        Saver.windowGone = true;
        Saver.player.stopRequested = true;
        return 0;
    }
    char text[160];
    XGetErrorText(display, error->error_code, text, sizeof text);
    fprintf(stderr, "zembloid: X error: %s (request %d)\n", text, error->request_code);
    Saver.player.failed = true;
    return 0;
}

void CatchXErrors()
{
    XSync(Saver.display, False);
    Saver.catchingErrors = true;
    Saver.caughtError = 0;
}

unsigned char CaughtXError()
{
    XSync(Saver.display, False);
    Saver.catchingErrors = false;
    return Saver.caughtError;
}

// The connection lost (the server ended or was killed): one line, as on
// Wayland, rather than Xlib's own message, and exit code 1. Xlib ends the
// process when this returns, so it ends it here.
static int OnXConnectionLost(Display *display)
{
    fprintf(stderr, "zembloid: lost the connection to X display %s\n", DisplayString(display));
    _exit(1);
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
    int screenWidth = DisplayWidth(display, screen), screenHeight = DisplayHeight(display, screen);
    const LinuxPlayer &player = Saver.player;
    int scale = ChosenScale(Saver.options.forcedScale, ScreenDpi(), player.frameWidth,
                            player.frameHeight, screenWidth, screenHeight);
    // A forced scale larger than the screen would make a window (and frame
    // sets) larger than anything that can be seen: it stops at the screen's
    // size, and the frame is centred and cut there.
    int width = player.frameWidth * scale, height = player.frameHeight * scale;
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                        width < screenWidth ? width : screenWidth,
                                        height < screenHeight ? height : screenHeight, 0,
                                        BlackPixel(display, screen), BlackPixel(display, screen));
    XStoreName(display, window, "ZEMBLOID");
    Saver.deleteWindowAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &Saver.deleteWindowAtom, 1);
    Saver.ownWindow = true;
    return window;
}

// A cursor with no visible pixel, for the full-screen window.
static Cursor EmptyCursor()
{
    Display *display = Saver.display;
    static const char noBits[1] = {0};
    Pixmap empty = XCreateBitmapFromData(display, DefaultRootWindow(display), noBits, 1, 1);
    XColor black = {};
    Cursor cursor = XCreatePixmapCursor(display, empty, empty, &black, &black, 0, 0);
    XFreePixmap(display, empty);
    return cursor;
}

// Black, over the whole root, and out of the window manager's hands.
static Window CreateFullscreenWindow()
{
    Display *display = Saver.display;
    int screen = DefaultScreen(display);
    Saver.emptyCursor = EmptyCursor();
    XSetWindowAttributes attributes = {};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.override_redirect = True;
    attributes.cursor = Saver.emptyCursor;
    Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0,
                                  DisplayWidth(display, screen), DisplayHeight(display, screen), 0,
                                  CopyFromParent, InputOutput, CopyFromParent,
                                  CWBackPixel | CWOverrideRedirect | CWCursor, &attributes);
    XStoreName(display, window, "ZEMBLOID");
    Saver.ownWindow = true;
    return window;
}

// Takes the window's size, visual depth and colormap, and asks for its
// structure and exposure events on top of whatever this client already
// selected; in a window of its own also for keys, and full-screen for the
// pointer's buttons and motion.
static bool OpenTargetWindow()
{
    Display *display = Saver.display;
    if (Saver.options.target == TARGET_ROOT) Saver.window = DefaultRootWindow(display);
    if (Saver.options.target == TARGET_WINDOW_ID) Saver.window = Saver.options.windowId;
    if (Saver.options.target == TARGET_OWN_WINDOW)
        Saver.window = Saver.options.fullscreen ? CreateFullscreenWindow() : CreateOwnWindow();
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
    long events = StructureNotifyMask | ExposureMask | (Saver.ownWindow ? KeyPressMask : 0) |
                  (Saver.options.fullscreen ? ButtonPressMask | PointerMotionMask : 0);
    XSelectInput(display, Saver.window, attributes.your_event_mask | events);
    // Full-screen, windows mapped or raised later on the root are seen, so
    // that the saver goes back above them.
    if (Saver.options.fullscreen) XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    return true;
}

// Keyboard and pointer to the full-screen window, asked again for a while
// when another client holds them. Without them the window still gets the
// pointer's motion and buttons, as it covers the screen, but no keys. Run
// before the loop, while a stop signal ends the program at once.
static void GrabInput()
{
    Display *display = Saver.display;
    for (int attempt = 0; attempt < GRAB_ATTEMPTS; ++attempt) {
        if (!Saver.keyboardGrabbed)
            Saver.keyboardGrabbed = XGrabKeyboard(display, Saver.window, False, GrabModeAsync,
                                                  GrabModeAsync, CurrentTime) == GrabSuccess;
        if (!Saver.pointerGrabbed)
            Saver.pointerGrabbed =
                XGrabPointer(display, Saver.window, False, ButtonPressMask | PointerMotionMask,
                             GrabModeAsync, GrabModeAsync, None, Saver.emptyCursor,
                             CurrentTime) == GrabSuccess;
        if (Saver.keyboardGrabbed && Saver.pointerGrabbed) return;
        WaitForEvents(nullptr, 0, GRAB_RETRY_MS);
    }
    const char *held = Saver.keyboardGrabbed  ? "pointer"
                       : Saver.pointerGrabbed ? "keyboard"
                                              : "keyboard and pointer";
    fprintf(stderr, "zembloid: another client holds the %s\n", held);
}

// Mapped above every other window, with the input grabbed and where the
// pointer stands now as the baseline of its travel.
static void ShowFullscreen()
{
    Display *display = Saver.display;
    XMapRaised(display, Saver.window);
    GrabInput();
    Window rootReturn, childReturn;
    int rootX = 0, rootY = 0, x, y;
    unsigned int buttons;
    // False when the pointer is on another screen: then the first motion
    // over this one sets the baseline.
    if (XQueryPointer(display, DefaultRootWindow(display), &rootReturn, &childReturn, &rootX, &rootY,
                      &x, &y, &buttons))
        PointerTravelWakes(&Saver.pointer, rootX, rootY);
}

// Another top-level window mapped, or stacked right above the saver, while
// the full-screen saver runs: the saver is raised above it again. Windows
// restacked below it are left alone, so that a client that keeps itself on
// top of the others does not start a raising war with it.
static void KeepOnTop(Window parent, Window window)
{
    if (Saver.options.fullscreen && window != Saver.window && parent == DefaultRootWindow(Saver.display))
        XRaiseWindow(Saver.display, Saver.window);
}

// A new RandR configuration: Xlib's idea of the screen updated, then the
// full-screen window made to cover the new root (its ConfigureNotify lays
// the frames out again), or the frames laid out on the new monitors. The
// size is the root's own: under +xinerama RandR reports the first screen's
// alone, and Xephyr sends one such report unasked soon after a client starts.
static void OnScreenChange(XEvent *event)
{
    Display *display = Saver.display;
    XRRUpdateConfiguration(event);
    Window root;
    int x, y;
    unsigned int width = 0, height = 0, border, depth;
    XGetGeometry(display, DefaultRootWindow(display), &root, &x, &y, &width, &height, &border, &depth);
    if (Saver.options.fullscreen && ((int)width != Saver.windowWidth || (int)height != Saver.windowHeight)) {
        XMoveResizeWindow(display, Saver.window, 0, 0, width, height);
        return;
    }
    if (Saver.options.target == TARGET_ROOT) {
        Saver.windowWidth = width;
        Saver.windowHeight = height;
    }
    Saver.layoutDirty = true;
}

static void HandleEvent(XEvent *event)
{
    switch (event->type) {
    case Expose:
        if (event->xexpose.count == 0) DrawWholeWindow();
        break;
    case MapNotify:
        KeepOnTop(event->xmap.event, event->xmap.window);
        break;
    case ConfigureNotify:
        if (event->xconfigure.window != Saver.window) {
            if (event->xconfigure.above == Saver.window)
                KeepOnTop(event->xconfigure.event, event->xconfigure.window);
            break;
        }
        if (event->xconfigure.width == Saver.windowWidth && event->xconfigure.height == Saver.windowHeight)
            break;
        Saver.windowWidth = event->xconfigure.width;
        Saver.windowHeight = event->xconfigure.height;
        Saver.layoutDirty = true;
        break;
    case KeyPress:
        Saver.player.stopRequested = true;
        break;
    case ButtonPress:
        Saver.player.stopRequested = true;
        break;
    case MotionNotify:
        if (PointerTravelWakes(&Saver.pointer, event->xmotion.x_root, event->xmotion.y_root))
            Saver.player.stopRequested = true;
        break;
    case ClientMessage:
        if ((Atom)event->xclient.data.l[0] == Saver.deleteWindowAtom) Saver.player.stopRequested = true;
        break;
    case DestroyNotify:
        if (event->xdestroywindow.window != Saver.window) break;
        Saver.windowGone = true;
        Saver.player.stopRequested = true;
        break;
    default:
        if (Saver.randr && event->type == Saver.randrEventBase + RRScreenChangeNotify)
            OnScreenChange(event);
        break;
    }
}

// The loop's prepare step: the queued events, then at most one new layout
// for all of them, its frame sets built here rather than in a handler.
static void ReadQueuedEvents()
{
    while (!PlayerStopping(Saver.player) && XPending(Saver.display)) {
        XEvent event;
        XNextEvent(Saver.display, &event);
        HandleEvent(&event);
    }
    if (!Saver.layoutDirty || PlayerStopping(Saver.player)) return;
    Saver.layoutDirty = false;
    RelayOutFrames();
    DrawWholeWindow();
}

// XPending reads whatever the wait found on the connection.
static void AfterWait(bool)
{
}

// A server that stops answering cannot hold the program here: a stop signal
// ends it at once.
static void CloseAll()
{
    StopExitsAtOnce(true);
    Saver.closing = true;
    ReleaseDrawing();
    if (Saver.ownWindow && !Saver.windowGone) XDestroyWindow(Saver.display, Saver.window);
    if (Saver.emptyCursor) XFreeCursor(Saver.display, Saver.emptyCursor);
    XCloseDisplay(Saver.display);
}

int RunX11(const SaverOptions &options)
{
    Saver.options = options;
    if (!StartPlayer(&Saver.player)) return 1;
    // Connecting and the round trips of the start wait inside Xlib for a
    // server that may never answer, and hold nothing the server does not free
    // when the connection goes: until the loop, a stop signal ends the
    // program at once.
    StopExitsAtOnce(true);
    Saver.display = XOpenDisplay(nullptr);
    if (!Saver.display) {
        fprintf(stderr, "zembloid: cannot open display %s\n", XDisplayName(nullptr));
        return 1;
    }
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnXConnectionLost);
    ReadResourceDpi();
    WatchScreenChanges();
    bool ready = OpenTargetWindow();
    if (ready) {
        PrepareDrawing();
        if (Saver.options.fullscreen) ShowFullscreen();
        else if (Saver.ownWindow) XMapWindow(Saver.display, Saver.window);
        Saver.layoutDirty = true;
        StopExitsAtOnce(false);
        DisplayLoop loop = {ConnectionNumber(Saver.display), ReadQueuedEvents, AfterWait,
                            DrawNextFrame, &Saver.player};
        RunDisplayLoop(loop, options.redrawSpeed);
    }
    CloseAll();
    return ready && !Saver.player.failed ? 0 : 1;
}
