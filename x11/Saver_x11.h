// The X11 display mode: the process-wide state record shared by the command
// line and event loop (Main_x11.cpp) and the frame drawing (Frames_x11.cpp).
#pragma once

#include <X11/Xlib.h>
#include <stdint.h>

#include "linux/Saver_linux.h"

struct X11Saver {
    // From the command line and the environment.
    TargetKind target;
    Window targetWindow;          // for TARGET_WINDOW_ID
    // The connection and the window drawn into.
    Display *display;
    Window window;
    bool ownWindow;
    Visual *visual;
    int depth;
    Atom deleteWindowAtom;
    int windowWidth, windowHeight;
    // Pixel values in the window's colormap for the background, then the
    // frames' two colour-table entries: allocated, or else the colormap's
    // nearest entries. Drawn with alphaBits set, so a depth-32 visual is opaque.
    Colormap colormap;
    unsigned long pixels[3];
    bool pixelAllocated[3];
    unsigned long alphaBits;
    // The frames, uploaded once, and the player's position.
    GC gc;
    Pixmap framePixmap[FRAME_COUNT];
    int frameWidth, frameHeight;
    int frameIndex, direction;
    int shownIndex;               // frame last copied to the window, -1 before the first
    // Where each tick's frame goes: one place per monitor on the real root,
    // else one for the whole window.
    FramePlacement placements[MONITOR_LIMIT];
    int placementCount;
    // Why the loop ends, besides a stop signal: a key or close request, the
    // window destroyed, or another X error (failed). Once closing, X errors
    // are no longer looked at.
    bool stopRequested;
    bool windowGone;
    bool failed;
    bool closing;
};

extern X11Saver Saver;

// Frames_x11.cpp
bool LoadFramePixmaps();
void ReleaseFramePixmaps();
void PlaceFrames();
void DrawWholeWindow();
void DrawNextFrame();
