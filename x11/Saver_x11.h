// The X11 back end: the process-wide state record shared by the command line
// and event loop (Main_x11.cpp), the monitors and their DPI (Monitors_x11.cpp)
// and the frame drawing (Frames_x11.cpp).
#pragma once

#include <X11/Xlib.h>
#include <stdint.h>

#include "linux/Saver_linux.h"

struct X11Saver {
    // The command line, with the window $XSCREENSAVER_WINDOW names as the
    // target where it applies.
    SaverOptions options;
    // The connection and the window drawn into.
    Display *display;
    Window window;
    bool ownWindow;
    Visual *visual;
    int depth;
    Atom deleteWindowAtom;
    int windowWidth, windowHeight;
    // RandR: whether the server has it (and with it a monitor list, from
    // 1.5 on), and the number its events start from.
    bool randr;
    bool randrMonitors;
    int randrEventBase;
    // Xft.dpi from the screen's resource database, 0 when it is not set.
    int resourceDpi;
    // The full-screen saver: the pointer hidden on it, where the pointer
    // started, and which grabs it holds.
    Cursor emptyCursor;
    PointerWatch pointer;
    bool keyboardGrabbed, pointerGrabbed;
    // Pixel values in the window's colormap for the background, then the
    // frames' two colour-table entries: allocated, or else the colormap's
    // nearest entries. Drawn with alphaBits set, so a depth-32 visual is opaque.
    Colormap colormap;
    unsigned long pixels[3];
    bool pixelAllocated[3];
    unsigned long alphaBits;
    // The player, and one frame set of server-side pixmaps per scale in use
    // (slot by slot, as SyncScaleSets keeps them), each as large as the part
    // of the frame that scale shows.
    LinuxPlayer player;
    GC gc;
    ScaleSets sets;
    Pixmap framePixmap[MONITOR_LIMIT][FRAME_COUNT];
    // Where each tick's frame goes: one place per monitor on the real root
    // and in the full-screen window, else one for the whole window.
    // placementSets holds each placement's frame set slot (-1: none).
    FramePlacement placements[MONITOR_LIMIT];
    int placementSets[MONITOR_LIMIT];
    int placementCount;
    // Set by the event handlers: the frames are laid out again (and the
    // sets built) before the next wait, outside any handler.
    bool layoutDirty;
    // An X error met while errors of one request are caught (see
    // CatchXErrors), else none.
    bool catchingErrors;
    unsigned char caughtError;
    // The window destroyed under us: the loop ends quietly. Once closing,
    // X errors are no longer looked at.
    bool windowGone;
    bool closing;
};

extern X11Saver Saver;

// Main_x11.cpp. The X errors of the requests made between CatchXErrors and
// CaughtXError are noted rather than reported: CaughtXError waits for the
// server's answer to all of them and returns the first error's code, 0 when
// there was none.
void CatchXErrors();
unsigned char CaughtXError();

// Monitors_x11.cpp
void ReadResourceDpi();
int ScreenDpi();
int ReadMonitors(MonitorArea *monitors);

// Frames_x11.cpp
void PrepareDrawing();
void ReleaseDrawing();
void RelayOutFrames();
void DrawWholeWindow();
void DrawNextFrame();
