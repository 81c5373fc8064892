// The read half of libwayland's prepare-read handshake, shared by the display
// back end and the idle watcher, each of which waits on its connection in the
// program's one ppoll loop.
#pragma once

struct wl_display;

// After the wait: reads the events that wl_display_prepare_read announced
// (or cancels the read when the connection was not readable), then
// dispatches them. False when the connection failed; the caller reports it.
bool ReadAnnouncedEvents(wl_display *display, bool *readPrepared, bool readable);
