// The stereogram frame player (placeholder: passes every message on).
#include "host/SaverHost.h"

LRESULT WINAPI SaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SaverDefaultProc(window, message, wParam, lParam);
}
