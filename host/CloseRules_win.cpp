// Close rules, the last stage of the message chain: what ends the saver, and
// on Windows 9x the password check that may refuse to end it.
#include "host/SaverHost.h"

static void HideCursor()
{
    SetCursor(nullptr);
}

static void PostClose(HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

// Measures travel from the baseline with the cursor's current position, not
// the message's coordinates. Small moves leave the baseline alone so they add up.
static void OnMouseMove(HWND window)
{
    POINT cursor;
    if (!GetCursorPos(&cursor)) return;
    if (MouseTravelWakes(SaverState.mouseBaseline.x, SaverState.mouseBaseline.y, cursor.x, cursor.y)) {
        PostClose(window);
        SaverState.mouseBaseline = cursor;
    }
}

static LRESULT OnClose(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (SaverState.win9x && !CheckCloseAllowed(window)) {
        GetCursorPos(&SaverState.mouseBaseline);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static LRESULT OnVerifyPassword(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!SaverState.win9x) return DefWindowProcA(window, message, wParam, lParam);
    if (SaverState.verifyPassword == nullptr) return 1;
    return SaverState.verifyPassword(window) ? 1 : 0;
}

LRESULT WINAPI SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (SaverState.preview || SaverState.closing) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_CLOSE:
        return OnClose(window, message, wParam, lParam);
    case WM_VERIFY_PASSWORD:
        return OnVerifyPassword(window, message, wParam, lParam);
    }
    if (SaverState.checking) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_SHOWWINDOW:
        if (wParam) HideCursor();
        break;
    case WM_ACTIVATEAPP:
        if (!wParam) PostClose(window);
        break;
    case WM_SETCURSOR:
        HideCursor();
        return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        PostClose(window);
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(window);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Drops up to two timer ticks already queued for the window, so the animation
// does not burst when the password dialog appears.
static void DropPendingTicks(HWND window)
{
    MSG tick;
    PeekMessageA(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    PeekMessageA(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
}

// Decides whether the window may close now. Without a verifier it always may.
// With one, the verifier runs through the window's own chain (the
// verify-password request), at most once at a time and not within
// VERIFY_RETRY_MS of the end of the previous check.
BOOL CheckCloseAllowed(HWND window)
{
    if (SaverState.checking || SaverState.closing) return FALSE;
    if (SaverState.verifyPassword == nullptr) {
        SaverState.closing = true;
        return TRUE;
    }
    if (VerifyRetryTooSoon(SaverState.lastVerifyTick, GetTickCount())) return FALSE;
    SaverState.checking = true;
    DropPendingTicks(window);
    SaverState.closing = SendMessageA(window, WM_VERIFY_PASSWORD, 0, 0) != 0;
    SaverState.checking = false;
    if (!SaverState.closing) HideCursor();
    SaverState.lastVerifyTick = GetTickCount();
    return SaverState.closing ? TRUE : FALSE;
}
