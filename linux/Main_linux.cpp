// ZEMBLOID on Linux: a Wayland client where a compositor answers, else an X11
// client, as an XScreenSaver display mode, in a window of its own, or as a
// full-screen saver of its own.
#include <stdio.h>
#include <stdlib.h>

#include "linux/Saver_linux.h"

int main(int argc, char **argv)
{
    InstallStopSignals();
    SaverOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        fputs(USAGE, stderr);
        return 2;
    }
    if (options.idleSeconds) return RunIdle(options);
    const char *named = getenv("XSCREENSAVER_WINDOW");
    if (!ApplyEnvironmentWindow(&options, named)) {
        fprintf(stderr, "zembloid: XSCREENSAVER_WINDOW is not a window id: %s\n", named);
        return 1;
    }
    // -root and -window-id (given, or from XScreenSaver) name X11 windows.
    if (options.target == TARGET_OWN_WINDOW) {
        int result = RunWayland(options);
        if (result >= 0) return result;
    }
    return RunX11(options);
}
