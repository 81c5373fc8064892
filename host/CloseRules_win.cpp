// Close rules, the last stage of the message chain (placeholder).
#include "host/SaverHost.h"

LRESULT WINAPI SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL CheckCloseAllowed(HWND)
{
    SaverState.closing = true;
    return TRUE;
}
