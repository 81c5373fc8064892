// The Wayland back end: not yet built, so every run goes to X11.
#include "linux/Saver_linux.h"

int RunWayland(const SaverOptions &)
{
    return -1;
}
