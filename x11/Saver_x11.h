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
    // The embedded frames, and one set of server-side pixmaps of them per
    // scale in use (slot by slot, as SyncScaleSets keeps them), and the
    // player's position.
    const void *dibs[FRAME_COUNT];
    GC gc;
    ScaleSets sets;
    Pixmap framePixmap[MONITOR_LIMIT][FRAME_COUNT];
    int frameWidth, frameHeight;
    int frameIndex, direction;
    int shownIndex;               // frame last copied to the window, -1 before the first
    // Where each tick's frame goes: one place per monitor on the real root
    // and in the full-screen window, else one for the whole window.
    // placementSets holds each placement's frame set slot (-1: none).
    FramePlacement placements[MONITOR_LIMIT];
    int placementSets[MONITOR_LIMIT];
    int placementCount;
    // Why the loop ends, besides a stop signal: a key, a button, pointer
    // travel or a close request, the window destroyed, or another X error
    // (failed). Once closing, X errors are no longer looked at.
    bool stopRequested;
    bool windowGone;
    bool failed;
    bool closing;
};

extern X11Saver Saver;

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
