// Test support for the frame player: a window whose procedure hands every
// message to SaverFrameProc, a record of what it saw, a hook that answers
// message boxes, the stored speed, and screen captures compared with the
// frames in this executable's own resources.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include "animation/FramePlayer_win.h"
#include "host/SaverHost.h"

// What the test window saw. WM_DESTROY is examined right after the player has
// handled it, while the window and its own DC still exist.
struct PlayerWindowLog {
    LARGE_INTEGER tickTimes[4096];
    int ticks = 0;
    bool destroyed = false;
    HDC ownDC = nullptr;
    HDC frameDC[FRAME_COUNT] = {};
    HBITMAP frameBitmap[FRAME_COUNT] = {};
    HPALETTE framePalette[FRAME_COUNT] = {};
    DWORD typesAfterDestroy[3][FRAME_COUNT] = {};
    HGDIOBJ paletteAfterDestroy = nullptr;
    BOOL timerStillRunning = FALSE;
};

inline PlayerWindowLog PlayerLog;

// The frame set the test window's one frame is copied from, and its scale.
inline FrameSet &PlayedSet()
{
    return Frames.sets[Frames.placementSets[0]];
}

inline int PlayedScale()
{
    return Frames.scales.scale[Frames.placementSets[0]];
}

inline LRESULT CALLBACK PlayerTestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && PlayerLog.ticks < 4096)
        QueryPerformanceCounter(&PlayerLog.tickTimes[PlayerLog.ticks++]);
    if (message == WM_DESTROY) {
        std::memcpy(PlayerLog.frameDC, PlayedSet().frameDC, sizeof PlayerLog.frameDC);
        std::memcpy(PlayerLog.frameBitmap, PlayedSet().frameBitmap, sizeof PlayerLog.frameBitmap);
        std::memcpy(PlayerLog.framePalette, Frames.framePalette, sizeof Frames.framePalette);
    }
    LRESULT result = SaverFrameProc(window, message, wParam, lParam);
    if (message == WM_DESTROY) {
        PlayerLog.destroyed = true;
        for (int i = 0; i < FRAME_COUNT; ++i) {
            PlayerLog.typesAfterDestroy[0][i] = GetObjectType(PlayerLog.frameDC[i]);
            PlayerLog.typesAfterDestroy[1][i] = GetObjectType(PlayerLog.frameBitmap[i]);
            PlayerLog.typesAfterDestroy[2][i] = GetObjectType(PlayerLog.framePalette[i]);
        }
        HDC dc = GetDC(window);
        PlayerLog.ownDC = dc;
        PlayerLog.paletteAfterDestroy = GetCurrentObject(dc, OBJ_PAL);
        ReleaseDC(window, dc);
        PlayerLog.timerStillRunning = KillTimer(window, FRAME_TIMER_ID);
    }
    return result;
}

// Message boxes seen on this thread; each is answered with OK as it appears.
struct MessageBoxRecord {
    std::string text, caption;
    HWND owner;
    bool warningIcon;
};

inline std::vector<MessageBoxRecord> MessageBoxesSeen;
inline HHOOK MessageBoxHook;

inline BOOL CALLBACK FindBoxParts(HWND child, LPARAM lParam)
{
    MessageBoxRecord *record = (MessageBoxRecord *)lParam;
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0) return TRUE;
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) {
        HICON icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
        record->warningIcon = icon && icon == LoadIconA(nullptr, (LPCSTR)IDI_EXCLAMATION);
    } else {
        char text[256] = "";
        GetWindowTextA(child, text, sizeof text);
        if (text[0]) record->text = text;
    }
    return TRUE;
}

inline LRESULT CALLBACK AnswerMessageBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = (HWND)wParam;
        char className[32] = "";
        GetClassNameA(box, className, sizeof className);
        if (std::strcmp(className, "#32770") == 0) {
            MessageBoxRecord record = {"", "", GetWindow(box, GW_OWNER), false};
            char caption[256] = "";
            GetWindowTextA(box, caption, sizeof caption);
            record.caption = caption;
            EnumChildWindows(box, FindBoxParts, (LPARAM)&record);
            MessageBoxesSeen.push_back(record);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(MessageBoxHook, code, wParam, lParam);
}

inline void StartAnsweringMessageBoxes()
{
    MessageBoxesSeen.clear();
    MessageBoxHook = SetWindowsHookExA(WH_CBT, AnswerMessageBoxes, nullptr, GetCurrentThreadId());
}

