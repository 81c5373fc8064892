// The monitors the frames are laid out on, as the running system reports them.
#pragma once

#include <windows.h>
#include "animation/FramePlayer.h"

typedef BOOL(WINAPI *GetMonitorInfoProc)(HMONITOR monitor, MONITORINFO *info);
typedef HRESULT(WINAPI *GetDpiForMonitorProc)(HMONITOR monitor, int kind, UINT *dpiX, UINT *dpiY);

// The monitors read so far, with room for MONITOR_LIMIT, and what reads them:
// GetMonitorInfoA, and GetDpiForMonitor where the system has it (else null,
// and each monitor gets fallbackDpi).
struct MonitorList {
    MonitorArea *monitors;
    int count;
    int fallbackDpi;
    GetMonitorInfoProc getMonitorInfo;
    GetDpiForMonitorProc getDpiForMonitor;
};

// EnumDisplayMonitors' callback: adds one monitor to the MonitorList `data`
// points to.
BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data);

// The whole display as one monitor at (0, 0): the size of the window DC's
// device and its logical DPI. The only monitor before Windows 98 and 2000,
// and the one a preview is placed by.
MonitorArea ReadDisplay(HDC windowDC);

// Every monitor of the desktop, at most MONITOR_LIMIT, each with its own DPI
// where the system tells it (Windows 8.1 and later) and the window DC's
// logical DPI elsewhere; the whole display where the system cannot list
// monitors. Returns how many it wrote to `monitors`.
int ReadMonitors(HDC windowDC, MonitorArea *monitors);
