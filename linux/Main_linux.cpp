// ZEMBLOID on Linux: a Wayland client where a compositor answers, else an X11
// client, as an XScreenSaver display mode, in a window of its own, or as a
// full-screen saver of its own.
#include <stdio.h>
#include <stdlib.h>

#include "linux/Saver_linux.h"

int main(int argc, char **argv)
{
    SaverOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        fputs(USAGE, stderr);
        return 2;
    }
    if (options.idleSeconds) return RunIdle(options);
    // -root and -window-id name X11 windows; the daemon that hands one over
    // in $XSCREENSAVER_WINDOW is an X11 program too.
    const char *xscreensaverWindow = getenv("XSCREENSAVER_WINDOW");
    bool x11Only = options.target != TARGET_OWN_WINDOW ||
                   (!options.fullscreen && xscreensaverWindow && *xscreensaverWindow);
    if (!x11Only) {
        int result = RunWayland(options);
        if (result >= 0) return result;
    }
    return RunX11(options);
}
