// The stereogram frame player: the saver's own window procedure, the middle
// stage of the message chain. It turns the ten frame resources into off-screen
// images when the window is created (enlarged by a whole number on a high-DPI
// display), copies one of them to the centre of the display on every timer
// tick, paints the background black and releases everything when the window
// goes.
#include "animation/FramePlayer_win.h"
#include "animation/Dib.h"
#include "animation/Palette.h"
#include "animation/Palette_win.h"
#include "host/SaverHost.h"
#include "settings/Settings_win.h"

__constinit FrameSet Frames;

static const char FRAME_LOAD_FAILED_TEXT[] = "ファイルが読み込めませんでした。";

// An info header and colour table for a frame's image `scale` times larger
// than the frame: the frame's own bit count and colours, at most 256 of them.
struct ScaledFrameFormat {
    BITMAPINFOHEADER header;
    RGBQUAD colours[PALETTE_MAX_ENTRIES];
};

static const BITMAPINFO *ScaleFrameFormat(ScaledFrameFormat *format, const void *dib, int scale)
{
    uint32_t count = DibColourTableCount(dib);
    if (count > PALETTE_MAX_ENTRIES) count = PALETTE_MAX_ENTRIES;
    format->header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER),
                                      (LONG)DibWidth(dib) * scale, (LONG)DibHeight(dib) * scale,
                                      1, DibBitCount(dib), BI_RGB, 0, 0, 0, count, 0};
    const uint8_t *table = DibColourTable(dib);
    uint32_t entrySize = DibColourEntrySize(dib);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *entry = table + i * entrySize;
        format->colours[i] = RGBQUAD{entry[0], entry[1], entry[2], 0};
    }
    return (const BITMAPINFO *)format;
}

// The scale for the window's frames: from the display's logical DPI, lowered
// until the enlarged frame fits the window's client area.
static int ScaleForWindow(HWND window, HDC windowDC)
{
    RECT client;
    GetClientRect(window, &client);
    return FrameScale(GetDeviceCaps(windowDC, LOGPIXELSX), (int)Frames.frameWidth,
                      (int)Frames.frameHeight, client.right, client.bottom);
}

