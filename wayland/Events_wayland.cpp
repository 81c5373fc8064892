#include <wayland-client.h>

#include "wayland/Events_wayland.h"

bool ReadAnnouncedEvents(wl_display *display, bool *readPrepared, bool readable)
{
    if (*readPrepared) {
        *readPrepared = false;
        if (!readable) wl_display_cancel_read(display);
        else if (wl_display_read_events(display) < 0) return false;
    }
    return wl_display_dispatch_pending(display) >= 0;
}
