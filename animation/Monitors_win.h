// The monitors the frames are laid out on, as the running system reports them.
#pragma once

#include <windows.h>
#include "animation/FramePlayer.h"

// The whole display as one monitor at (0, 0): the size of the window DC's
// device and its logical DPI. The only monitor before Windows 98 and 2000,
// and the one a preview is placed by.
MonitorArea ReadDisplay(HDC windowDC);

// Every monitor of the desktop, at most MONITOR_LIMIT, each with its own DPI
// where the system tells it (Windows 8.1 and later) and the window DC's
// logical DPI elsewhere; the whole display where the system cannot list
// monitors. Returns how many it wrote to `monitors`.
int ReadMonitors(HDC windowDC, MonitorArea *monitors);