// Makes frame `index` from its packed DIB: palette, memory DC compatible with
// the window's own DC, a DIB section from the resource's header and colour
// table (or, enlarged, a header of the larger size), and the resource's pixels
// copied into it at 1:1 or enlarged, each pixel to a square.
static void BuildFrame(HWND window, int index, const void *dib)
{
    Frames.frameWidth = DibWidth(dib);
    Frames.frameHeight = DibHeight(dib);
    const uint8_t *bits = DibBits(dib);
    const BITMAPINFO *info = (const BITMAPINFO *)dib;
    HPALETTE palette = CreateDibPalette(window, dib, 0);
    Frames.framePalette[index] = palette;

    HDC windowDC = GetDC(window);
    Frames.displayWidth = GetDeviceCaps(windowDC, HORZRES);
    Frames.displayHeight = GetDeviceCaps(windowDC, VERTRES);
    int scale = ScaleForWindow(window, windowDC);
    Frames.frameScale = scale;
    ScaledFrameFormat scaledFormat;
    const BITMAPINFO *sectionInfo = scale == 1 ? info : ScaleFrameFormat(&scaledFormat, dib, scale);
    if (palette) {
        SelectPalette(windowDC, palette, FALSE);
        RealizePalette(windowDC);
    }
    SetStretchBltMode(windowDC, COLORONCOLOR);

    HDC frameDC = CreateCompatibleDC(windowDC);
    void *sectionBits = nullptr;
    HBITMAP bitmap = CreateDIBSection(windowDC, sectionInfo, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
    Frames.frameDC[index] = frameDC;
    Frames.frameBitmap[index] = bitmap;
    if (frameDC && bitmap) SelectObject(frameDC, bitmap);
    if (frameDC && palette) {
        SelectPalette(frameDC, palette, FALSE);
        RealizePalette(frameDC);
    }
    if (frameDC) {
        SetStretchBltMode(frameDC, COLORONCOLOR);
        int width = (int)Frames.frameWidth;
        int height = (int)Frames.frameHeight;
        StretchDIBits(frameDC, 0, 0, width * scale, height * scale, 0, 0, width, height, bits,
                      info, DIB_RGB_COLORS, SRCCOPY);
    }
    ReleaseDC(window, windowDC);
}

// The packed DIB of frame resource `index`, or null when it cannot be loaded.
static const void *LockFrameResource(int index)
{
    HRSRC found = FindResourceA(SaverState.instance, MAKEINTRESOURCEA(FIRST_FRAME_ID + index),
                                MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(SaverState.instance, found);
    if (!loaded) return nullptr;
    return LockResource(loaded);
}

static void LoadFrames(HWND window)
{
    LoadSettingNames();
    ReadRedrawSpeed();
    for (int i = 0; i < FRAME_COUNT; ++i) {
        const void *dib = LockFrameResource(i);
        if (!dib) {
            MessageBoxA(window, FRAME_LOAD_FAILED_TEXT, "", MB_ICONWARNING);
            break;
        }
        BuildFrame(window, i, dib);
    }
    // The direction is reset too: a window made again in the same process
    // must not start by stepping below frame 0.
    Frames.frameIndex = 0;
    Frames.direction = +1;
    Frames.timer = SetTimer(window, FRAME_TIMER_ID, FramePeriodMs(RedrawSpeed), nullptr);
}

static void DrawNextFrame(HWND window)
{
    HDC windowDC = GetDC(window);
    HDC frameDC = Frames.frameDC[Frames.frameIndex];
    if (frameDC) {
        int width = (int)Frames.frameWidth * Frames.frameScale;
        int height = (int)Frames.frameHeight * Frames.frameScale;
        BitBlt(windowDC, FrameOrigin(Frames.displayWidth, width),
               FrameOrigin(Frames.displayHeight, height), width, height, frameDC, 0, 0, SRCCOPY);
    }
    StepFrame(&Frames.frameIndex, &Frames.direction);
    ReleaseDC(window, windowDC);
}

static void FillBackground(HWND window)
{
    HDC windowDC = GetDC(window);
    RECT client;
    GetClientRect(window, &client);
    FillRect(windowDC, &client, (HBRUSH)GetStockObject(BLACK_BRUSH));
    ReleaseDC(window, windowDC);
}

// The window's own DC keeps the last frame's palette selected; the stock
// palette goes back in first, since a palette still selected into a DC is
// not freed.
static void ReleaseFrames(HWND window)
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        if (Frames.frameDC[i]) DeleteDC(Frames.frameDC[i]);
        if (Frames.frameBitmap[i]) DeleteObject(Frames.frameBitmap[i]);
        Frames.frameDC[i] = nullptr;
        Frames.frameBitmap[i] = nullptr;
    }
    HDC windowDC = GetDC(window);
    SelectPalette(windowDC, (HPALETTE)GetStockObject(DEFAULT_PALETTE), FALSE);
    ReleaseDC(window, windowDC);
    for (int i = 0; i < FRAME_COUNT; ++i) {
        if (Frames.framePalette[i]) DeleteObject(Frames.framePalette[i]);
        Frames.framePalette[i] = nullptr;
    }
    if (Frames.timer) KillTimer(window, Frames.timer);
    Frames.timer = 0;
}

LRESULT WINAPI SaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        LoadFrames(window);
        break;
    case WM_TIMER:
        DrawNextFrame(window);
        break;
    case WM_ERASEBKGND:
        FillBackground(window);
        break;
    case WM_DESTROY:
        ReleaseFrames(window);
        break;
    }
    return SaverDefaultProc(window, message, wParam, lParam);
}
