// Stands in for the display settings' preview area: a borderless window at a
// given place and size that starts a program with its own handle appended to
// the command line, keeps it for a while, prints what child window the program
// made in it, then destroys the window and prints the program's full exit code.
// Usage: previewhost.exe X Y WIDTH HEIGHT MILLISECONDS
// The command line to start (without the handle) is taken from the
// environment variable PREVIEW_COMMAND, e.g. "Z:\path\zembloid.scr" /p
#include <windows.h>
#include <cstdio>
#include <cstdlib>

static LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

static void PumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Prints what the started program put into the host: its first child window.
static void ReportChild(HWND host)
{
    HWND child = GetWindow(host, GW_CHILD);
    char className[64] = "", title[64] = "";
    RECT client = {};
    if (child) {
        GetClassNameA(child, className, sizeof className);
        GetWindowTextA(child, title, sizeof title);
        GetClientRect(child, &client);
    }
    printf("child class=%s title=%s size=%ldx%ld visible=%d\n", className, title,
           client.right, client.bottom, child ? (int)IsWindowVisible(child) : 0);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        printf("usage: previewhost X Y WIDTH HEIGHT MILLISECONDS\n");
        return 2;
    }
    int x = atoi(argv[1]), y = atoi(argv[2]), width = atoi(argv[3]), height = atoi(argv[4]);
    DWORD keep = strtoul(argv[5], nullptr, 10);
    static char command[32768];
    DWORD length = GetEnvironmentVariableA("PREVIEW_COMMAND", command, sizeof command - 32);
    if (length == 0 || length >= sizeof command - 32) {
        printf("PREVIEW_COMMAND is not set\n");
        return 2;
    }

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    // A grey ground shows where the hosted window fails to cover the area.
    windowClass.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
    windowClass.lpszClassName = "PreviewHost";
    RegisterClassA(&windowClass);
    HWND host = CreateWindowExA(0, "PreviewHost", "Preview Host",
                                WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                                x, y, width, height, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (!host) {
        printf("no host window\n");
        return 2;
    }
    UpdateWindow(host);

    wsprintfA(command + length, " %lu", (unsigned long)(ULONG_PTR)host);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        printf("launch failed %lu\n", GetLastError());
        return 2;
    }
    printf("started %s\n", command);
    fflush(stdout);
    PumpFor(keep);
    ReportChild(host);
    DestroyWindow(host);
    DWORD waited = WaitForSingleObject(process.hProcess, 10000);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xDEAD);
        printf("timeout\n");
        return 3;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit 0x%08lX\n", code);
    fflush(stdout);
    return 0;
}
