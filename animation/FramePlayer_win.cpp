// The stereogram frame player: the saver's own window procedure, the middle
// stage of the message chain. When the window is created it turns the ten
// frame resources into off-screen images, one set per scale the monitors need
// (enlarged by a whole number on a high-DPI monitor); on every timer tick it
// copies the current frame to the centre of each monitor; it paints the
// background black, lays the frames out again when the display or a monitor's
// DPI changes, and releases everything when the window goes.
#include "animation/FramePlayer_win.h"
#include "animation/Dib.h"
#include "animation/Monitors_win.h"
#include "animation/Palette.h"
#include "animation/Palette_win.h"
#include "host/SaverHost.h"
#include "settings/Settings_win.h"

__constinit FramePlayerState Frames;

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

// A DIB section for frame `index` `scale` times larger, from the resource's
// own header and colour table at 1x. Returns null when it cannot be made.
static HBITMAP CreateFrameSection(HDC windowDC, int index, int scale)
{
    const void *dib = Frames.frameDib[index];
    ScaledFrameFormat scaledFormat;
    const BITMAPINFO *info =
        scale == 1 ? (const BITMAPINFO *)dib : ScaleFrameFormat(&scaledFormat, dib, scale);
    void *sectionBits = nullptr;
    return CreateDIBSection(windowDC, info, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
}

// Makes frame `index` of `set`: a memory DC compatible with the window's
// own DC, holding a DIB section with the resource's pixels copied in, each
// pixel to a square of the set's scale. Where a section that large cannot be
// made, the frame is built at 1x and drawn at 1x rather than not at all.
static void BuildFrameImage(HDC windowDC, FrameSet *set, int scale, int index)
{
    const void *dib = Frames.frameDib[index];
    HBITMAP bitmap = CreateFrameSection(windowDC, index, scale);
    if (bitmap == nullptr && scale != 1) {
        scale = 1;
        bitmap = CreateFrameSection(windowDC, index, scale);
    }
    HDC frameDC = CreateCompatibleDC(windowDC);
    set->frameDC[index] = frameDC;
    set->frameBitmap[index] = bitmap;
    set->frameScale[index] = scale;
    if (frameDC == nullptr) return;
    if (bitmap != nullptr) SelectObject(frameDC, bitmap);
    HPALETTE palette = Frames.framePalette[index];
    if (palette != nullptr) {
        SelectPalette(frameDC, palette, FALSE);
        RealizePalette(frameDC);
    }
    SetStretchBltMode(frameDC, COLORONCOLOR);
    int width = (int)Frames.frameWidth;
    int height = (int)Frames.frameHeight;
    StretchDIBits(frameDC, 0, 0, width * scale, height * scale, 0, 0, width, height, DibBits(dib),
                  (const BITMAPINFO *)dib, DIB_RGB_COLORS, SRCCOPY);
}

void BuildFrameSet(HWND window, FrameSet *set, int scale)
{
    HDC windowDC = GetDC(window);
    for (int i = 0; i < FRAME_COUNT; ++i)
        if (Frames.frameDib[i] != nullptr) BuildFrameImage(windowDC, set, scale, i);
    ReleaseDC(window, windowDC);
}

void ReleaseFrameSet(FrameSet *set)
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        if (set->frameDC[i]) DeleteDC(set->frameDC[i]);
        if (set->frameBitmap[i]) DeleteObject(set->frameBitmap[i]);
    }
    *set = FrameSet{};
}

// SyncScaleSets' two steps on the player's window. FrameScale never enlarges
// a frame past its monitor, so a set of whole frames costs at most about a
// monitor's pixels per frame, and it is kept whole rather than cut to the
// visible part.
static bool BuildSlot(int slot, int scale, const FramePart &)
{
    BuildFrameSet(Frames.window, &Frames.sets[slot], scale);
    return true;
}