inline void StopAnsweringMessageBoxes()
{
    if (MessageBoxHook) UnhookWindowsHookEx(MessageBoxHook);
    MessageBoxHook = nullptr;
}

// The stored redraw speed; null removes the entry.
inline void StoreRedrawSpeed(const char *text)
{
    WritePrivateProfileStringA("ZEMBLOID", "Redraw Speed", text, "control.ini");
}

inline const char PLAYER_TEST_CLASS[] = "PlayerTestWindow";

inline void RegisterPlayerTestClass()
{
    static bool registered = false;
    if (registered) return;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
    windowClass.lpfnWndProc = PlayerTestWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = PLAYER_TEST_CLASS;
    registered = RegisterClassA(&windowClass) != 0;
}

// A topmost popup of the given size at the screen's top-left corner, playing
// the frames. The close rules stay out of the way as they do for a preview.
inline HWND CreatePlayerWindow(int width, int height)
{
    SaverState.instance = GetModuleHandleA(nullptr);
    SaverState.preview = true;
    RegisterPlayerTestClass();
    PlayerLog = PlayerWindowLog();
    HWND window = CreateWindowExA(WS_EX_TOPMOST, PLAYER_TEST_CLASS, "", WS_POPUP | WS_VISIBLE,
                                  0, 0, width, height, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window) UpdateWindow(window);
    return window;
}

inline void PumpMessagesFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Mean time between the recorded ticks, in milliseconds; -1 with fewer than two.
inline double MeanTickInterval()
{
    if (PlayerLog.ticks < 2) return -1;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double span = (double)(PlayerLog.tickTimes[PlayerLog.ticks - 1].QuadPart -
                           PlayerLog.tickTimes[0].QuadPart);
    return span * 1000.0 / (double)frequency.QuadPart / (PlayerLog.ticks - 1);
}

// A frame resource of this executable as it is stored: 40-byte header, two
// colour entries, then 480 rows of 80 bytes, bottom row first.
inline const uint8_t *FrameResource(int index)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(FIRST_FRAME_ID + index), MAKEINTRESOURCEA(2));
    if (!found) return nullptr;
    return (const uint8_t *)LockResource(LoadResource(module, found));
}

// Colour of pixel (x, y), counted from the top, of a stored frame: 0x000000 or 0xFFFFFF.
inline uint32_t FramePixel(const uint8_t *dib, int x, int y)
{
    const uint8_t *bits = dib + 48;
    bool white = bits[(479 - y) * 80 + x / 8] & (0x80 >> (x % 8));
    return white ? 0xFFFFFF : 0x000000;
}

// A copy of what a window's client area shows, as 0xRRGGBB values, top row first.
struct Capture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x] & 0xFFFFFF; }
};

inline Capture CaptureWindow(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    Capture capture;
    capture.width = client.right;
    capture.height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC windowDC = GetDC(window);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    HBITMAP section = CreateDIBSection(windowDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memoryDC, section);
    BitBlt(memoryDC, 0, 0, capture.width, capture.height, windowDC, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t *p = (const uint32_t *)bits;
    capture.pixels.assign(p, p + (size_t)capture.width * capture.height);
    SelectObject(memoryDC, old);
    DeleteObject(section);
    DeleteDC(memoryDC);
    ReleaseDC(window, windowDC);
    return capture;
}

// Counts the pixels of `capture` that differ from what the frame at `origin`
// (clipped to the capture) and black everywhere else would show.
inline long CountWrongPixels(const Capture &capture, const uint8_t *dib, POINT origin)
{
    long wrong = 0;
    for (int y = 0; y < capture.height; ++y)
        for (int x = 0; x < capture.width; ++x) {
            int fx = x - origin.x, fy = y - origin.y;
            bool inFrame = fx >= 0 && fx < 640 && fy >= 0 && fy < 480;
            uint32_t expected = inFrame ? FramePixel(dib, fx, fy) : 0;
            if (capture.At(x, y) != expected) ++wrong;
        }
    return wrong;
}

// A test that makes a player window: message boxes are answered and recorded,
// and the window and the stored speed are cleaned up afterwards.
class PlayerWindowTest : public ::testing::Test {
protected:
    HWND window = nullptr;
    void SetUp() override { StartAnsweringMessageBoxes(); }
    void TearDown() override
    {
        if (window && IsWindow(window)) DestroyWindow(window);
        StopAnsweringMessageBoxes();
        StoreRedrawSpeed(nullptr);
    }
};
