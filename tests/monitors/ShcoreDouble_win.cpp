// A test double of the system's SHCORE.DLL. Loaded, it leaves a file named
// after itself with ".loaded" added, so that a test can tell whether a
// program took it; GetDpiForMonitor gives two monitors different DPIs, as a
// system with a scaled monitor does: 192 for the monitor whose left edge is
// at 0, 96 for the others.
#include <windows.h>

static void LeaveLoadedMarker(HINSTANCE instance)
{
    static const char SUFFIX[] = ".loaded";
    char path[MAX_PATH + sizeof SUFFIX];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcpyA(path + length, SUFFIX);
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) LeaveLoadedMarker(instance);
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI GetDpiForMonitor(HMONITOR monitor, int, UINT *dpiX,
                                                                 UINT *dpiY)
{
    MONITORINFO info;
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info)) return E_INVALIDARG;
    *dpiX = *dpiY = info.rcMonitor.left == 0 ? 192 : 96;
    return S_OK;
}
