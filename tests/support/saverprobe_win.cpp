// Looks at the saver from another process, as the system's display settings
// would. Usage:
//   saverprobe.exe find                 describe the running full-screen saver
//   saverprobe.exe close                ask the running full-screen saver to close
//   saverprobe.exe preview W H SCR      make a window with a W x H client area, run
//                                       SCR /p <its handle>, describe the preview
//                                       child, destroy the window, print SCR's exit code
//   saverprobe.exe display W H          set the primary monitor to W x H, as the
//                                       display settings do, and print the result
// Every wait is bounded; output lines are "key value..." for the tests to read.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char SAVER_CLASS[] = "WindowsScreenSaverClass";
static const DWORD WAIT_MS = 20000;

static int Find()
{
    HWND saver = FindWindowA(SAVER_CLASS, "Screen Saver");
    if (saver == nullptr) {
        printf("window none\n");
        return 0;
    }
    RECT rect;
    GetWindowRect(saver, &rect);
    printf("window found style=0x%08lX exstyle=0x%08lX rect=%ld,%ld,%ld,%ld visible=%d\n",
           (unsigned long)GetWindowLongA(saver, GWL_STYLE), (unsigned long)GetWindowLongA(saver, GWL_EXSTYLE),
           rect.left, rect.top, rect.right, rect.bottom, IsWindowVisible(saver) ? 1 : 0);
    return 0;
}

static int Close()
{
    HWND saver = FindWindowA(SAVER_CLASS, "Screen Saver");
    printf("close %s\n", saver != nullptr && PostMessageA(saver, WM_CLOSE, 0, 0) ? "posted" : "none");
    return 0;
}

static void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Pumps this thread's messages (the preview's creation sends messages to its
// parent) until the process ends or `until` says so, at most WAIT_MS.
template <typename Predicate>
static bool PumpUntil(HANDLE process, Predicate until)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < WAIT_MS) {
        Pump();
        if (until()) return true;
        MsgWaitForMultipleObjects(1, &process, FALSE, 50, QS_ALLINPUT);
    }
    Pump();
    return until();
}

static LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND MakeHolder(int width, int height)
{
    WNDCLASSA holderClass = {};
    holderClass.lpfnWndProc = HolderProc;
    holderClass.hInstance = GetModuleHandleA(nullptr);
    holderClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    holderClass.lpszClassName = "SaverProbeHolder";
    RegisterClassA(&holderClass);
    RECT frame = {0, 0, width, height};
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE;
    AdjustWindowRect(&frame, style, FALSE);
    return CreateWindowExA(0, "SaverProbeHolder", "Holder", style, 100, 100, frame.right - frame.left,
                           frame.bottom - frame.top, nullptr, nullptr, holderClass.hInstance, nullptr);
}

static int Preview(int width, int height, const char *scr)
{
    HWND holder = MakeHolder(width, height);
    if (holder == nullptr) {
        printf("holder failed\n");
        return 1;
    }
    RECT client;
    GetClientRect(holder, &client);
    printf("holder %ldx%ld\n", client.right, client.bottom);
    static char commandLine[1024];
    snprintf(commandLine, sizeof commandLine, "\"%s\" /p %lu", scr, (unsigned long)(UINT_PTR)holder);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        printf("launch failed %lu\n", GetLastError());
        return 1;
    }
    HWND child = nullptr;
    PumpUntil(process.hProcess, [&] {
        child = FindWindowExA(holder, nullptr, SAVER_CLASS, "Preview");
        return child != nullptr || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
    });
    if (child == nullptr) {
        printf("child none\n");
    } else {
        // A moment later the child is fully made and shown, and the preview
        // is still running: it waits for its parent.
        PumpUntil(process.hProcess, [start = GetTickCount()] { return GetTickCount() - start >= 500; });
        RECT rect;
        GetClientRect(child, &rect);
        printf("child %ldx%ld style=0x%08lX\n", rect.right, rect.bottom,
               (unsigned long)GetWindowLongA(child, GWL_STYLE));
        printf("running %d\n", WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT ? 1 : 0);
    }
    DestroyWindow(holder);
    bool ended = PumpUntil(process.hProcess, [&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; });
    if (!ended) {
        TerminateProcess(process.hProcess, 0xDEAD);
        printf("timeout\n");
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit 0x%08lX\n", (unsigned long)code);
    return 0;
}

static int Display(int width, int height)
{
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    mode.dmPelsWidth = (DWORD)width;
    mode.dmPelsHeight = (DWORD)height;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    printf("display %ld\n", ChangeDisplaySettingsA(&mode, 0));
    return 0;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc >= 2 && strcmp(argv[1], "find") == 0) return Find();
    if (argc >= 2 && strcmp(argv[1], "close") == 0) return Close();
    if (argc >= 4 && strcmp(argv[1], "display") == 0) return Display(atoi(argv[2]), atoi(argv[3]));
    if (argc >= 5 && strcmp(argv[1], "preview") == 0) return Preview(atoi(argv[2]), atoi(argv[3]), argv[4]);
    printf("usage: saverprobe find | close | preview W H SCR | display W H\n");
    return 2;
}
