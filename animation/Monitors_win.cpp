// Listing the monitors. The functions that do it are looked up at run time, so
// that the program still loads on Windows 95 and NT 4, which lack them.
#include "animation/Monitors_win.h"

typedef BOOL(WINAPI *EnumDisplayMonitorsProc)(HDC dc, LPCRECT clip, MONITORENUMPROC callback,
                                              LPARAM data);

// GetDpiForMonitor's kind for the DPI the user chose for that monitor.
static const int MDT_EFFECTIVE_DPI_KIND = 0;

MonitorArea ReadDisplay(HDC windowDC)
{
    return MonitorArea{{0, 0, GetDeviceCaps(windowDC, HORZRES), GetDeviceCaps(windowDC, VERTRES)},
                       GetDeviceCaps(windowDC, LOGPIXELSX)};
}

// Called for each monitor. The frame is centred on the monitor's whole
// rectangle in desktop coordinates, not its work area: the saver covers the
// taskbar too. A full list ends the walk, and the monitors after it stay black.
BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    MonitorList *list = (MonitorList *)data;
    if (list->count >= MONITOR_LIMIT) return FALSE;
    MONITORINFO info;
    info.cbSize = sizeof info;
    if (!list->getMonitorInfo(monitor, &info)) return TRUE;
    UINT dpiX = 0, dpiY = 0;
    int dpi = list->fallbackDpi;
    if (list->getDpiForMonitor != nullptr &&
        list->getDpiForMonitor(monitor, MDT_EFFECTIVE_DPI_KIND, &dpiX, &dpiY) == S_OK)
        dpi = (int)dpiX;
    const RECT &rect = info.rcMonitor;
    list->monitors[list->count++] = MonitorArea{
        {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}, dpi};
    return TRUE;
}

// SHCORE.DLL from the system folder, by its full path. Windows 7 and earlier
// have no such library: a bare name would then load, and run, any file of
// that name beside the program, such as one in a download folder.
static HMODULE LoadSystemShcore()
{
    static const char NAME[] = "\\SHCORE.DLL";
    char path[MAX_PATH + sizeof NAME];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    for (UINT i = 0; i < sizeof NAME; ++i) path[length + i] = NAME[i];
    return LoadLibraryA(path);
}

int ReadMonitors(HDC windowDC, MonitorArea *monitors)
{
    HMODULE user32 = GetModuleHandleA("USER32.DLL");
    EnumDisplayMonitorsProc enumDisplayMonitors =
        (EnumDisplayMonitorsProc)(void *)GetProcAddress(user32, "EnumDisplayMonitors");
    MonitorList list = {monitors, 0, GetDeviceCaps(windowDC, LOGPIXELSX),
                        (GetMonitorInfoProc)(void *)GetProcAddress(user32, "GetMonitorInfoA"),
                        nullptr};
    HMODULE shcore = LoadSystemShcore();
    if (shcore != nullptr)
        list.getDpiForMonitor =
            (GetDpiForMonitorProc)(void *)GetProcAddress(shcore, "GetDpiForMonitor");
    if (enumDisplayMonitors != nullptr && list.getMonitorInfo != nullptr)
        enumDisplayMonitors(nullptr, nullptr, AddMonitor, (LPARAM)&list);
    if (shcore != nullptr) FreeLibrary(shcore);
    if (list.count > 0) return list.count;
    monitors[0] = ReadDisplay(windowDC);
    return 1;
}
