// Listing the monitors. The functions that do it are looked up at run time, so
// that the program still loads on Windows 95 and NT 4, which lack them.
#include "animation/Monitors_win.h"

typedef BOOL(WINAPI *EnumDisplayMonitorsProc)(HDC dc, LPCRECT clip, MONITORENUMPROC callback,
                                              LPARAM data);
typedef HRESULT(WINAPI *GetDpiForMonitorProc)(HMONITOR monitor, int kind, UINT *dpiX, UINT *dpiY);

// GetDpiForMonitor's kind for the DPI the user chose for that monitor.
static const int MDT_EFFECTIVE_DPI_KIND = 0;

struct MonitorList {
    MonitorArea *monitors;
    int count;
    int fallbackDpi;
    GetDpiForMonitorProc getDpiForMonitor;
};

MonitorArea ReadDisplay(HDC windowDC)
{
    return MonitorArea{{0, 0, GetDeviceCaps(windowDC, HORZRES), GetDeviceCaps(windowDC, VERTRES)},
                       GetDeviceCaps(windowDC, LOGPIXELSX)};
}

// Called for each monitor with its whole rectangle in desktop coordinates
// (not its work area), since EnumDisplayMonitors is given no DC.
static BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT rect, LPARAM data)
{
    MonitorList *list = (MonitorList *)data;
    if (list->count >= MONITOR_LIMIT) return FALSE;
    UINT dpiX = 0, dpiY = 0;
    int dpi = list->fallbackDpi;
    if (list->getDpiForMonitor != nullptr &&
        list->getDpiForMonitor(monitor, MDT_EFFECTIVE_DPI_KIND, &dpiX, &dpiY) == S_OK)
        dpi = (int)dpiX;
    list->monitors[list->count++] = MonitorArea{
        {rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top}, dpi};
    return TRUE;
}

int ReadMonitors(HDC windowDC, MonitorArea *monitors)
{
    EnumDisplayMonitorsProc enumDisplayMonitors = (EnumDisplayMonitorsProc)(void *)GetProcAddress(
        GetModuleHandleA("USER32.DLL"), "EnumDisplayMonitors");
    MonitorList list = {monitors, 0, GetDeviceCaps(windowDC, LOGPIXELSX), nullptr};
    HMODULE shcore = LoadLibraryA("SHCORE.DLL");
    if (shcore != nullptr)
        list.getDpiForMonitor =
            (GetDpiForMonitorProc)(void *)GetProcAddress(shcore, "GetDpiForMonitor");
    if (enumDisplayMonitors != nullptr)
        enumDisplayMonitors(nullptr, nullptr, AddMonitor, (LPARAM)&list);
    if (shcore != nullptr) FreeLibrary(shcore);
    if (list.count > 0) return list.count;
    monitors[0] = ReadDisplay(windowDC);
    return 1;
}
