// Saver and preview windows and the outer stage of the message chain (placeholder).
#include "host/SaverHost.h"

int RunSaverWindow(HWND)
{
    return -1;
}

LRESULT CALLBACK SaverOuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SaverFrameProc(window, message, wParam, lParam);
}
