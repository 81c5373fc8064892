// The monitors a frame is placed on, and the DPI that decides each one's scale.
#include <X11/Xresource.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <stdlib.h>

#include "x11/Saver_x11.h"

// Xft.dpi, which desktops set in the screen's resource database when the user
// chooses a larger scale; 0 when it is not set or not a number.
void ReadResourceDpi()
{
    Saver.resourceDpi = 0;
    const char *resources = XResourceManagerString(Saver.display);
    if (!resources) return;
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources);
    char *type = nullptr;
    XrmValue value = {};
    if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) {
        double dpi = strtod(value.addr, nullptr);
        if (dpi >= 1 && dpi <= 10000) Saver.resourceDpi = (int)(dpi + 0.5);
    }
    XrmDestroyDatabase(database);
}

// Dots per inch of `pixels` across `millimetres`, rounded; 0 when the size
// is unknown (reported as 0 mm).
static int PhysicalDpi(int pixels, int millimetres)
{
    if (millimetres <= 0 || pixels <= 0) return 0;
    return (int)(((int64_t)pixels * 254 + millimetres * 5) / ((int64_t)millimetres * 10));
}

// Xft.dpi, else the screen's physical size, else STANDARD_DPI.
int ScreenDpi()
{
    if (Saver.resourceDpi) return Saver.resourceDpi;
    int screen = DefaultScreen(Saver.display);
    int dpi = PhysicalDpi(DisplayWidth(Saver.display, screen), DisplayWidthMM(Saver.display, screen));
    return dpi ? dpi : STANDARD_DPI;
}

// A monitor's DPI from its own physical size, unless Xft.dpi says otherwise.
// A size that works out at exactly STANDARD_DPI is the one servers make up
// when they know none (Xvfb and Xephyr do, whatever their -dpi), so there the
// screen's size decides, which -dpi and xrandr --dpi set.
static int MonitorDpi(int pixels, int millimetres)
{
    int dpi = Saver.resourceDpi ? 0 : PhysicalDpi(pixels, millimetres);
    return dpi && dpi != STANDARD_DPI ? dpi : ScreenDpi();
}

static int ReadRandRMonitors(MonitorArea *monitors)
{
    if (!Saver.randrMonitors) return 0;
    int listed = 0, count = 0;
    XRRMonitorInfo *list = XRRGetMonitors(Saver.display, DefaultRootWindow(Saver.display), True, &listed);
    for (int i = 0; i < listed && count < MONITOR_LIMIT; ++i) {
        const XRRMonitorInfo &monitor = list[i];
        monitors[count++] = {{monitor.x, monitor.y, monitor.width, monitor.height},
                             MonitorDpi(monitor.width, monitor.mwidth)};
    }
    if (list) XRRFreeMonitors(list);
    return count;
}

// Xinerama knows no physical sizes: its heads take the screen's DPI.
static int ReadXineramaHeads(MonitorArea *monitors)
{
    int eventBase, errorBase, heads = 0, count = 0;
    if (!XineramaQueryExtension(Saver.display, &eventBase, &errorBase)) return 0;
    XineramaScreenInfo *screens = XineramaQueryScreens(Saver.display, &heads);
    for (int i = 0; i < heads && count < MONITOR_LIMIT; ++i) {
        const XineramaScreenInfo &head = screens[i];
        monitors[count++] = {{head.x_org, head.y_org, head.width, head.height}, ScreenDpi()};
    }
    if (screens) XFree(screens);
    return count;
}

// The root's monitors in root coordinates. RandR's list comes with each
// monitor's physical size, so it is preferred; but a server running with
// +xinerama over several screens (Xephyr's heads, older multi-head Xorg)
// lists one RandR monitor and several Xinerama heads, so whichever list
// names more monitors is taken, RandR's on a tie. Current servers without
// +xinerama answer Xinerama from their RandR monitors, so the two agree there.
static int ReadRootMonitors(MonitorArea *monitors)
{
    MonitorArea heads[MONITOR_LIMIT];
    int count = ReadRandRMonitors(monitors);
    int headCount = ReadXineramaHeads(heads);
    if (headCount <= count) return count;
    for (int i = 0; i < headCount; ++i) monitors[i] = heads[i];
    return headCount;
}

// The DPI of the root's monitor under the point (x, y) of the root.
static int DpiAt(int x, int y)
{
    MonitorArea monitors[MONITOR_LIMIT];
    int count = ReadRootMonitors(monitors);
    for (int i = 0; i < count; ++i) {
        const ScreenRect &r = monitors[i].area;
        if (x >= r.left && x < r.left + r.width && y >= r.top && y < r.top + r.height)
            return monitors[i].dpi;
    }
    return ScreenDpi();
}

// The monitors in the window's coordinates: on the real root, and under the
// full-screen window that covers it from (0, 0), the root's monitors; in any
// other window, or without monitors, the whole window, at the DPI of the
// monitor under its centre.
int ReadMonitors(MonitorArea *monitors)
{
    int count = 0;
    if (Saver.options.target == TARGET_ROOT || Saver.options.fullscreen) count = ReadRootMonitors(monitors);
    if (count > 0) return count;
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(Saver.display, Saver.window, DefaultRootWindow(Saver.display),
                          Saver.windowWidth / 2, Saver.windowHeight / 2, &x, &y, &child);
    monitors[0] = {{0, 0, Saver.windowWidth, Saver.windowHeight}, DpiAt(x, y)};
    return 1;
}
