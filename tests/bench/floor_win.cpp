// The floor for the saver's benchmark: the least a Win32 program can do to show
// the same animation. A black topmost full-screen window and, per timer tick,
// exactly one BitBlt of a 640 x 480, 1-bit-per-pixel DIB section to the centre.
// Usage: floor.exe PERIOD_MS. Any key or click ends it.
#include <windows.h>
#include <cstdlib>

static HDC imageDC;
static int originX, originY;

static void MakeImage(HWND window)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } info = {};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = 640;
    info.header.biHeight = 480;
    info.header.biPlanes = 1;
    info.header.biBitCount = 1;
    info.header.biClrUsed = 2;
    info.colours[1].rgbRed = info.colours[1].rgbGreen = info.colours[1].rgbBlue = 255;
    void *bits = nullptr;
    HDC windowDC = GetDC(window);
    HBITMAP bitmap = CreateDIBSection(windowDC, (BITMAPINFO *)&info, DIB_RGB_COLORS, &bits,
                                      nullptr, 0);
    unsigned char *row = (unsigned char *)bits;
    for (int i = 0; i < 640 / 8 * 480; ++i) row[i] = (unsigned char)(i * 2654435761u >> 24);
    imageDC = CreateCompatibleDC(windowDC);
    SelectObject(imageDC, bitmap);
    originX = (GetDeviceCaps(windowDC, HORZRES) - 640) / 2;
    originY = (GetDeviceCaps(windowDC, VERTRES) - 480) / 2;
    ReleaseDC(window, windowDC);
}

static LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER: {
        HDC dc = GetDC(window);
        BitBlt(dc, originX, originY, 640, 480, imageDC, 0, 0, SRCCOPY);
        ReleaseDC(window, dc);
        return 0;
    }
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    UINT period = (UINT)strtoul(commandLine, nullptr, 10);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = FloorProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = "BenchFloor";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "BenchFloor", "Floor", WS_POPUP | WS_VISIBLE, 0,
                                  0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                  nullptr, nullptr, instance, nullptr);
    MakeImage(window);
    SetTimer(window, 1, period ? period : 150, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