static void ReleaseSlot(int slot)
{
    ReleaseFrameSet(&Frames.sets[slot]);
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

// Finds the ten frame resources and makes their palettes. At the first frame
// that cannot be loaded the user is told once and the rest stay absent. The
// last palette made (a refused one is null, and reported) stays selected and
// realized in the window's own DC for the whole run; all frames share the
// same two colours.
static void LoadFrameResources(HWND window)
{
    HPALETTE lastPalette = nullptr;
    for (int i = 0; i < FRAME_COUNT; ++i) {
        const void *dib = LockFrameResource(i);
        if (!dib) {
            MessageBoxA(window, FRAME_LOAD_FAILED_TEXT, "", MB_ICONWARNING);
            break;
        }
        Frames.frameDib[i] = dib;
        Frames.frameWidth = DibWidth(dib);
        Frames.frameHeight = DibHeight(dib);
        Frames.framePalette[i] = CreateDibPalette(window, dib, 0);
        if (Frames.framePalette[i]) lastPalette = Frames.framePalette[i];
    }
    HDC windowDC = GetDC(window);
    if (lastPalette) {
        SelectPalette(windowDC, lastPalette, FALSE);
        RealizePalette(windowDC);
    }
    SetStretchBltMode(windowDC, COLORONCOLOR);
    ReleaseDC(window, windowDC);
}

// The monitors the frames go on and the desktop rectangle the window's client
// area covers. In saver mode, where the window covers the desktop, every
// monitor; in a preview, the whole display, and the preview window's own
// client area, so that the frame is placed as on the display and made only
// as small as the window needs.
static int ReadCoveredMonitors(HWND window, MonitorArea *monitors, ScreenRect *covered)
{
    HDC windowDC = GetDC(window);
    int count = 1;
    RECT bounds;
    if (SaverState.preview) {
        monitors[0] = ReadDisplay(windowDC);
        GetClientRect(window, &bounds);
    } else {
        count = ReadMonitors(windowDC, monitors);
        GetWindowRect(window, &bounds);
    }
    ReleaseDC(window, windowDC);
    *covered = ScreenRect{bounds.left, bounds.top, bounds.right - bounds.left,
                          bounds.bottom - bounds.top};
    return count;
}

// Lays the frames out again on the monitors as they are now, with an image
// set for each scale the layout needs.
static void RelayOutFrames(HWND window)
{
    MonitorArea monitors[MONITOR_LIMIT];
    ScreenRect covered;
    int count = ReadCoveredMonitors(window, monitors, &covered);
    Frames.placementCount = LayOutFrames(monitors, count, covered, (int)Frames.frameWidth,
                                         (int)Frames.frameHeight, Frames.placements);
    SyncScaleSets(&Frames.scales, Frames.placements, Frames.placementCount, (int)Frames.frameWidth,
                  (int)Frames.frameHeight, Frames.placementSets, BuildSlot, ReleaseSlot);
}

static void StartPlaying(HWND window)
{
    Frames.window = window;
    LoadSettingNames();
    ReadRedrawSpeed();
    LoadFrameResources(window);
    RelayOutFrames(window);
    // The direction is reset too: a window made again in the same process
    // must not start by stepping below frame 0.
    Frames.frameIndex = 0;
    Frames.direction = +1;
    Frames.timer = SetTimer(window, FRAME_TIMER_ID, FramePeriodMs(RedrawSpeed), nullptr);
}

// Copies frame `index` of `set` centred on the placement's monitor, at the
// scale that image really holds.
static void DrawPlacedFrame(HDC windowDC, const FramePlacement &placement, const FrameSet &set,
                            int index)
{
    HDC frameDC = set.frameDC[index];
    if (frameDC == nullptr) return;
    FrameCopy copy = CentreFrameCopy(placement, (int)Frames.frameWidth, (int)Frames.frameHeight,
                                    set.frameScale[index]);
    BitBlt(windowDC, copy.x, copy.y, copy.width, copy.height, frameDC, copy.sourceX, copy.sourceY,
           SRCCOPY);
}

static void DrawNextFrame(HWND window)
{
    HDC windowDC = GetDC(window);
    for (int p = 0; p < Frames.placementCount; ++p)
        if (Frames.placementSets[p] >= 0)
            DrawPlacedFrame(windowDC, Frames.placements[p], Frames.sets[Frames.placementSets[p]],
                            Frames.frameIndex);
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
    for (int s = 0; s < MONITOR_LIMIT; ++s) ReleaseFrameSet(&Frames.sets[s]);
    Frames.scales = ScaleSets{};
    Frames.placementCount = 0;
    HDC windowDC = GetDC(window);
    SelectPalette(windowDC, (HPALETTE)GetStockObject(DEFAULT_PALETTE), FALSE);
    ReleaseDC(window, windowDC);
    for (int i = 0; i < FRAME_COUNT; ++i) {
        if (Frames.framePalette[i]) DeleteObject(Frames.framePalette[i]);
        Frames.framePalette[i] = nullptr;
        Frames.frameDib[i] = nullptr;
    }
    if (Frames.timer) KillTimer(window, Frames.timer);
    Frames.timer = 0;
}

LRESULT WINAPI SaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        StartPlaying(window);
        break;
    case WM_TIMER:
        DrawNextFrame(window);
        break;
    case WM_ERASEBKGND:
        FillBackground(window);
        break;
    case WM_DISPLAYCHANGE:
        RelayOutFrames(window);
        break;
    case WM_DPICHANGED:
        RelayOutFrames(window);
        return 0;
    case WM_DESTROY:
        ReleaseFrames(window);
        break;
    }
    return SaverDefaultProc(window, message, wParam, lParam);
}
