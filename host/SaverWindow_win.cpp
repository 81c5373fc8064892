// The saver and preview windows, their message loop, and the outer stage of the
// message chain: framework filtering that no saver procedure can override.
#include "host/SaverHost.h"

static const char SAVER_CLASS[] = "WindowsScreenSaverClass";
static const char SAVER_TITLE[] = "Screen Saver";
static const char PREVIEW_TITLE[] = "Preview";
// Icon number the class asks for; the resources hold none under it.
static const WORD SAVER_CLASS_ICON = 100;

__constinit WNDPROC SaverMiddleStage = SaverFrameProc;

BOOL RegisterSaverClass()
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
    windowClass.lpfnWndProc = SaverOuterProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = SaverState.instance;
    windowClass.hIcon = LoadIconA(SaverState.instance, MAKEINTRESOURCEA(SAVER_CLASS_ICON));
    windowClass.hCursor = nullptr;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = SAVER_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

// A full-screen saver already running brings itself forward instead of
// starting a second one.
static bool RaiseRunningSaver()
{
    HWND running = FindWindowA(SAVER_CLASS, SAVER_TITLE);
    if (running == nullptr || !IsWindow(running)) return false;
    SetForegroundWindow(running);
    return true;
}

HWND CreateSaverWindow(HWND parent, RECT area)
{
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    if (parent != nullptr)
        return CreateWindowExA(0, SAVER_CLASS, PREVIEW_TITLE,
                               WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, area.left, area.top,
                               width, height, parent, nullptr, SaverState.instance, nullptr);
    return CreateWindowExA(WS_EX_TOPMOST, SAVER_CLASS, SAVER_TITLE,
                           WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, area.left,
                           area.top, width, height, nullptr, nullptr, SaverState.instance, nullptr);
}

// The virtual screen, which spans every monitor and starts left of or above
// the primary monitor when one sits there. Windows 95 and NT 4 know only the
// primary monitor and answer 0 for its size.
RECT SaverScreenArea()
{
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0)
        return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return RECT{left, top, left + width, top + height};
}

// Returns the code given to PostQuitMessage, or -1 if the loop failed.
static int RunMessageLoop()
{
    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return got == 0 ? (int)message.wParam : -1;
}

// Runs saver mode (no parent) or preview mode (inside parent) until the window
// is gone. Returns the quit code (0), 0 at once when a saver is already
// running, or EXIT_NO_WINDOW when the class or window could not be made.
int RunSaverWindow(HWND parent)
{
    RECT area;
    if (parent != nullptr) {
        GetClientRect(parent, &area);
        SaverState.preview = true;
    } else {
        area = SaverScreenArea();
        if (RaiseRunningSaver()) return 0;
        LoadPasswordVerifier();
    }
    if (RegisterSaverClass())
        SaverState.mainWindow = CreateSaverWindow(parent, area);
    int result = EXIT_NO_WINDOW;
    if (SaverState.mainWindow != nullptr) {
        if (!SaverState.preview) SetForegroundWindow(SaverState.mainWindow);
        result = RunMessageLoop();
    }
    if (!SaverState.win9x && SaverState.mainWindow != nullptr)
        DestroyWindow(SaverState.mainWindow);
    UnloadPasswordVerifier();
    return result;
}

static void HideCursorUnlessPreview()
{
    if (!SaverState.preview) SetCursor(nullptr);
}

// Detaches the input method from the window, using IMM32 only if something
// else has already loaded it, and records where the mouse starts.
static void OnCreate(HWND window)
{
    SaverState.imeModule = GetModuleHandleA("IMM32.DLL");
    if (SaverState.imeModule != nullptr)
        SaverState.imeAssociate =
            (ImmAssociateContextProc)(void *)GetProcAddress(SaverState.imeModule, "ImmAssociateContext");
    if (SaverState.imeAssociate != nullptr)
        SaverState.savedInputContext = SaverState.imeAssociate(window, nullptr);
    GetCursorPos(&SaverState.mouseBaseline);
    HideCursorUnlessPreview();
}

static void CoverScreenArea(HWND window)
{
    RECT area = SaverScreenArea();
    SetWindowPos(window, HWND_TOPMOST, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOACTIVATE);
}

// A monitor added or removed, or a new resolution: the full-screen window
// covers the new desktop, and mouse travel counts from where the cursor is
// now, since the system may have moved it off a monitor that went away.
static void OnDisplayChange(HWND window)
{
    if (SaverState.preview) return;
    CoverScreenArea(window);
    GetCursorPos(&SaverState.mouseBaseline);
}

// A monitor's DPI changed. The rectangle the system suggests fits a window on
// that one monitor; the full-screen window keeps covering the whole desktop.
static void OnDpiChanged(HWND window)
{
    if (!SaverState.preview) CoverScreenArea(window);
}

static void OnDestroy(HWND window)
{
    if (SaverState.imeModule != nullptr && SaverState.imeAssociate != nullptr &&
        SaverState.savedInputContext != nullptr)
        SaverState.imeAssociate(window, SaverState.savedInputContext);
    PostQuitMessage(0);
}

// Help and context-menu requests in the preview belong to the window that
// holds it. WM_CONTEXTMENU carries only a window and a point and is posted.
// WM_HELP carries a pointer to the sender's HELPINFO, valid only during the
// call, so it is sent: the system refuses to post it, and a posted copy of
// the pointer would dangle by the time the parent read it.
static LRESULT ForwardToParent(HWND window, UINT message, LPARAM lParam)
{
    HWND parent = GetParent(window);
    if (parent != nullptr && IsWindow(parent)) {
        if (message == WM_HELP)
            SendMessageA(parent, message, (WPARAM)parent, lParam);
        else
            PostMessageA(parent, message, (WPARAM)parent, lParam);
    }
    return 1;
}

static bool IsSwallowedSysCommand(WPARAM command)
{
    return command == SC_NEXTWINDOW || command == SC_PREVWINDOW || command == SC_SCREENSAVE;
}

LRESULT CALLBACK SaverOuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        break;
    case WM_DESTROY:
        OnDestroy(window);
        break;
    case WM_SETTEXT:
        return 0;
    case WM_DISPLAYCHANGE:
        OnDisplayChange(window);
        break;
    case WM_DPICHANGED:
        OnDpiChanged(window);
        break;
    case WM_PAINT:
        if (SaverState.closing) return DefWindowProcA(window, message, wParam, lParam);
        HideCursorUnlessPreview();
        break;
    case WM_HELP:
    case WM_CONTEXTMENU:
        if (SaverState.preview) return ForwardToParent(window, message, lParam);
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (SaverState.closing) return DefWindowProcA(window, message, wParam, lParam);
        break;
    case WM_SYSCOMMAND:
        if (!SaverState.preview && IsSwallowedSysCommand(wParam)) return 0;
        break;
    case WM_TIMER:
        if (SaverState.closing) return 0;
        Sleep(0);
        break;
    }
    return SaverMiddleStage(window, message, wParam, lParam);
}
